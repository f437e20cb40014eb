#include "install/kept_downloads.h"

#include <exception>

namespace mb {
namespace {

bool MakeScratchDir(platform::FileSystem& fs, const std::string& update_dir) {
  try {
    const std::string dir = ScratchDir(update_dir);
    if (!fs.Exists(dir)) fs.CreateDirectory(dir);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// The length of the file `name` in `dir`, if it is there.
std::optional<std::int64_t> FileSize(platform::FileSystem& fs, const std::string& dir,
                                     const std::string& name) {
  try {
    for (const platform::FolderEntry& e : fs.ListFolder(dir))
      if (e.is_file && e.name == name) return e.size;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

void RemoveIfThere(platform::FileSystem& fs, const std::string& path) {
  try {
    if (fs.Exists(path)) fs.DeleteFile(path);
  } catch (const std::exception&) {
    // a leftover the next run's clearing removes
  }
}

std::string LocalPath(const std::string& update_dir, const FileRecord& r) {
  return update_dir + "\\" + r.Name;
}

// The copy a failed pass set aside, moved back to update\Name.
bool TakeBackKept(platform::FileSystem& fs, const std::string& update_dir, const FileRecord& r) {
  const std::string kept = KeptPath(update_dir, r.Name);
  const std::optional<ScratchRecord> record = ReadRecord(fs, kept);
  if (!record || record->digest != r.Hash || !fs.IsOrdinaryFile(kept)) return false;
  fs.Rename(kept, LocalPath(update_dir, r));
  RemoveIfThere(fs, RecordPath(kept));
  return true;
}

}  // namespace

std::vector<PlannedFile> PlannedFiles(const DownloadList& list) {
  std::vector<PlannedFile> plan;
  for (const FileRecord& r : list) plan.push_back({r.Name, r.DownloadUrl, r.Hash});
  return plan;
}

std::optional<FileDigests> DigestsOfFile(platform::FileSystem& fs, const std::string& path,
                                         platform::Crypto* sha256_from) {
  try {
    ArrivingDigests digests(sha256_from);
    platform::ReplayInto(*fs.OpenRead(path), digests);
    return digests.Finish();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool ReuseVerifiedCopy(platform::FileSystem& fs, const std::string& update_dir,
                       const FileRecord& r, const CopyFits& fits) {
  if (r.Hash.empty()) return false;
  const std::string local = LocalPath(update_dir, r);
  try {
    if (fs.IsOrdinaryFile(local) && fits(local)) return true;
    return TakeBackKept(fs, update_dir, r) && fits(local);
  } catch (const std::exception&) {
    return false;  // fetched as if there were no copy
  }
}

bool SetAside(platform::FileSystem& fs, const std::string& update_dir, int kind,
              const FileRecord& r) {
  if (r.Hash.empty() || !MakeScratchDir(fs, update_dir)) return false;
  const std::optional<std::int64_t> size = FileSize(fs, update_dir, r.Name);
  const std::string kept = KeptPath(update_dir, r.Name);
  // The record first: a copy never stands in the area without one.
  if (!size || !WriteRecord(fs, kept, {kind, "", r.Hash, "", *size})) return false;
  try {
    fs.Rename(LocalPath(update_dir, r), kept);
    return true;
  } catch (const std::exception&) {
    RemoveIfThere(fs, RecordPath(kept));
    return false;
  }
}

ResumableDownload::ResumableDownload(platform::FileSystem& fs, const std::string& update_dir,
                                     int kind, const FileRecord& r, std::int64_t cap)
    : fs_(fs), base_{kind, r.DownloadUrl, r.Hash, "", -1} {
  if (r.Hash.empty() || !MakeScratchDir(fs, update_dir)) return;
  platform::PartialTransfer p;
  p.path = PartialPath(update_dir, r.Name);
  p.keeper = this;
  const std::optional<ScratchRecord> record = ReadRecord(fs, p.path);
  const std::optional<std::int64_t> size =
      FileSize(fs, ScratchDir(update_dir), r.Name + std::string(kPartialSuffix));
  // Bytes of another URL or digest are not taken up: the download starts
  // the file over and writes its own record.
  if (record && size && *size <= cap && record->kind == kind && record->url == r.DownloadUrl &&
      record->digest == r.Hash) {
    p.size = *size;
    p.validator = record->validator;
    p.total = record->total;
  }
  partial_ = p;
}

bool ResumableDownload::Keep(const platform::BodyStart& start) {
  if (start.plan == platform::BodyStart::Plan::kAppend) return true;
  if (start.validator.empty()) {
    // Bytes that could not be asked for again are dropped if the transfer
    // is cut; without a record, so are they after a crash.
    RemoveIfThere(fs_, RecordPath(partial_->path));
    return true;
  }
  ScratchRecord record = base_;
  record.validator = start.validator;
  record.total = start.total;
  return WriteRecord(fs_, partial_->path, record);
}

void ResumableDownload::Done() {
  if (partial_) RemoveIfThere(fs_, RecordPath(partial_->path));
}

}  // namespace mb
