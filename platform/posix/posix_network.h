// Downloads over libcurl and connectivity from the process's own view of
// its network interfaces.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/network.h"

namespace mb::posix {

class KeptFile;

// Why a download failed on the server's side, or why the agent refused what
// came back (refused), for a person to read.
struct TransferFailure {
  std::string url;
  std::string reason;
  bool refused = false;
};

class CurlNetwork : public platform::Network {
 public:
  CurlNetwork();  // initialises libcurl once per process
  ~CurlNetwork() override;
  CurlNetwork(const CurlNetwork&) = delete;
  CurlNetwork& operator=(const CurlNetwork&) = delete;

  // True when an interface other than loopback is up, running and holds an
  // IPv4 or IPv6 address, as seen from this process's network namespace.
  bool IsConnected() override;

  // Streams the body into a hidden temporary file beside the destination (or,
  // for a resumable download, into its partial file, going on after the
  // bytes kept there when the answer allows) and renames it over the
  // destination only once the whole body has arrived.
  // Connections stay open between downloads, as long as the server keeps
  // them, so the requests of a run and of later runs share one. One
  // download at a time.
  long Download(const std::string& url, const std::string& path,
                const platform::DownloadOptions& options) override;

  // Kept as a failure, unless one came first.
  void NoteRefused(const std::string& url, const std::string& reason) override;
  void NoteProblem(const std::string& what, const std::string& reason) override;
  // The problems noted since the last call (url: what they concern).
  std::vector<TransferFailure> TakeProblems();

  // The first download since the last call that failed on the server's side
  // (unreachable, an error status, an answer over a limit or too slow, an
  // answer the agent refused); failures of the local disk are not counted.
  std::optional<TransferFailure> TakeFailure();

 private:
  long DownloadKept(const std::string& url, const std::string& path,
                    platform::DownloadOptions options, KeptFile& kept);
  void NoteFailure(const std::string& url, const std::string& reason);

  struct Connections;  // libcurl's connection cache
  std::unique_ptr<Connections> connections_;
  std::vector<TransferFailure> problems_;
  std::optional<TransferFailure> failure_;
};

}  // namespace mb::posix
