#include "platform/posix/posix_network.h"

#include <curl/curl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/posix_kept_file.h"
#include "platform/posix/posix_part_file.h"
#include "platform/posix/posix_path.h"
#include "platform/transfer_pace.h"
#include "platform/transfer_resume.h"

namespace mb::posix {
namespace {

using Clock = std::chrono::steady_clock;
using platform::DownloadOptions;
using Verdict = platform::TransferPace::Verdict;
using Plan = platform::BodyStart::Plan;

// Large reads keep a loopback transfer close to the speed of the wire.
constexpr long kReceiveBufferBytes = 512L * 1024;
// While a transfer runs its observer hears of it at least this often, new
// bytes or not, so the agent's window keeps being pumped through a stall.
constexpr std::chrono::milliseconds kReportEvery{100};
// Idle connections kept for later downloads: a run talks to one server, and
// perhaps to the target of a redirect.
constexpr long kCachedConnections = 4;

bool g_curl_ready = false;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { g_curl_ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
}

// ---------------------------------------------------------------------------
// One transfer: what the callbacks see and record.

struct Transfer {
  explicit Transfer(const DownloadOptions& o) : pace(o) {}

  CURL* easy = nullptr;
  int fd = -1;
  std::int64_t max_bytes = 0;
  platform::DownloadObserver* observer = nullptr;
  platform::BodySink* sink = nullptr;
  platform::TransferPace pace;

  // A resumable download: what was kept, where it goes, whether the rest
  // was asked for; the final answer's headers as they arrive, and what its
  // body was found to start.
  platform::PartialTransfer partial;
  KeptFile* kept = nullptr;
  bool asked_range = false;
  platform::AnswerHeaders answer;
  platform::BodyStart start;
  bool refused = false;
  bool not_the_file = false;

