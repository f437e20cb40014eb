// The update folder's own scratch area, "update\.scratch": what lets a cut
// download go on, and a failed pass's verified copies wait for the next one.
// No name there means anything to the agent's design or to the updater, and
// no file of a release may begin with a dot, so the folder never meets one.
//   NAME.part      the bytes so far of a download of the file NAME
//   NAME.kept      a copy of NAME that a pass verified before it failed
//   X.rec          what X is: the component, the URL, the manifest's digest,
//                  and for a partial the answer's validator and whole length
// A partial or kept file lives only with its record, as long as the
// component's manifest names the file with the same digest (and, for a
// partial, the same URL), for a day at most, and within one release file's
// cap for the whole area; anything else there is a leftover (ScratchLeftovers
// and ForgottenByPlan decide, ClearScratchArea and ForgetUnplanned remove).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mb {

namespace platform {
class FileSystem;
}

inline constexpr std::string_view kScratchFolder = ".scratch";
inline constexpr std::string_view kPartialSuffix = ".part";
inline constexpr std::string_view kKeptSuffix = ".kept";
inline constexpr std::string_view kRecordSuffix = ".rec";
// Older than this (since last written), a partial or kept file is dropped.
inline constexpr std::int64_t kScratchMaxAgeSeconds = std::int64_t{24} * 60 * 60;

std::string ScratchDir(const std::string& update_dir);
std::string PartialPath(const std::string& update_dir, const std::string& name);
std::string KeptPath(const std::string& update_dir, const std::string& name);
std::string RecordPath(const std::string& path);

struct ScratchRecord {
  int kind = -1;            // the component (ComponentKind)
  std::string url;          // a partial's download URL; empty for a kept copy
  std::string digest;       // the manifest's HASH the file is checked against
  std::string validator;    // a partial's: the answer's ETag or Last-Modified
  std::int64_t total = -1;  // a partial: the answer's whole length; a kept copy: its size
};

// One "key=value" line each; nothing when a line is missing, unknown or
// malformed (a record half written by a crash).
std::string FormatRecord(const ScratchRecord& record);
std::optional<ScratchRecord> ParseRecord(std::string_view text);

// A file of the scratch area, as the folder lists it.
struct ScratchFile {
  std::string name;
  std::int64_t size = 0;
  std::int64_t age_seconds = 0;
};

using RecordReader = std::function<std::optional<ScratchRecord>(const std::string& name)>;

// What to remove at any run, a crash's leftovers included: names that are
// no partial, kept copy or record (a record being written when it stopped);
// a partial or kept copy without a readable record, and a record without
// its file; pairs older than a day; a partial longer than its whole answer
// or a kept copy of another size than was verified; then, oldest first,
// pairs until the area holds at most cap_bytes.
std::vector<std::string> ScratchLeftovers(const std::vector<ScratchFile>& files,
                                          const RecordReader& record_of, std::int64_t cap_bytes);

// What one file of a planned pass asks for.
struct PlannedFile {
  std::string name;
  std::string url;
  std::string digest;
};

// The pairs of component `kind` that the pass's plan does not ask for: a
// name it does not list, another digest, or (a partial) another URL.
std::vector<std::string> ForgottenByPlan(const std::vector<ScratchFile>& files,
                                         const RecordReader& record_of, int kind,
                                         const std::vector<PlannedFile>& plan);

// --- On disk. Failures are ignored: what cannot be read or removed now is
// judged again at the next run.

// Removes the area's leftovers (ScratchLeftovers), at the end of every run.
void ClearScratchArea(platform::FileSystem& fs, const std::string& update_dir,
                      std::int64_t cap_bytes);
// Removes the pairs of component `kind` its planned pass does not ask for.
void ForgetUnplanned(platform::FileSystem& fs, const std::string& update_dir, int kind,
                     const std::vector<PlannedFile>& plan);
// The record of a partial or kept file (its path), if it can be read.
std::optional<ScratchRecord> ReadRecord(platform::FileSystem& fs, const std::string& data_path);
// Writes the record through a temporary name; false when it cannot.
bool WriteRecord(platform::FileSystem& fs, const std::string& data_path,
                 const ScratchRecord& record);

}  // namespace mb
