#include "platform/posix/posix_profile_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/posix_path.h"

namespace mb::posix {

namespace {

using formats::CanWriteIniEntry;
using formats::IsIniSpace;
using formats::NormalizeIniName;
using formats::ProfileDocument;

FileStamp StampOf(const struct stat& st) {
  FileStamp s;
  s.device = static_cast<std::uint64_t>(st.st_dev);
  s.inode = static_cast<std::uint64_t>(st.st_ino);
  s.size = static_cast<std::int64_t>(st.st_size);
  s.mtime_sec = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  s.mtime_nsec = static_cast<std::int64_t>(st.st_mtim.tv_nsec);
  s.ctime_sec = static_cast<std::int64_t>(st.st_ctim.tv_sec);
  s.ctime_nsec = static_cast<std::int64_t>(st.st_ctim.tv_nsec);
  return s;
}

std::string DirOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ReadWhole(const std::string& path, std::string& bytes, FileStamp& stamp) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) {
    stamp = StampOf(st);
    bytes.clear();
    bytes.reserve(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)));
    char chunk[65536];
    for (;;) {
      const ssize_t n = read(fd, chunk, sizeof chunk);
      if (n > 0) bytes.append(chunk, static_cast<std::size_t>(n));
      if (n == 0) break;
      if (n < 0 && errno != EINTR) {
        ok = false;
        break;
      }
    }
  }
  close(fd);
  return ok;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// A symbolic link is kept: its target is what gets replaced.
std::string ResolveLink(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string out(real);
  std::free(real);
  return out;
}

// A hidden temporary file beside `target`, created with the usual 0666 less
// umask so a new file gets the permissions any other program would give it.
int CreateTemp(const std::string& target, std::string& temp) {
  static std::atomic<unsigned> counter{0};
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash);
  const std::string base = target.substr(slash == std::string::npos ? 0 : slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = dir + "/." + base.substr(0, 100) + ".tmp-" + std::to_string(getpid()) + "-" +
           std::to_string(counter++);
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

void SyncDirectory(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Replaces `path` by `bytes` so that a crash leaves either the old or the new
// file, never half of one; an existing file keeps its permission bits.
bool WriteAtomically(const std::string& path, std::string_view bytes,
                     std::optional<FileStamp>& stamp) {
  const std::string target = ResolveLink(path);
  struct stat old {};
  const bool existed = stat(target.c_str(), &old) == 0;
  std::string temp;
  const int fd = CreateTemp(target, temp);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes);
  if (ok && existed) ok = fchmod(fd, old.st_mode & 07777) == 0;
  if (ok) ok = fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  SyncDirectory(DirOf(target));
  struct stat now {};
  stamp.reset();  // unknown stamp: the next read parses the file again
  if (stat(path.c_str(), &now) == 0) stamp = StampOf(now);
  return true;
}

std::string_view CutAtNul(std::string_view s) { return s.substr(0, s.find('\0')); }

// Wine drops trailing spaces of the default before using it.
std::string_view DefaultValue(const std::string& def) {
  std::string_view v = CutAtNul(def);
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  return v;
}

// The value written, as WritePrivateProfileString stores it: without leading
// blanks (Wine).
std::string_view StoredValue(const std::string& value) {
  std::string_view v = CutAtNul(value);
  while (!v.empty() && IsIniSpace(v.front())) v.remove_prefix(1);
  return v;
}

std::string_view StripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

std::uint32_t CopyOut(std::string_view v, char* buf, std::uint32_t size) {
  const std::size_t n = std::min<std::size_t>(v.size(), size - 1);
  std::memcpy(buf, v.data(), n);
  buf[n] = '\0';
  return static_cast<std::uint32_t>(n);
}

}  // namespace

PosixProfileStore::~PosixProfileStore() {
  std::lock_guard<std::mutex> lock(mutex_);
  FlushAll();
}

std::uint32_t PosixProfileStore::GetString(const std::string& section, const std::string& key,
                                           const std::string& def, char* buf, std::uint32_t size,
                                           const std::string& file) {
  if (buf == nullptr || size == 0) return 0;
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string_view result = DefaultValue(def);
    const std::string_view sec = NormalizeIniName(section);
    const std::string_view name = NormalizeIniName(key);
    const std::string path = ToPosixPath(file);
    CachedFile* cached = nullptr;
    if (!sec.empty() && !name.empty() && !path.empty() &&
        Load(path, Use::kRead, cached) != LoadResult::kFailed) {
      std::string_view found;
      if (cached->doc->Find(sec, name, found)) result = found;
    }
    const std::uint32_t copied = CopyOut(StripQuotes(result), buf, size);
    if (cached != nullptr && batch_depth_ == 0) ForgetIfUntrusted(path);
    return copied;
  } catch (const std::exception&) {
    return CopyOut(StripQuotes(DefaultValue(def)), buf, size);
  }
}