  std::int64_t expected = -1;  // Content-Length of the final response
  std::int64_t offset = 0;     // bytes kept before this body, which goes on from there
  std::int64_t whole = -1;     // the whole file's length, when known
  std::int64_t received = 0;   // of this body
  std::int64_t reported = -1;
  Clock::time_point last_report = Clock::now();
  bool body_started = false;
  bool too_large = false;
  bool local_error = false;
  Verdict verdict = Verdict::kKeepGoing;  // why the pace ended it, if it did
  char error[CURL_ERROR_SIZE] = {};       // libcurl's own words on a failure
};

std::int64_t AnnouncedLength(CURL* easy) {
  curl_off_t length = -1;
  if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) return -1;
  return length;
}

// The body of the final answer begins (redirect bodies are skipped by
// libcurl): where it goes is decided here, before its first byte is kept.
bool BeginBody(Transfer& t) {
  curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &t.answer.status);
  // A final 1xx/3xx answer (say a redirect without a target) is not the
  // file: nothing of it is kept.
  if (t.answer.status < 200 || t.answer.status > 299) {
    t.not_the_file = true;
    return false;
  }
  t.body_started = true;
  t.expected = AnnouncedLength(t.easy);
  t.answer.content_length = t.expected;
  t.start = platform::JudgeAnswer(t.partial, t.asked_range, t.answer);
  if (t.start.plan == Plan::kRefuse) {
    t.refused = true;
    return false;
  }
  t.offset = t.start.offset;
  t.whole = t.expected >= 0 ? t.offset + t.expected : -1;
  if (t.whole > t.max_bytes) {
    t.too_large = true;
    return false;
  }
  // The caller's digests go on from the kept bytes it replayed into them,
  // or start over with the file.
  if (t.sink != nullptr && t.start.plan == Plan::kWhole) t.sink->Restart();
  if (t.kept == nullptr) return true;
  t.local_error = !t.kept->WriteFrom(t.offset) ||
                  (t.partial.keeper != nullptr && !t.partial.keeper->Keep(t.start));
  return !t.local_error;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  t.pace.Received(static_cast<std::int64_t>(bytes), Clock::now());
  if (!t.body_started && !BeginBody(t)) return 0;  // aborts the transfer
  if (t.too_large || static_cast<std::int64_t>(bytes) > t.max_bytes - t.offset - t.received) {
    t.too_large = true;
    return 0;  // aborts the transfer
  }
  if (!WriteAll(t.fd, data, bytes)) {
    t.local_error = true;
    return 0;
  }
  if (t.sink != nullptr) t.sink->Append(data, bytes);
  t.received += static_cast<std::int64_t>(bytes);
  return bytes;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

bool NameIs(std::string_view name, std::string_view lower) {
  return name.size() == lower.size() &&
         std::equal(name.begin(), name.end(), lower.begin(), [](char a, char b) {
           return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
         });
}

// The headers resuming needs, of the last answer (a redirect's, or a 100's,
// are forgotten when the next status line comes).
void NoteHeader(platform::AnswerHeaders& answer, std::string_view line) {
  if (line.substr(0, 5) == "HTTP/") {
    answer = {};
    return;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  const std::string_view name = Trimmed(line.substr(0, colon));
  const std::string value(Trimmed(line.substr(colon + 1)));
  if (NameIs(name, "etag")) answer.etag = value;
  if (NameIs(name, "last-modified")) answer.last_modified = value;
  if (NameIs(name, "content-range")) answer.content_range = value;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  t.pace.Received(static_cast<std::int64_t>(size * count), Clock::now());
  NoteHeader(t.answer, std::string_view(data, size * count));
  return size * count;
}

// Called once a connection stands or is taken from the cache, before each
// request (also after a redirect): the pace is judged from here on, the
// connect timeout covers what comes before.
int OnConnected(void* user, char*, char*, int, int) {
  static_cast<Transfer*>(user)->pace.Connected(Clock::now());
  return CURL_PREREQFUNC_OK;
}

void Report(Transfer& t) {
  t.reported = t.received;
  t.last_report = Clock::now();
  t.observer->OnProgress(t.whole, t.offset + t.received);
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto& t = *static_cast<Transfer*>(user);
  if (t.observer != nullptr && t.body_started && t.received != t.reported) Report(t);
  return 0;
}

// Between bytes: the same figures again once the last report is old enough.
void ReportIfQuiet(Transfer& t) {
  if (t.observer != nullptr && Clock::now() - t.last_report >= kReportEvery) Report(t);
}

// ---------------------------------------------------------------------------
// Setting up and running the transfer.

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using ListPtr = std::unique_ptr<curl_slist, ListCleanup>;

// Asks every cache between us and the server for a fresh copy, and for the
// rest of the kept bytes when they can go on.
ListPtr RequestHeaders(const Transfer& t) {
  std::vector<std::string> lines = {"Cache-Control: no-cache", "Pragma: no-cache"};
  if (const auto range = platform::RangeRequestFor(t.partial); range && t.kept != nullptr) {
    lines.push_back(range->range);
    lines.push_back(range->if_range);
  }
  ListPtr list;
  for (const std::string& line : lines) {
    curl_slist* more = curl_slist_append(list.get(), line.c_str());
    if (more == nullptr) return nullptr;
    static_cast<void>(list.release());
    list.reset(more);
  }
  return list;
}

// The CA bundle a person named for curl: CURL_CA_BUNDLE, else
// SSL_CERT_FILE, as the curl tool reads them; nothing means the system's
// store (libcurl's built-in default).
const char* CaBundle() {
  for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return nullptr;
}

bool IsHttps(const std::string& url) {
  return url.size() >= 8 &&
         std::equal(url.begin(), url.begin() + 8, "https://", [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         });
}

// Certificates are always checked, against the system's store or the bundle
// named for curl, and an HTTPS request is never redirected to plain HTTP.
bool ConfigureTls(CURL* easy, const std::string& url) {
  bool ok = curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR,
                             IsHttps(url) ? "https" : "http,https") == CURLE_OK;
  if (const char* bundle = CaBundle())
    ok = ok && curl_easy_setopt(easy, CURLOPT_CAINFO, bundle) == CURLE_OK;
  return ok;
}

bool Configure(CURL* easy, const std::string& url, const DownloadOptions& options, Transfer& t,
               curl_slist* headers) {
  bool ok = ConfigureTls(easy, url);
  auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
  set(curl_easy_setopt(easy, CURLOPT_URL, url.c_str()));
  set(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L));
  set(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https"));
  set(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L));
  set(curl_easy_setopt(easy, CURLOPT_MAXREDIRS,
                       static_cast<long>(std::max(options.max_redirects, 0))));
  set(curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L));
  set(curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers));
  set(curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes));
  if (options.connect_timeout_ms > 0) {
    set(curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, options.connect_timeout_ms));
  }
  if (options.max_bytes > 0) {
    set(curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(options.max_bytes)));
  }
  set(curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody));
  set(curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t));
  set(curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader));
  set(curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t));
  set(curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &OnConnected));
  set(curl_easy_setopt(easy, CURLOPT_PREREQDATA, &t));
  set(curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &OnProgress));
  set(curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &t));
  set(curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L));
  set(curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t.error));
  return ok;
}

