#include "updater/file_placement.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "support/error.h"

namespace mb::updater {
namespace {

constexpr std::size_t kCompareChunk = 1 << 16;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Fills buf as far as the file allows; fewer bytes only at its end.
std::size_t ReadFull(platform::InputFile& in, std::vector<char>& buf) {
  std::size_t got = 0;
  while (got < buf.size()) {
    const std::size_t n = in.Read(buf.data() + got, buf.size() - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

void CreateOneDirectory(platform::FileSystem& fs, const std::string& dir) {
  if (fs.Exists(dir)) return;
  try {
    fs.CreateDirectory(dir);
  } catch (const Error&) {
    if (!fs.Exists(dir)) throw;  // made meanwhile by someone else: fine
  }
}

}  // namespace

bool SameContents(platform::FileSystem& fs, const std::string& a, const std::string& b) {
  std::unique_ptr<platform::InputFile> in_a = fs.OpenRead(a);
  std::unique_ptr<platform::InputFile> in_b = fs.OpenRead(b);
  std::vector<char> buf_a(kCompareChunk);
  std::vector<char> buf_b(kCompareChunk);
  while (true) {
    const std::size_t n = ReadFull(*in_a, buf_a);
    if (ReadFull(*in_b, buf_b) != n) return false;
    if (!std::equal(buf_a.begin(), buf_a.begin() + static_cast<std::ptrdiff_t>(n), buf_b.begin())) {
      return false;
    }
    if (n < kCompareChunk) return true;
  }
}

void CreateDirectories(platform::FileSystem& fs, const std::string& dir) {
  const auto root = fs.RootLength(dir);
  if (!root) throw Error(kErrNotAbsoluteFolder, "not an absolute folder: " + dir);
  for (std::size_t i = *root + 1; i <= dir.size(); ++i) {
    if (i < dir.size() && !IsSeparator(dir[i])) continue;
    const std::string prefix = dir.substr(0, i);
    if (IsSeparator(prefix.back())) continue;
    CreateOneDirectory(fs, prefix);
  }
}

}  // namespace mb::updater
