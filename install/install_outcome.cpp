#include "install/install_outcome.h"

#include <cstdint>
#include <exception>

#include "agent/agent_state.h"
#include "install/pending_list.h"
#include "planning/ini_formats.h"
#include "rules/agent_files.h"

namespace mb {
namespace {

constexpr const char* kFromKey = "FROM";
constexpr const char* kReleaseKey = "RELEASE";
constexpr const char* kResultKey = "RESULT";
constexpr const char* kReasonKey = "REASON";
constexpr const char* kFileKey = "FILE";
constexpr const char* kTimeKey = "TIME";

}  // namespace

std::string OutcomePath(const std::string& update_dir) {
  return update_dir + "\\" + files::kInstallOutcome;
}

bool WriteOutcomes(platform::ProfileStore& profiles, platform::FileSystem& fs,
                   const platform::CodePage& codepage, const std::string& update_dir,
                   const std::vector<ComponentOutcome>& outcomes) {
  const std::string path = OutcomePath(update_dir);
  bool ok = true;
  try {
    if (fs.Exists(path)) fs.DeleteFile(path);  // an earlier hand-off's
  } catch (const std::exception&) {
    ok = false;
  }
  platform::ProfileBatch batch(profiles);
  for (const ComponentOutcome& o : outcomes) {
    auto put = [&](const char* key, const std::string& ansi) {
      if (!ansi.empty()) ok = profiles.WriteString(o.section, key, ansi, path) && ok;
    };
    put(kFromKey, o.from);
    put(kReleaseKey, o.release);
    put(kResultKey, o.result);
    put(kReasonKey, o.reason);
    put(kFileKey, codepage.ToAnsi(o.file));
    put(kTimeKey, o.time);
  }
  return ok;
}

std::vector<ComponentOutcome> TakeOutcomes(platform::ProfileStore& profiles,
                                           platform::FileSystem& fs,
                                           const platform::CodePage& codepage,
                                           const std::string& update_dir) {
  std::vector<ComponentOutcome> outcomes;
  const std::string path = OutcomePath(update_dir);
  if (!fs.IsOrdinaryFile(path)) return outcomes;
  for (std::int16_t kind = kOutlookAddin; kind <= kAgentComponent; ++kind) {
    const std::string section = ini::NamesFor(kind)->ComponentSection;
    auto get = [&](const char* key) { return ReadProfileValue(profiles, section, key, path); };
    ComponentOutcome o{section,         get(kFromKey),   get(kReleaseKey),
                       get(kResultKey), get(kReasonKey), codepage.FromAnsi(get(kFileKey)),
                       get(kTimeKey)};
    if (!o.result.empty()) outcomes.push_back(std::move(o));
  }
  try {
    fs.DeleteFile(path);
  } catch (const std::exception&) {
    // Seen again at the next start: an outcome twice is better than none.
  }
  return outcomes;
}

}  // namespace mb