CURLcode DoneResult(CURLM* multi) {
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
    if (msg->msg == CURLMSG_DONE) return msg->data.result;
  }
  return CURLE_FAILED_INIT;
}

// Drives the transfer with waits short enough to judge its pace to the
// millisecond (curl_easy_perform would only look once a second). The multi
// handle outlives the transfer: its connection cache keeps the connection.
CURLcode Perform(CURLM* multi, CURL* easy, Transfer& t) {
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;
  CURLcode result = CURLE_OK;
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
    if (running == 0) {
      result = DoneResult(multi);
      break;
    }
    const Clock::time_point now = Clock::now();
    t.verdict = t.pace.Judge(now);
    if (t.verdict != Verdict::kKeepGoing) {
      result = CURLE_OPERATION_TIMEDOUT;
      break;
    }
    const auto wait = t.pace.UntilDue(now, kReportEvery);
    curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::max<long>(wait.count(), 1)), nullptr);
    ReportIfQuiet(t);
  }
  // A transfer cut short leaves its connection closed, never cached.
  curl_multi_remove_handle(multi, easy);
  return result;
}

long Classify(CURLcode code, const Transfer& t, long http_status) {
  if (t.local_error) return platform::kDownloadLocalError;
  if (t.too_large || code == CURLE_FILESIZE_EXCEEDED) return platform::kDownloadTooLarge;
  if (t.refused) return platform::kDownloadTransportError;
  if (t.not_the_file || code == CURLE_HTTP_RETURNED_ERROR) return platform::kDownloadHttpError;
  if (code != CURLE_OK) return platform::kDownloadTransportError;
  // A final 1xx/3xx answer (say a redirect without a target) is not the file.
  if (http_status < 200 || http_status > 299) return platform::kDownloadHttpError;
  if (t.expected >= 0 && t.received != t.expected) return platform::kDownloadTransportError;
  return platform::kDownloadOk;
}

std::string Duration(long ms) {
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// What went wrong, in words, for a download that failed on the server's side.
std::string Reason(long result, CURLcode code, const Transfer& t, long http_status,
                   const DownloadOptions& o) {
  if (t.verdict == Verdict::kStalled) return "no data for " + Duration(o.stall_timeout_ms);
  if (t.refused) return t.start.reason;
  if (t.verdict == Verdict::kTooSlow) {
    return "slower than " + std::to_string(o.min_rate_bytes_per_s) + " bytes/s over " +
           Duration(o.rate_window_ms);
  }
  if (result == platform::kDownloadTooLarge) {
    return "the answer is over the limit of " + std::to_string(o.max_bytes) + " bytes";
  }
  if (result == platform::kDownloadHttpError)
    return "the server answered HTTP " + std::to_string(http_status);
  if (code == CURLE_OK) {
    return "the connection closed after " + std::to_string(t.received) + " of " +
           std::to_string(t.expected) + " bytes";
  }
  return t.error[0] != '\0' ? t.error : curl_easy_strerror(code);
}

struct Outcome {
  long result = platform::kDownloadOk;
  long http_status = 0;
  std::string reason;      // set for a failure on the server's side
  bool drop_kept = false;  // the kept bytes are of no use to a later attempt
};

// Kept bytes go when the answer refused them: a part that does not continue
// them, a range past the end of the file as it is now (416), a file over the
// limit, or a body with no validator to ask for the rest by.
bool DropsKeptBytes(const Transfer& t, long http_status) {
  if (t.refused || t.too_large || (t.asked_range && http_status == 416)) return true;
  return t.body_started && t.start.validator.empty();
}

// The body goes to `fd`; with `kept`, a resumable download of `partial`.
Outcome Fetch(CURLM* multi, const std::string& url, const DownloadOptions& options, int fd,
              KeptFile* kept) {
  std::unique_ptr<CURL, EasyCleanup> easy(curl_easy_init());
  Transfer t(options);
  t.easy = easy.get();
  t.fd = fd;
  t.max_bytes = options.max_bytes;
  t.observer = options.observer;
  t.sink = options.sink;
  if (kept != nullptr) {
    t.partial = *options.partial;
    t.kept = kept;
    t.asked_range = platform::RangeRequestFor(t.partial).has_value();
  }
  ListPtr headers = RequestHeaders(t);
  if (!easy || !headers) return {platform::kDownloadTransportError, 0, "libcurl cannot start"};
  if (!Configure(easy.get(), url, options, t, headers.get())) {
    return {platform::kDownloadTransportError, 0, "libcurl refused the options"};
  }
  CURLcode code = Perform(multi, easy.get(), t);
  // An empty body brings no byte to begin it with.
  if (code == CURLE_OK && !t.body_started && !t.not_the_file && !BeginBody(t))
    code = CURLE_WRITE_ERROR;
  long http_status = 0;
  curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &http_status);
  const long result = Classify(code, t, http_status);
  Outcome out{result, http_status, "",
              kept != nullptr && result != platform::kDownloadOk && DropsKeptBytes(t, http_status)};
  if (result == platform::kDownloadOk || result == platform::kDownloadLocalError) return out;
  out.reason = code == CURLE_UNSUPPORTED_PROTOCOL && IsHttps(url)
                   ? "a redirect from HTTPS down to plain HTTP, refused"
                   : Reason(result, code, t, http_status, options);
  return out;
}

