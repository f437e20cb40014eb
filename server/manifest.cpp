#include "server/manifest.h"

#include <utility>
#include <vector>

#include "rules/fleet_settings.h"

namespace mb::server {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

// One section in ANSI; nothing when a value has no form in the code page.
std::optional<std::string> Section(const std::string& name, const Entries& entries,
                                   const AnsiCodePage& cp) {
  std::string out = "[" + name + "]\r\n";
  for (const auto& [key, value] : entries) {
    std::optional<std::string> ansi = cp.FromUtf8(value);
    if (!ansi) return std::nullopt;
    out += key + "=" + *ansi + "\r\n";
  }
  return out;
}

}  // namespace

std::optional<std::string> ManifestFileSection(int index, const PublishedFile& f,
                                               const std::string& hash, const AnsiCodePage& cp,
                                               const std::string& sha256,
                                               std::optional<std::uint64_t> length) {
  Entries entries = {{"NAME", f.name},
                     {"VERSION", f.version},
                     {"ORG_NAME", f.org_name},
                     {"TARGET_DIR", f.target_dir},
                     {"SELF_REGISTER", f.self_register},
                     {"HASH", hash}};
  if (!sha256.empty()) entries.emplace_back("SHA256", sha256);
  if (length) entries.emplace_back("LENGTH", std::to_string(*length));
  std::optional<std::string> section = Section("FILE_" + std::to_string(index), entries, cp);
  if (!section) return std::nullopt;
  return "\r\n" + *section;
}

std::optional<std::string> ManifestHead(int total_files, const std::string& last_version,
                                        std::optional<int> rollout, const AnsiCodePage& cp) {
  Entries entries{{"TOTAL_FILES", std::to_string(total_files)}, {"LAST_VERSION", last_version}};
  if (rollout) entries.emplace_back("ROLLOUT", std::to_string(*rollout));
  return Section("DOWNLOAD", entries, cp);
}

std::vector<std::string> ValuesAgentsWouldCut(const PublishedFile& f, const AnsiCodePage& cp) {
  std::vector<std::string> problems;
  for (const auto& [key, value] : Entries{
           {"NAME", f.name}, {"VERSION", f.version}, {"ORG_NAME", f.org_name},
           {"TARGET_DIR", f.target_dir}}) {
    const std::optional<std::string> ansi = cp.FromUtf8(value);
    if (!ansi || ansi->size() <= kMaxIniValueBytes) continue;
    problems.push_back(f.name.substr(0, 64) + ": " + key + " is " + std::to_string(ansi->size()) +
                       " bytes in code page " + std::to_string(cp.Number()) +
                       "; agents and the updater read " + std::to_string(kMaxIniValueBytes) +
                       " at most and would cut it (the file would go elsewhere)");
  }
  return problems;
}

RolloutSetting ParseRollout(const std::optional<std::string>& value) {
  if (!value) return {};
  if (const std::optional<int> percent = fleet::RolloutShare(*value)) return {percent, ""};
  // Agents would read it as 100: the release would go to everyone at once.
  return {std::nullopt, "[RELEASE] ROLLOUT=" + *value +
                            " is not a whole number from 0 to 100 (agents would take it as 100)"};
}

}  // namespace mb::server