bool PosixProfileStore::WriteString(const std::string& section, const std::string& key,
                                    const std::string& value, const std::string& file) {
  const std::string_view sec = NormalizeIniName(section);
  const std::string_view name = NormalizeIniName(key);
  const std::string_view stored = StoredValue(value);
  if (!CanWriteIniEntry(sec, name, stored) || file.empty()) return false;
  std::string path;
  try {
    path = ToPosixPath(file);
    std::lock_guard<std::mutex> lock(mutex_);
    CachedFile* cached = nullptr;
    const LoadResult loaded = Load(path, Use::kWrite, cached);
    if (loaded == LoadResult::kFailed) return false;
    // The file is created, its folder is not.
    if (loaded == LoadResult::kMissing && !IsDirectory(DirOf(path))) return false;
    const ProfileDocument::SetResult set = cached->doc->Set(sec, name, stored);
    if (set == ProfileDocument::SetResult::kTooLarge) return false;
    if (set == ProfileDocument::SetResult::kUnchanged) return true;
    if (batch_depth_ > 0) {
      cached->dirty = true;
      return true;
    }
    if (Flush(path, *cached)) return true;
    cache_.erase(path);  // the copy in memory no longer matches the disk
    return false;
  } catch (const std::exception&) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!path.empty()) cache_.erase(path);
    return false;
  }
}

void PosixProfileStore::BeginBatch() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (batch_depth_++ == 0) ++batch_number_;
}

void PosixProfileStore::EndBatch() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (batch_depth_ == 0) return;
  if (--batch_depth_ != 0) return;
  FlushAll();
  for (auto it = cache_.begin(); it != cache_.end();) {
    it = Trusted(it->second) ? std::next(it) : cache_.erase(it);
  }
}

std::size_t PosixProfileStore::CachedFileCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cache_.size();
}

bool PosixProfileStore::Trusted(const CachedFile& file) {
  return file.dirty || (file.stamp && file.settled);
}

void PosixProfileStore::ForgetIfUntrusted(const std::string& path) {
  const auto it = cache_.find(path);
  if (it != cache_.end() && !Trusted(it->second)) cache_.erase(it);
}

PosixProfileStore::LoadResult PosixProfileStore::Load(const std::string& path, Use use,
                                                      CachedFile*& file) {
  const auto it = cache_.find(path);
  // A copy changed in a batch is ours until the batch puts it on disk.
  if (it != cache_.end() && it->second.dirty) {
    file = &it->second;
    return LoadResult::kLoaded;
  }
  const bool in_batch = batch_depth_ > 0;
  if (use == Use::kRead && in_batch && it != cache_.end() &&
      it->second.checked_in_batch == batch_number_) {
    file = &it->second;
    return file->stamp ? LoadResult::kLoaded : LoadResult::kMissing;
  }
  const LoadResult result = LoadFromDisk(path, file);
  if (result != LoadResult::kFailed) file->checked_in_batch = in_batch ? batch_number_ : 0;
  return result;
}

PosixProfileStore::LoadResult PosixProfileStore::LoadFromDisk(const std::string& path,
                                                              CachedFile*& file) {
  const auto it = cache_.find(path);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) return LoadResult::kFailed;
    CachedFile& entry = cache_[path];
    entry.doc = std::make_unique<ProfileDocument>();
    entry.stamp.reset();
    file = &entry;
    return LoadResult::kMissing;
  }
  if (!S_ISREG(st.st_mode)) return LoadResult::kFailed;
  const CachedFile* known = it == cache_.end() ? nullptr : &it->second;
  if (known != nullptr && known->settled && known->stamp == StampOf(st)) {
    file = &it->second;
    return LoadResult::kLoaded;
  }
  std::string bytes;
  FileStamp stamp;
  if (!ReadWhole(path, bytes, stamp) || bytes.size() > ProfileDocument::kMaxBytes) {
    cache_.erase(path);
    return LoadResult::kFailed;
  }
  CachedFile& entry = cache_[path];
  entry.doc = std::make_unique<ProfileDocument>(std::move(bytes));
  entry.stamp = stamp;
  entry.dirty = false;
  entry.settled = Settled(stamp);
  file = &entry;
  return LoadResult::kLoaded;
}

bool PosixProfileStore::Flush(const std::string& path, CachedFile& file) {
  if (!WriteAtomically(path, file.doc->Serialize(), file.stamp)) return false;
  file.dirty = false;
  file.settled = true;  // we know exactly what the new file holds
  return true;
}

bool PosixProfileStore::Settled(const FileStamp& stamp) const {
  // File times are on the system clock's scale (the Unix epoch).
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto changed =
      std::chrono::seconds(stamp.ctime_sec) + std::chrono::nanoseconds(stamp.ctime_nsec);
  return now - changed >= settle_time_;
}

void PosixProfileStore::FlushAll() {
  std::vector<std::string> failed;
  for (auto& [path, file] : cache_) {
    bool ok = true;
    try {
      ok = !file.dirty || Flush(path, file);
    } catch (const std::exception&) {
      ok = false;
    }
    if (!ok) failed.push_back(path);
  }
  for (const std::string& path : failed) cache_.erase(path);
}

}  // namespace mb::posix