bool IsOnlineInterface(const ifaddrs& entry) {
  if (entry.ifa_addr == nullptr) return false;
  const int family = entry.ifa_addr->sa_family;
  if (family != AF_INET && family != AF_INET6) return false;
  const unsigned flags = entry.ifa_flags;
  return (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK);
}

}  // namespace

struct CurlNetwork::Connections {
  struct MultiCleanup {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
  };
  std::unique_ptr<CURLM, MultiCleanup> multi;
};

CurlNetwork::CurlNetwork() : connections_(std::make_unique<Connections>()) {
  InitCurlOnce();
  if (!g_curl_ready) return;
  connections_->multi.reset(curl_multi_init());
  if (connections_->multi) {
    curl_multi_setopt(connections_->multi.get(), CURLMOPT_MAXCONNECTS, kCachedConnections);
  }
}

CurlNetwork::~CurlNetwork() = default;

bool CurlNetwork::IsConnected() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool online = false;
  for (const ifaddrs* entry = list; entry != nullptr && !online; entry = entry->ifa_next) {
    online = IsOnlineInterface(*entry);
  }
  freeifaddrs(list);
  return online;
}

long CurlNetwork::Download(const std::string& url, const std::string& path,
                           const platform::DownloadOptions& options) {
  if (!connections_->multi) return platform::kDownloadTransportError;
  if (options.partial != nullptr) {
    // Another agent writing the same partial file: this one does without.
    KeptFile kept(ToPosixPath(options.partial->path));
    if (kept.open()) return DownloadKept(url, path, options, kept);
  }
  PartFile part(ToPosixPath(path));
  if (!part.created()) return platform::kDownloadLocalError;
  const Outcome outcome = Fetch(connections_->multi.get(), url, options, part.fd(), nullptr);
  const bool answered = options.not_found_is_an_answer && outcome.http_status == 404;
  if (options.note_failure && !answered) NoteFailure(url, outcome.reason);
  if (outcome.result != platform::kDownloadOk) return outcome.result;
  return part.Commit() ? platform::kDownloadOk : platform::kDownloadLocalError;
}

long CurlNetwork::DownloadKept(const std::string& url, const std::string& path,
                               platform::DownloadOptions options, KeptFile& kept) {
  // Only bytes the caller knows of are taken up again.
  platform::PartialTransfer partial = *options.partial;
  if (kept.size() != partial.size) partial.size = 0;
  options.partial = &partial;
  const Outcome outcome = Fetch(connections_->multi.get(), url, options, kept.fd(), &kept);
  NoteFailure(url, outcome.reason);
  if (outcome.drop_kept) kept.Discard();
  if (outcome.result != platform::kDownloadOk) return outcome.result;
  return kept.Commit(ToPosixPath(path)) ? platform::kDownloadOk : platform::kDownloadLocalError;
}

void CurlNetwork::NoteFailure(const std::string& url, const std::string& reason) {
  if (!reason.empty() && !failure_) failure_ = TransferFailure{url, reason};
}

// A refusal is what failed the run, whatever failed to download before it
// (a notice that is not there); the first refusal stays.
void CurlNetwork::NoteRefused(const std::string& url, const std::string& reason) {
  if (!failure_ || !failure_->refused) failure_ = TransferFailure{url, reason, true};
}

void CurlNetwork::NoteProblem(const std::string& what, const std::string& reason) {
  problems_.push_back(TransferFailure{what, reason, false});
}

std::vector<TransferFailure> CurlNetwork::TakeProblems() { return std::exchange(problems_, {}); }

std::optional<TransferFailure> CurlNetwork::TakeFailure() {
  return std::exchange(failure_, std::nullopt);
}

}  // namespace mb::posix
