#include "server/export_release.h"

#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

#include "server/export_files.h"
#include "server/nginx_config.h"

namespace mb::server {
namespace fs = std::filesystem;
namespace {

// 2^8 spellings at most for a label's letters.
constexpr int kMaxLabelLetters = 8;

int Letters(const std::string& label) {
  int n = 0;
  for (char c : label) n += (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return n;
}

// "ORG/express" stays; "ORG/outlook/2003" becomes "ORG/outlook/v/2003".
fs::path ComponentDir(const std::string& key, std::string* label) {
  std::size_t second = key.find('/', key.find('/') + 1);
  if (second == std::string::npos) return key;
  *label = key.substr(second + 1);
  return fs::path(key.substr(0, second)) / "v" / *label;
}

// Every spelling of the label's letters but its own (it is lower case).
std::vector<std::string> OtherSpellings(const std::string& label) {
  std::vector<std::string> spellings = {label};
  for (std::size_t i = 0; i < label.size(); ++i) {
    if (label[i] < 'a' || label[i] > 'z') continue;
    std::size_t n = spellings.size();
    for (std::size_t k = 0; k < n; ++k) {
      std::string upper = spellings[k];
      upper[i] = static_cast<char>(upper[i] - 'a' + 'A');
      spellings.push_back(upper);
    }
  }
  spellings.erase(spellings.begin());
  return spellings;
}

// A release file copied from the bytes the snapshot took its digest of.
void WriteReleaseFile(const fs::path& path, const Answer& answer) {
  const PublishedBytes& bytes = *answer.file;
  WriteNewFile(path, answer.last_modified, [&](const Sink& sink) {
    std::vector<char> buffer(std::size_t{256} * 1024);
    for (std::uint64_t at = 0; at < bytes.Size();) {
      ssize_t n = bytes.Read(at, buffer.data(), buffer.size());
      if (n <= 0) throw std::runtime_error("cannot read a release file");
      sink(buffer.data(), static_cast<std::size_t>(n));
      at += static_cast<std::uint64_t>(n);
    }
    if (!bytes.Unchanged())
      throw std::runtime_error("a release file changed while it was exported; try again");
  });
}

void WriteAnswer(const fs::path& path, const Answer& answer) {
  MakeExportFolder(path.parent_path());
  if (answer.file)
    WriteReleaseFile(path, answer);
  else
    WriteNewFile(path, answer.body, answer.last_modified);
}

int WriteComponent(const fs::path& root, const std::string& key, const ComponentRelease& c) {
  std::string label;
  fs::path dir = root / ComponentDir(key, &label);
  WriteAnswer(dir / "manifest.txt", c.manifest);
  for (const auto& [program, answer] : c.files)
    WriteAnswer(dir / ExportedProgramPath(program), answer);
  for (const std::string& spelling : OtherSpellings(label)) {
    fs::path link = dir.parent_path() / spelling;
    if (symlink(label.c_str(), link.c_str()) != 0)
      throw std::runtime_error("cannot make the link " + link.string());
  }
  return 1 + static_cast<int>(c.files.size());
}

}  // namespace

std::optional<std::string> ExportProblem(const ReleaseSnapshot& release) {
  if (release.Pause().status != 200) return "pause.txt cannot be published (see the warnings)";
  for (const auto& [key, component] : release.Components()) {
    if (component.manifest.status != 200) return key + " cannot be published (see the warnings)";
    std::string label;
    ComponentDir(key, &label);
    if (Letters(label) > kMaxLabelLetters)
      return key + ": a version folder's name may hold at most " +
             std::to_string(kMaxLabelLetters) + " letters for the static export";
    for (const auto& [program, answer] : component.files)
      if (program.size() > kProgramSegment * kProgramSegments)
        return key + ": a file name too long for the static export";
  }
  return std::nullopt;
}

int WriteExportedRelease(const ReleaseSnapshot& release, const fs::path& dir) {
  MakeExportFolder(dir.parent_path());
  // A fresh folder of its own: nothing can have been planted in it.
  if (mkdir(dir.c_str(), 0755) != 0 || chmod(dir.c_str(), 0755) != 0)
    throw std::runtime_error("cannot make " + dir.string());
  WriteAnswer(dir / "pause.txt", release.Pause());
  int written = 1;
  for (const auto& [folder, notice] : release.Notices()) {
    WriteAnswer(dir / "notice" / (folder + ".txt"), notice);
    ++written;
  }
  for (const auto& [key, component] : release.Components())
    written += WriteComponent(dir, key, component);
  for (const auto& [version, root] : release.Roots()) {
    WriteAnswer(dir / "root" / (std::to_string(version) + ".txt"), root);
    ++written;
  }
  return written;
}

}  // namespace mb::server
