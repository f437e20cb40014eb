// Connectivity and the blocking download (the roles of
// InternetGetConnectedState and URLDownloadToFileA).
#pragma once

#include <cstdint>
#include <string>

#include "platform/body_sink.h"
#include "platform/transfer_resume.h"

namespace mb::platform {

// Told about a running transfer, so a progress display can follow it and the
// window system can keep pumping.
class DownloadObserver {
 public:
  virtual ~DownloadObserver() = default;
  // expected is the body size the server announced, or -1 when unknown.
  virtual void OnProgress(std::int64_t expected, std::int64_t received) = 0;
};

struct DownloadOptions {
  std::int64_t max_bytes = std::int64_t{4} << 20;  // bigger bodies fail
  long connect_timeout_ms = 15000;
  long stall_timeout_ms = 30000;  // no byte received for this long fails
  // Slow retrieval: from the moment a connection stands, every window of
  // rate_window_ms must bring min_rate_bytes_per_s on average, or the
  // transfer fails. 1 KiB/s (8 kbit/s) is a seventh of what a 56k modem
  // carries, and a minute averages out bursts, retransmissions and short
  // pauses, so an honest slow link finishes; a drip of a byte every few
  // seconds, which never trips the stall time-out, fails after a minute.
  // 0 in either turns the check off.
  long min_rate_bytes_per_s = 1024;
  long rate_window_ms = 60000;
  int max_redirects = 5;
  DownloadObserver* observer = nullptr;
  // Given every byte of the body as it is written (Restart when the body
  // begins), so the caller's digests are ready when the download returns.
  BodySink* sink = nullptr;
  // Set: the body goes to this partial file and survives a cut, so that a
  // later download can ask for the rest (platform/transfer_resume.h); the
  // bytes kept count against max_bytes. Unset: a temporary file, removed on
  // failure.
  const PartialTransfer* partial = nullptr;
  // False: a failure is not the run's failure that a backend reports to a
  // person (a report to the vendor that goes unanswered changes nothing).
  bool note_failure = true;
  // A 404 is an answer the caller expects (a root of trust past the newest),
  // not a failure a backend reports to a person.
  bool not_found_is_an_answer = false;
};

// Download results besides 0 (success). Values of the HRESULT family that
// URLDownloadToFile reports are not needed: any non-zero means failure.
inline constexpr long kDownloadOk = 0;
inline constexpr long kDownloadHttpError = 1;
inline constexpr long kDownloadTransportError = 2;
inline constexpr long kDownloadTooLarge = 3;
inline constexpr long kDownloadLocalError = 4;

class Network {
 public:
  virtual ~Network() = default;
  virtual bool IsConnected() = 0;
  // Fetches url into path (agent path, UTF-8). Returns 0 only when the whole
  // body was stored at path, replacing a file of that name; otherwise path
  // is left as it was. An HTTP status >= 400 is a failure.
  virtual long Download(const std::string& url, const std::string& path,
                        const DownloadOptions& options) = 0;
  // The agent refused what the server answered at url (a signature that
  // does not hold, a file unlike its signed digest). A backend that reports
  // failed downloads to a person reports this the same way, before any
  // failed download of the run: the refusal is what failed it. The default
  // keeps nothing.
  virtual void NoteRefused(const std::string& url, const std::string& reason) {
    static_cast<void>(url);
    static_cast<void>(reason);
  }
  // A setting of the agent's that cannot be used (`what` names it), told
  // to a person beside the run's failure, never in its place; the default
  // keeps nothing.
  virtual void NoteProblem(const std::string& what, const std::string& reason) {
    static_cast<void>(what);
    static_cast<void>(reason);
  }
};

}  // namespace mb::platform
