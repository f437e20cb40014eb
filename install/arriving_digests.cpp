#include "install/arriving_digests.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "agent/bas_win_api.h"
#include "planning/transfer_limits.h"
#include "support/md5.h"

namespace mb {
namespace {

// Chunks are gathered to this size before a lane sees them, so the lanes
// wake once per 64 KiB whatever pieces the download writes; the ring stays
// within a core's L2 cache, where the lanes read what was just copied.
constexpr std::size_t kChunkBytes = std::size_t{64} * 1024;
constexpr std::size_t kChunks = 16;  // 1 MiB in flight at most

std::string HexOf(const std::uint8_t* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

}  // namespace

// One producer (the download) fills the ring's chunks in turn; each lane (a
// digest on its own thread) reads every chunk in order. A chunk is written
// again only when every lane has read it.
class ArrivingDigests::Lanes {
 public:
  using Digest = std::function<void(const char*, std::size_t)>;

  explicit Lanes(std::vector<Digest> digests) : digests_(std::move(digests)) {
    read_.assign(digests_.size(), 0);
    for (std::size_t lane = 0; lane < digests_.size(); ++lane)
      threads_.emplace_back([this, lane] { Run(lane); });
  }
  ~Lanes() { Close(); }
  Lanes(const Lanes&) = delete;
  Lanes& operator=(const Lanes&) = delete;

  void Append(const char* data, std::size_t size) {
    while (size > 0) {
      Chunk& c = Filling();
      const std::size_t n = std::min(size, kChunkBytes - c.size);
      std::memcpy(c.bytes.get() + c.size, data, n);
      c.size += n;
      data += n;
      size -= n;
      if (c.size == kChunkBytes) Publish();
    }
  }

  // Hands over the last partial chunk and waits until every lane is done.
  void Close() {
    if (closed_) return;
    if (filling_ready_ && chunks_[published_ % kChunks].size > 0) Publish();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

 private:
  struct Chunk {
    std::unique_ptr<char[]> bytes;  // made on first use, never cleared
    std::size_t size = 0;
  };

  // The chunk being filled, once every lane has read what it held before.
  Chunk& Filling() {
    Chunk& c = chunks_[published_ % kChunks];
    if (!filling_ready_) {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return SlowestRead() + kChunks > published_; });
      c.size = 0;
      if (!c.bytes) c.bytes.reset(new char[kChunkBytes]);
      filling_ready_ = true;
    }
    return c;
  }

  void Publish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++published_;
    }
    filling_ready_ = false;
    changed_.notify_all();
  }

  std::uint64_t SlowestRead() const { return *std::min_element(read_.begin(), read_.end()); }

  void Run(std::size_t lane) {
    for (;;) {
      std::uint64_t next = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return read_[lane] < published_ || closed_; });
        if (read_[lane] == published_) return;  // closed and all read
        next = read_[lane];
      }
      const Chunk& c = chunks_[next % kChunks];
      digests_[lane](c.bytes.get(), c.size);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++read_[lane];
      }
      changed_.notify_all();
    }
  }

  std::vector<Digest> digests_;
  std::array<Chunk, kChunks> chunks_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t published_ = 0;      // chunks handed to the lanes
  std::vector<std::uint64_t> read_;  // per lane: chunks done
  bool filling_ready_ = false;       // the chunk at published_ is free to fill
  bool closed_ = false;
  std::vector<std::thread> threads_;
};

ArrivingDigests::ArrivingDigests(platform::Crypto* sha256_from) : sha256_from_(sha256_from) {}

ArrivingDigests::~ArrivingDigests() = default;

void ArrivingDigests::Restart() {
  lanes_.reset();
  md5_.reset();
  sha256_.reset();
  first_.clear();
}

void ArrivingDigests::Append(const char* data, std::size_t size) {
  if (lanes_) {
    lanes_->Append(data, size);
  } else if (first_.size() + size <= kChunkBytes) {
    first_.append(data, size);  // a small file never needs the lanes
  } else {
    StartLanes();
    lanes_->Append(first_.data(), first_.size());
    first_.clear();
    lanes_->Append(data, size);
  }
}

void ArrivingDigests::StartLanes() {
  md5_ = std::make_unique<Md5>();
  std::vector<Lanes::Digest> digests = {
      [this](const char* d, std::size_t n) { md5_->Update(d, n); }};
  if (sha256_from_ != nullptr) {
    sha256_ = sha256_from_->NewSha256();
    digests.emplace_back([this](const char* d, std::size_t n) { sha256_->Update(d, n); });
  }
  lanes_ = std::make_unique<Lanes>(std::move(digests));
}

FileDigests ArrivingDigests::Finish() {
  if (lanes_) lanes_->Close();
  if (!md5_) {  // a small file: digested here, in one go
    md5_ = std::make_unique<Md5>();
    md5_->Update(first_.data(), first_.size());
    if (sha256_from_ != nullptr) {
      sha256_ = sha256_from_->NewSha256();
      sha256_->Update(first_.data(), first_.size());
    }
  }
  FileDigests out;
  out.md5 = Md5Hex(md5_->Finish());
  if (sha256_) {
    const platform::Sha256Digest d = sha256_->Finish();
    out.sha256 = HexOf(d.data(), d.size());
  }
  Restart();
  return out;
}

std::optional<FileDigests> FetchWithDigests(platform::Platform& p, const std::string& url,
                                            const std::string& local_path,
                                            platform::DownloadObserver* progress,
                                            platform::Crypto* sha256_from,
                                            const platform::PartialTransfer* partial,
                                            std::int64_t cap) {
  ArrivingDigests digests(sha256_from);
  platform::DownloadOptions options = FileTransfer(progress);
  options.max_bytes = cap;
  options.sink = &digests;
  options.partial = partial;
  // The kept bytes first: a 206 appends to them, a 200 restarts the digests.
  if (partial != nullptr && partial->size > 0) {
    try {
      platform::ReplayInto(*p.fs->OpenRead(partial->path), digests);
    } catch (const std::exception&) {
      options.partial = nullptr;  // fetched whole, as if nothing were kept
    }
  }
  if (!basWinAPI::DownloadFile(p, url, local_path, options)) return std::nullopt;
  return digests.Finish();
}

}  // namespace mb
