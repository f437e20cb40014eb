// The digests of a file made while its bytes arrive: a download hands every
// chunk it writes to this sink (platform::BodySink), and the MD5 (and, for
// a signed release, the SHA-256) are ready when the download returns,
// without reading the file again. Beyond its first 64 KiB a file's digests
// run on a thread each over a small ring of chunks, so hashing overlaps the
// transfer; a full ring makes Append wait, so memory stays bounded whatever
// the file's size. A smaller file is digested in one go at the end.
// A download that restarts the body (or takes up a partial file and
// replays it, platform::ReplayInto) restarts the digests with it.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "planning/transfer_limits.h"
#include "platform/body_sink.h"
#include "platform/platform.h"
#include "platform/signature.h"
#include "support/md5.h"

namespace mb {

struct FileDigests {
  std::string md5;     // 32 lower-case hex digits
  std::string sha256;  // 64 lower-case hex digits; empty unless asked for
};

class ArrivingDigests : public platform::BodySink {
 public:
  // sha256_from: where the SHA-256 comes from; nullptr for the MD5 alone.
  explicit ArrivingDigests(platform::Crypto* sha256_from);
  ~ArrivingDigests() override;
  ArrivingDigests(const ArrivingDigests&) = delete;
  ArrivingDigests& operator=(const ArrivingDigests&) = delete;

  void Restart() override;
  void Append(const char* data, std::size_t size) override;
  // The digests of every byte appended since the last Restart.
  FileDigests Finish();

 private:
  class Lanes;
  void StartLanes();

  platform::Crypto* sha256_from_;
  std::string first_;  // the bytes before the lanes start
  // The digests outlive the lanes whose threads feed them.
  std::unique_ptr<Md5> md5_;
  std::unique_ptr<platform::Sha256> sha256_;
  std::unique_ptr<Lanes> lanes_;  // made once the file outgrows first_
};

// A release file fetched to local_path along the agent's download path
// (basWinAPI::DownloadFile with the release-file limits), its digests made
// on the way; nothing when the download failed. The component pass and the
// benchmark tool (bench/fetch_cli.cpp) both go through here. With `partial`
// the download may go on after the bytes a cut transfer kept
// (platform/transfer_resume.h): they are replayed into the digests first.
// `cap`: the most the file may hold, kept bytes included (a signed LENGTH).
std::optional<FileDigests> FetchWithDigests(platform::Platform& p, const std::string& url,
                                            const std::string& local_path,
                                            platform::DownloadObserver* progress,
                                            platform::Crypto* sha256_from,
                                            const platform::PartialTransfer* partial = nullptr,
                                            std::int64_t cap = kFileTransferCap);

}  // namespace mb
