#include "platform/win32/win32_network.h"

// clang-format off
#include "platform/win32/win32_windows.h"
#include <wininet.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/transfer_pace.h"
#include "platform/transfer_resume.h"
#include "platform/win32/win32_filesystem.h"
#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_unread_sockets.h"

namespace mb::win32 {
namespace {

using platform::DownloadOptions;
using Clock = std::chrono::steady_clock;
using Verdict = platform::TransferPace::Verdict;
using Plan = platform::BodyStart::Plan;

constexpr std::chrono::milliseconds kReportEvery{100};
constexpr DWORD kReadBytes = 64 * 1024;

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET h = nullptr) : h_(h) {}
  ~InternetHandle() { Close(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET Get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  // On Windows this also cancels a call pending on the handle.
  void Close() {
    if (h_ != nullptr) InternetCloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HINTERNET h_;
};

// Where one request ended: a body to read, a redirect to follow, or a
// failure code of the Download contract.
struct Response {
  long failure = platform::kDownloadOk;
  std::string location;  // set for a redirect
};

constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI |
                                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                INTERNET_FLAG_KEEP_CONNECTION;

// The body's file until it replaces the destination; removed on every other
// way out, an exception from the observer included.
struct TemporaryFile {
  explicit TemporaryFile(std::wstring p) : path(std::move(p)) {}
  ~TemporaryFile() {
    if (!kept) DeleteFileW(path.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  std::wstring path;
  bool kept = false;
};

bool StartsWithIgnoringCase(const std::string& url, const std::string& prefix) {
  if (url.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), url.begin(), [](char a, char b) {
    return a == static_cast<char>(std::tolower(static_cast<unsigned char>(b)));
  });
}

bool IsHttpsUrl(const std::string& url) { return StartsWithIgnoringCase(url, "https://"); }

bool IsHttpUrl(const std::string& url) {
  return StartsWithIgnoringCase(url, "http://") || IsHttpsUrl(url);
}

DWORD QueryNumber(HINTERNET request, DWORD what, bool* found) {
  DWORD value = 0;
  DWORD size = sizeof value;
  *found = HttpQueryInfoA(request, what | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr) != FALSE;
  return value;
}

std::string QueryText(HINTERNET request, DWORD what) {
  std::array<char, 4096> buf{};
  DWORD size = buf.size();
  if (!HttpQueryInfoA(request, what, buf.data(), &size, nullptr)) return {};
  return std::string(buf.data(), size);
}

// A Location header may be relative to the URL that answered.
std::string Resolve(const std::string& base, const std::string& location) {
  std::array<char, INTERNET_MAX_URL_LENGTH + 1> buf{};
  DWORD size = buf.size();
  if (!InternetCombineUrlA(base.c_str(), location.c_str(), buf.data(), &size, ICU_NO_ENCODE)) {
    return {};
  }
  return std::string(buf.data(), size);
}

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

Response Classify(HINTERNET request, const std::string& url) {
  bool found = false;
  const DWORD status = QueryNumber(request, HTTP_QUERY_STATUS_CODE, &found);
  if (!found) return {platform::kDownloadTransportError, {}};
  if (IsRedirect(status)) {
    const std::string target = Resolve(url, QueryText(request, HTTP_QUERY_LOCATION));
    if (target.empty()) return {platform::kDownloadHttpError, {}};
    return {platform::kDownloadOk, target};
  }
  if (status >= 400) return {platform::kDownloadHttpError, {}};
  return {};
}

// Where the request of a URL goes: InternetConnect takes the server,
// HttpOpenRequest the object (path and query).
struct Target {
  std::string host;
  INTERNET_PORT port = 0;
  std::string object;
  bool secure = false;
};

std::optional<Target> Crack(const std::string& url) {
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  // Non-zero lengths without buffers: the parts point into `url`.
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlA(url.c_str(), 0, 0, &parts) || parts.dwHostNameLength == 0) return {};
  Target t;
  t.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  t.port = parts.nPort;
  t.object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (t.object.empty()) t.object = "/";
  std::string extra(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  t.object += extra.substr(0, extra.find('#'));  // a fragment is not sent
  t.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return t;
}

// The caller's limit on the wait for the answer's headers. A blocking call
// does not tell when its connection stands, so the wait is bounded by the
// connect and the stall time-outs together (0: unbounded).
long HeadersLimitMs(const DownloadOptions& o) {
  return o.stall_timeout_ms > 0 ? std::max(o.connect_timeout_ms, 0L) + o.stall_timeout_ms : 0;
}

// WinINet's own time-outs, set on the request as a backstop: Wine ignores
// them on the session but applies them to the request's socket, so a call
// the caller gave up on still ends there. Twice the caller's limits, so the
// caller's own limits are what a transfer meets.
void SetBackstopTimeouts(HINTERNET request, const DownloadOptions& o) {
  auto set = [&](DWORD option, long ms) {
    if (ms <= 0) return;
    DWORD value = static_cast<DWORD>(2 * ms);
    InternetSetOptionA(request, option, &value, sizeof value);
  };
  set(INTERNET_OPTION_CONNECT_TIMEOUT, o.connect_timeout_ms);
  set(INTERNET_OPTION_SEND_TIMEOUT, HeadersLimitMs(o));
  set(INTERNET_OPTION_RECEIVE_TIMEOUT, HeadersLimitMs(o));
}

// What a call on the CallThread leaves behind. Shared with the call, which
// may run on after the caller gave up on it.
struct CallResult {
  BOOL ok = FALSE;
  DWORD available = 0;
  DWORD got = 0;
  std::vector<char> data;
};

// Tells the observer how far the transfer is: after each piece of the body,
// and every 100 ms while nothing arrives, so the agent's window keeps being
// pumped through a stall. Counted over the whole file: a body that goes on
// after kept bytes starts at their end.
struct Progress {
  platform::DownloadObserver* observer = nullptr;
  std::int64_t expected = -1;
  std::int64_t received = 0;
  void Tell() const {
    if (observer != nullptr) observer->OnProgress(expected, received);
  }
};

// Sends the request with the extra header lines (each ending in CR LF) and
// waits for the answer's headers.
bool SendRequest(CallThread& calls, InternetHandle& request, const DownloadOptions& o,
                 const Progress& progress, const std::string& headers) {
  const long limit_ms = HeadersLimitMs(o);
  const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
  auto result = std::make_shared<CallResult>();
  const HINTERNET h = request.Get();
  const bool returned = calls.Run(
      [h, result, headers] {
        result->ok = HttpSendRequestA(h, headers.empty() ? nullptr : headers.c_str(),
                                      static_cast<DWORD>(headers.size()), nullptr, 0);
      },
      [&] {
        progress.Tell();
        return limit_ms == 0 || Clock::now() < deadline;
      },
      kReportEvery);
  if (!returned) request.Close();
  return returned && result->ok != FALSE;
}

// Waits until some of the body has arrived and reads it; got 0 at its end.
void ReadSome(HINTERNET request, CallResult& r) {
  r.got = 0;
  // Asking what has arrived first lets the read return at once, so a slow
  // transfer is followed byte by byte instead of waiting for a full buffer.
  r.ok = InternetQueryDataAvailable(request, &r.available, 0, 0);
  if (!r.ok || r.available == 0) return;
  const DWORD want = std::min<DWORD>(r.available, static_cast<DWORD>(r.data.size()));
  r.ok = InternetReadFile(request, r.data.data(), want, &r.got);
}

// Reads the body into `out`, telling the observer; the transfer fails when
// the body outgrows the limit, stalls, stays under the rate floor, or ends
// short of its announced length.
long ReadBody(CallThread& calls, InternetHandle& request, HANDLE out, const DownloadOptions& o,
              Progress& progress) {
  bool announced = false;
  const DWORD length = QueryNumber(request.Get(), HTTP_QUERY_CONTENT_LENGTH, &announced);
  progress.expected = announced ? progress.received + static_cast<std::int64_t>(length) : -1;
  if (progress.expected > o.max_bytes) return platform::kDownloadTooLarge;
  progress.Tell();
  platform::TransferPace pace(o);
  pace.Connected(Clock::now());
  auto chunk = std::make_shared<CallResult>();
  chunk->data.resize(kReadBytes);
  const HINTERNET h = request.Get();
  for (;;) {
    const bool returned = calls.Run([h, chunk] { ReadSome(h, *chunk); },
                                    [&] {
                                      progress.Tell();
                                      return pace.Judge(Clock::now()) == Verdict::kKeepGoing;
                                    },
                                    kReportEvery);
    if (!returned) {
      request.Close();
      return platform::kDownloadTransportError;
    }
    if (!chunk->ok) return platform::kDownloadTransportError;
    if (chunk->got == 0) break;
    progress.received += chunk->got;
    if (progress.received > o.max_bytes) return platform::kDownloadTooLarge;
    DWORD wrote = 0;
    if (!WriteFile(out, chunk->data.data(), chunk->got, &wrote, nullptr) || wrote != chunk->got) {
      return platform::kDownloadLocalError;
    }
    if (o.sink != nullptr) o.sink->Append(chunk->data.data(), chunk->got);
    progress.Tell();
    // A drip of a byte now and then returns from every read within 100 ms.
    pace.Received(chunk->got, Clock::now());
    if (pace.Judge(Clock::now()) != Verdict::kKeepGoing) return platform::kDownloadTransportError;
  }
  if (progress.expected >= 0 && progress.received != progress.expected) {
    return platform::kDownloadTransportError;
  }
  return platform::kDownloadOk;
}

// Where the body goes: a temporary file made when the body begins, or the
// partial file of a resumable download, open (and so held against another
// agent) from the start, with what it holds.
struct BodyTarget {
  std::wstring temporary;
  HANDLE kept = INVALID_HANDLE_VALUE;
  platform::PartialTransfer partial;
  bool asked_range = false;
  bool drop_kept = false;  // out: the kept bytes are of no use to a later attempt
};

// Range and If-Range when the kept bytes can go on.
std::string RangeHeaders(const BodyTarget& target) {
  if (!target.asked_range) return {};
  const std::optional<platform::RangeRequest> r = platform::RangeRequestFor(target.partial);
  return r->range + "\r\n" + r->if_range + "\r\n";
}

platform::AnswerHeaders AnswerOf(HINTERNET request) {
  platform::AnswerHeaders a;
  bool found = false;
  a.status = static_cast<long>(QueryNumber(request, HTTP_QUERY_STATUS_CODE, &found));
  const DWORD length = QueryNumber(request, HTTP_QUERY_CONTENT_LENGTH, &found);
  a.content_length = found ? static_cast<std::int64_t>(length) : -1;
  a.etag = QueryText(request, HTTP_QUERY_ETAG);
  a.last_modified = QueryText(request, HTTP_QUERY_LAST_MODIFIED);
  a.content_range = QueryText(request, HTTP_QUERY_CONTENT_RANGE);
  return a;
}

// The body goes on at `offset` (0: the file starts over); what lies beyond
// is cut off.
bool WriteFrom(HANDLE file, std::int64_t offset) {
  LARGE_INTEGER at{};
  at.QuadPart = offset;
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// The final answer's body: where it goes is decided before its first byte.
long ReceiveBody(CallThread& calls, InternetHandle& request, BodyTarget& target,
                 const DownloadOptions& o, Progress& progress) {
  const platform::AnswerHeaders answer = AnswerOf(request.Get());
  // A final 1xx/3xx answer (a 304, a 300) is not the file, as on POSIX:
  // nothing of it is kept.
  if (answer.status < 200 || answer.status > 299) return platform::kDownloadHttpError;
  const platform::BodyStart start =
      platform::JudgeAnswer(target.partial, target.asked_range, answer);
  if (start.plan == Plan::kRefuse) {
    target.drop_kept = true;
    return platform::kDownloadTransportError;
  }
  const bool temporary = target.kept == INVALID_HANDLE_VALUE;
  UniqueHandle made(temporary ? CreateFileW(target.temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                              : INVALID_HANDLE_VALUE);
  if (temporary && !made.Valid()) return platform::kDownloadLocalError;
  const HANDLE out = temporary ? made.Get() : target.kept;
  if (!temporary && (!WriteFrom(out, start.offset) ||
                     (target.partial.keeper != nullptr && !target.partial.keeper->Keep(start)))) {
    return platform::kDownloadLocalError;
  }
  // The caller's digests go on from the kept bytes it replayed into them,
  // or start over with the file.
  if (o.sink != nullptr && start.plan == Plan::kWhole) o.sink->Restart();
  progress.received = start.offset;
  const long rc = ReadBody(calls, request, out, o, progress);
  if (rc == platform::kDownloadTooLarge || start.validator.empty()) target.drop_kept = true;
  // Cut off at its cap while the body may still be coming: let nothing more
  // of it be fetched (win32_unread_sockets.h).
  if (rc == platform::kDownloadTooLarge) ShutDownUnreadSockets();
  return rc;
}

// Follows the redirects (bounded) and stores the final body in `body`.
long Fetch(HINTERNET session, CallThread& calls, std::string url, BodyTarget& body,
           const DownloadOptions& o) {
  Progress progress{o.observer};
  const std::string headers = RangeHeaders(body);
  for (int hops = 0;; ++hops) {
    const std::optional<Target> target = Crack(url);
    if (!target) return platform::kDownloadTransportError;
    InternetHandle connection(InternetConnectA(session, target->host.c_str(), target->port, nullptr,
                                               nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return platform::kDownloadTransportError;
    const DWORD flags = kRequestFlags | (target->secure ? INTERNET_FLAG_SECURE : 0);
    InternetHandle request(HttpOpenRequestA(connection.Get(), "GET", target->object.c_str(),
                                            nullptr, nullptr, nullptr, flags, 0));
    if (!request) return platform::kDownloadTransportError;
    SetBackstopTimeouts(request.Get(), o);
    if (!SendRequest(calls, request, o, progress, headers))
      return platform::kDownloadTransportError;
    const Response r = Classify(request.Get(), url);
    if (r.failure != platform::kDownloadOk) {
      // A range past the end of the file as it is now: the kept bytes are not its own.
      body.drop_kept = body.asked_range && AnswerOf(request.Get()).status == 416;
      return r.failure;
    }
    if (!r.location.empty()) {
      // Never from HTTPS down to plain HTTP.
      const bool downgrade = target->secure && !IsHttpsUrl(r.location);
      if (hops >= o.max_redirects || !IsHttpUrl(r.location) || downgrade)
        return platform::kDownloadHttpError;
      url = r.location;
      continue;
    }
    return ReceiveBody(calls, request, body, o, progress);
  }
}

}  // namespace

Win32Network::~Win32Network() {
  if (session_ != nullptr) InternetCloseHandle(static_cast<HINTERNET>(session_));
}

bool Win32Network::IsConnected() {
  DWORD flags = 0;
  return InternetGetConnectedState(&flags, 0) != FALSE;
}

long Win32Network::Download(const std::string& url, const std::string& path,
                            const DownloadOptions& options) {
  if (!IsHttpUrl(url)) return platform::kDownloadTransportError;
  if (session_ == nullptr) {
    session_ = InternetOpenA("Mailbeacon", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  }
  if (session_ == nullptr) return platform::kDownloadTransportError;
  const std::wstring dest = Utf8ToWide(path);
  if (options.partial != nullptr) {
    // Held for the whole download: with another agent writing it, this one
    // does without.
    // Never through a link: one put in the scratch area would have the
    // download overwrite whatever it leads to.
    UniqueHandle kept(CreateFileW(Utf8ToWide(options.partial->path).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (kept.Valid() && !IsReparsePoint(kept.Get())) return DownloadKept(url, dest, options, kept);
  }
  TemporaryFile tmp(TempNameBeside(dest, platform::TemporaryKind::kDownload));
  BodyTarget target;
  target.temporary = tmp.path;
  const long rc = Fetch(static_cast<HINTERNET>(session_), calls_, url, target, options);
  if (rc != platform::kDownloadOk) return rc;
  if (!MoveFileExW(tmp.path.c_str(), dest.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return platform::kDownloadLocalError;
  }
  tmp.kept = true;
  return platform::kDownloadOk;
}

long Win32Network::DownloadKept(const std::string& url, const std::wstring& dest,
                                const DownloadOptions& options, UniqueHandle& kept) {
  BodyTarget target;
  target.kept = kept.Get();
  target.partial = *options.partial;
  // Only bytes the caller knows of are taken up again.
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(kept.Get(), &size) || size.QuadPart != target.partial.size)
    target.partial.size = 0;
  target.asked_range = platform::RangeRequestFor(target.partial).has_value();
  const long rc = Fetch(static_cast<HINTERNET>(session_), calls_, url, target, options);
  kept.Reset();  // closed before it is renamed or removed
  const std::wstring path = Utf8ToWide(options.partial->path);
  if (rc != platform::kDownloadOk) {
    if (target.drop_kept) DeleteFileW(path.c_str());
    return rc;
  }
  if (!MoveFileExW(path.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return platform::kDownloadLocalError;
  return platform::kDownloadOk;
}

}  // namespace mb::win32
