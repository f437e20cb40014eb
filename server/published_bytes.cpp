#include "server/published_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "server/manifest_signature.h"
#include "server/release_read.h"
#include "support/md5.h"
#include "trust/encoding.h"

namespace mb::server {
namespace {

bool Same(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

std::shared_ptr<const PublishedBytes> PublishedBytes::Open(const std::filesystem::path& path,
                                                           std::uint64_t& memory_budget,
                                                           std::string& why, bool with_sha256) {
  OpenedReleaseFile opened = OpenReleaseFile(path);
  why = opened.missing ? "the file is gone" : opened.refusal;
  if (opened.fd.Get() < 0) return nullptr;
  std::shared_ptr<PublishedBytes> bytes(new PublishedBytes(opened.fd.Release()));
  why = "the file cannot be read";
  struct stat before {};
  if (fstat(bytes->fd_, &before) != 0) return nullptr;
  bytes->mtime_ = before.st_mtim;
  bytes->ctime_ = before.st_ctim;
  auto size = static_cast<std::uint64_t>(before.st_size);
  bool hold = size <= kHeldFileBytes && size <= memory_budget;
  if (!bytes->ReadAndDigest(hold, with_sha256)) return nullptr;
  // Written while it was read: the digest may mix old and new bytes.
  if (!bytes->StampsMatchNow()) {
    why = "the file changed while it was read";
    return nullptr;
  }
  if (hold) {
    memory_budget -= bytes->size_;
    bytes->held_ = true;
    close(bytes->fd_);
    bytes->fd_ = -1;
  }
  return bytes;
}

bool PublishedBytes::ReadAndDigest(bool hold, bool with_sha256) {
  Md5 md5;
  std::unique_ptr<platform::Sha256> sha = with_sha256 ? ServerCrypto().NewSha256() : nullptr;
  std::vector<char> buffer(std::size_t{256} * 1024);
  std::uint64_t offset = 0;
  for (;;) {
    ssize_t n = pread(fd_, buffer.data(), buffer.size(), static_cast<off_t>(offset));
    if (n < 0) return false;
    if (n == 0) break;
    md5.Update(buffer.data(), static_cast<std::size_t>(n));
    if (sha) sha->Update(buffer.data(), static_cast<std::size_t>(n));
    if (hold) bytes_.append(buffer.data(), static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
  size_ = offset;
  md5_ = mb::Md5Hex(md5.Finish());
  if (sha) {
    const platform::Sha256Digest d = sha->Finish();
    sha256_ = trust::LowerHex(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
  }
  return true;
}

PublishedBytes::~PublishedBytes() {
  if (fd_ >= 0) close(fd_);
}

bool PublishedBytes::StampsMatchNow() const {
  struct stat now {};
  return fstat(fd_, &now) == 0 && StampsMatch(now);
}

bool PublishedBytes::StampsMatch(const struct stat& now) const {
  return static_cast<std::uint64_t>(now.st_size) == size_ && Same(now.st_mtim, mtime_) &&
         Same(now.st_ctim, ctime_);
}

bool PublishedBytes::Unchanged() const { return held_ || StampsMatchNow(); }

ssize_t PublishedBytes::Read(std::uint64_t offset, char* buffer, std::size_t n) const {
  if (!held_) return pread(fd_, buffer, n, static_cast<off_t>(offset));
  if (offset >= size_) return 0;
  std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - offset));
  std::copy_n(bytes_.data() + offset, count, buffer);
  return static_cast<ssize_t>(count);
}

std::optional<std::string> PublishedBytes::ReadAll() const {
  if (held_) return bytes_;
  std::string out(size_, '\0');
  std::uint64_t done = 0;
  while (done < size_) {
    ssize_t n = Read(done, out.data() + done, size_ - done);
    if (n <= 0) return std::nullopt;
    done += static_cast<std::uint64_t>(n);
  }
  if (!Unchanged()) return std::nullopt;
  return out;
}

}  // namespace mb::server
