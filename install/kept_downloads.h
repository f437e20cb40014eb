// How a component pass uses the scratch area (install/scratch_area.h): a
// listed file is taken from a verified copy when there is one with the
// manifest's digest, else fetched, going on after the bytes a cut transfer
// kept; a pass that fails sets its verified copies aside instead of
// deleting them. Only files with a digest take part: whatever is reused or
// pieced together is checked against it before it counts.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "install/arriving_digests.h"
#include "install/scratch_area.h"
#include "planning/file_record.h"
#include "platform/filesystem.h"
#include "platform/transfer_resume.h"

namespace mb {

// Whether the file at path has every digest the manifest gives for it.
using CopyFits = std::function<bool(const std::string& path)>;

// The digests of a file on disk, made as a download makes them; nothing when
// it cannot be read.
std::optional<FileDigests> DigestsOfFile(platform::FileSystem& fs, const std::string& path,
                                         platform::Crypto* sha256_from);

// What a planned pass asks for, for ForgetUnplanned.
std::vector<PlannedFile> PlannedFiles(const DownloadList& list);

// Puts a verified copy of r at update\Name, without fetching it: the copy
// already there (one an agent that was stopped left), else the one a failed
// pass set aside with r's digest. True when the copy there now fits.
bool ReuseVerifiedCopy(platform::FileSystem& fs, const std::string& update_dir, const FileRecord& r,
                       const CopyFits& fits);

// Moves update\Name, verified against r's digest in a pass that then
// failed, into the scratch area; false when it cannot (it is then deleted,
// as any copy of a failed pass is).
bool SetAside(platform::FileSystem& fs, const std::string& update_dir, int kind,
              const FileRecord& r);

// The partial download of one listed file: what a cut transfer of the same
// URL and digest kept, or a fresh start (anything else kept is removed, and
// so are kept bytes beyond `cap`, the most the file may hold).
// Its record is written when the body begins (the answer's validator and
// length) and removed once the file is complete.
class ResumableDownload : public platform::PartialKeeper {
 public:
  ResumableDownload(platform::FileSystem& fs, const std::string& update_dir, int kind,
                    const FileRecord& r, std::int64_t cap);
  // For DownloadOptions::partial; nullptr when the file cannot be resumed
  // (no digest, or no scratch area).
  const platform::PartialTransfer* Partial() const { return partial_ ? &*partial_ : nullptr; }
  bool Keep(const platform::BodyStart& start) override;
  // The download succeeded: the partial became the file; its record goes.
  void Done();

 private:
  platform::FileSystem& fs_;
  ScratchRecord base_;  // the record, but what the answer tells
  std::optional<platform::PartialTransfer> partial_;
};

}  // namespace mb
