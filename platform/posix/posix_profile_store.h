// Private-profile (INI) files for the POSIX build, with the behaviour of
// GetPrivateProfileStringA / WritePrivateProfileStringA (rules in
// profile_document.h). Each file is parsed once and kept; before a cached
// copy is used its stamp (device, inode, size, mtime and ctime to the
// nanosecond) is compared with the file on disk, so a file another program
// rewrote is read again. File times come from a coarse clock (and some file
// systems keep them in 2 s steps), so a file changed shortly before we read
// it could change again without its stamp moving: such a copy is not trusted
// until the file has settled (Wine likewise does not cache young files).
// Files are replaced atomically (temporary file beside, then rename)
// keeping their permission bits.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "formats/profile_document.h"
#include "platform/profile.h"

namespace mb::posix {

// Identity and version of a file on disk.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t mtime_sec = 0;
  std::int64_t mtime_nsec = 0;
  std::int64_t ctime_sec = 0;
  std::int64_t ctime_nsec = 0;
  bool operator==(const FileStamp&) const = default;
};

class PosixProfileStore final : public platform::ProfileStore {
 public:
  explicit PosixProfileStore(std::chrono::milliseconds settle_time = std::chrono::seconds(2))
      : settle_time_(settle_time) {}
  // Puts a batch left open on disk rather than losing it.
  ~PosixProfileStore() override;
  PosixProfileStore(const PosixProfileStore&) = delete;
  PosixProfileStore& operator=(const PosixProfileStore&) = delete;

  std::uint32_t GetString(const std::string& section, const std::string& key,
                          const std::string& def, char* buf, std::uint32_t size,
                          const std::string& file) override;
  // False for a missing directory, an unreadable or unwritable file, and for
  // names or values that would not read back as written (line breaks, a key
  // holding "=" or starting with "[" or ";", empty names).
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override;
  // Inside a batch writes change only the cached copies; the outermost
  // EndBatch writes every changed file once. A file is also checked against
  // the disk only once per batch: later reads in the batch use that copy, so
  // an operation reading thousands of values from a file just downloaded
  // (too young for its stamp to prove anything) parses it once, not per read.
  // Writes still look at the disk first.
  void BeginBatch() override;
  void EndBatch() override;

  // Copies held in memory. A copy that a later read could not use (a file
  // too young to trust its stamp, a missing file) is dropped once no batch
  // needs it: a manifest read for a plan and deleted after it does not stay.
  std::size_t CachedFileCount() const;

 private:
  struct CachedFile {
    std::unique_ptr<formats::ProfileDocument> doc;
    std::optional<FileStamp> stamp;      // empty: the file did not exist
    bool dirty = false;                  // changed in a batch, not yet on disk
    bool settled = false;                // the stamp alone proves the copy current
    std::uint64_t checked_in_batch = 0;  // the batch that last checked it, 0: none
  };
  enum class LoadResult { kLoaded, kMissing, kFailed };

  // A read may use the copy this batch already checked; a write looks at
  // the disk again, so it keeps what another program added meanwhile.
  enum class Use { kRead, kWrite };
  LoadResult Load(const std::string& path, Use use, CachedFile*& file);
  LoadResult LoadFromDisk(const std::string& path, CachedFile*& file);
  bool Flush(const std::string& path, CachedFile& file);
  void FlushAll();
  bool Settled(const FileStamp& stamp) const;
  static bool Trusted(const CachedFile& file);
  void ForgetIfUntrusted(const std::string& path);

  mutable std::mutex mutex_;
  std::unordered_map<std::string, CachedFile> cache_;
  int batch_depth_ = 0;
  std::uint64_t batch_number_ = 0;  // counts outermost batches
  std::chrono::milliseconds settle_time_;
};

}  // namespace mb::posix
