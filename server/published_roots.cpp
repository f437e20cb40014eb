#include "server/published_roots.h"

#include <sys/stat.h>

#include "server/manifest_signature.h"
#include "server/release_read.h"
#include "trust/root.h"

namespace mb::server {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kMaxVersionDigits = 9;
// More than agents read of a root (64 KiB): refused here already.
constexpr std::size_t kMaxRootBytes = std::size_t{64} * 1024;

std::time_t ModifiedTime(const fs::path& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mtim.tv_sec : 0;
}

// What agents would say of each root, walking from root 1.
void CheckChain(const std::map<int, PublishedRoot>& roots, std::vector<std::string>& warnings) {
  std::optional<trust::Root> before;
  int expected = 1;
  for (const auto& [version, root] : roots) {
    const std::string name = "keys/root." + std::to_string(version) + ".ini";
    if (version != expected) {
      warnings.push_back(name + " follows no root." + std::to_string(expected) +
                         ".ini: agents never reach it");
      return;
    }
    const trust::RootRead read = before ? trust::NextRoot(root.text, *before, ServerCrypto())
                                        : trust::PinnedRoot(root.text, ServerCrypto());
    if (!read.root) {
      warnings.push_back(name + ": " + read.problem + "; agents refuse it and every root after it");
      return;
    }
    before = read.root;
    ++expected;
  }
  if (before && !trust::Expired(*before, UtcNow()).empty())
    warnings.push_back("keys/root." + std::to_string(before->version) +
                       ".ini: " + trust::Expired(*before, UtcNow()) +
                       ": agents that reach it refuse every release; publish the next root");
}

}  // namespace

int RootVersion(std::string_view digits) {
  if (digits.empty() || digits.size() > kMaxVersionDigits || digits[0] == '0') return 0;
  int version = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    version = version * 10 + (c - '0');
  }
  return version;
}

int RootFileVersion(const std::string& name) {
  const std::string_view prefix = "root.", suffix = ".ini";
  if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return 0;
  return RootVersion(std::string_view(name).substr(
      prefix.size(), name.size() - prefix.size() - suffix.size()));
}

std::map<int, PublishedRoot> ReadPublishedRoots(const fs::path& keys_dir,
                                                std::vector<std::string>& warnings) {
  std::map<int, PublishedRoot> roots;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(keys_dir, ec)) {
    const int version = RootFileVersion(entry.path().filename().string());
    if (version == 0) continue;
    ReleaseText text = ReadReleaseText(entry.path());
    if (!text.bytes || text.bytes->size() > kMaxRootBytes) {
      warnings.push_back(entry.path().string() + ": " +
                         (text.bytes ? std::string("over 64 KiB") : text.refusal) +
                         "; not served");
      continue;
    }
    roots[version] = {std::move(*text.bytes), ModifiedTime(entry.path())};
  }
  CheckChain(roots, warnings);
  return roots;
}

}  // namespace mb::server
