#include "platform/win32/win32_network.h"

// clang-format off
#include "platform/win32/win32_windows.h"
#include <wininet.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/win32/win32_filesystem.h"
#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_text.h"

namespace mb::win32 {
namespace {

using platform::DownloadOptions;

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET h = nullptr) : h_(h) {}
  ~InternetHandle() {
    if (h_ != nullptr) InternetCloseHandle(h_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET Get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

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
                                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTO_REDIRECT;

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

bool IsHttpUrl(const std::string& url) {
  auto starts = [&](const char* prefix) {
    const std::string p(prefix);
    if (url.size() < p.size()) return false;
    return std::equal(p.begin(), p.end(), url.begin(), [](char a, char b) {
      return a == static_cast<char>(std::tolower(static_cast<unsigned char>(b)));
    });
  };
  return starts("http://") || starts("https://");
}

void SetTimeouts(HINTERNET session, const DownloadOptions& o) {
  auto set = [&](DWORD option, long ms) {
    DWORD value = static_cast<DWORD>(std::max(ms, 1L));
    InternetSetOptionA(session, option, &value, sizeof value);
  };
  set(INTERNET_OPTION_CONNECT_TIMEOUT, o.connect_timeout_ms);
  set(INTERNET_OPTION_SEND_TIMEOUT, o.stall_timeout_ms);
  set(INTERNET_OPTION_RECEIVE_TIMEOUT, o.stall_timeout_ms);
  set(INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, o.stall_timeout_ms);
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

// Reads the body into `out`, telling the observer; the transfer fails when
// the body outgrows the limit or ends short of its announced length.
long ReadBody(HINTERNET request, HANDLE out, const DownloadOptions& o) {
  bool announced = false;
  const DWORD length = QueryNumber(request, HTTP_QUERY_CONTENT_LENGTH, &announced);
  const std::int64_t expected = announced ? static_cast<std::int64_t>(length) : -1;
  if (expected > o.max_bytes) return platform::kDownloadTooLarge;
  if (o.observer != nullptr) o.observer->OnProgress(expected, 0);
  std::array<char, 64 * 1024> buf;
  std::int64_t received = 0;
  for (;;) {
    // Asking what has arrived first lets each read return at once, so the
    // observer follows a slow transfer instead of waiting for a full buffer.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request, &available, 0, 0)) {
      return platform::kDownloadTransportError;
    }
    if (available == 0) break;
    const DWORD want = std::min<DWORD>(available, static_cast<DWORD>(buf.size()));
    DWORD got = 0;
    if (!InternetReadFile(request, buf.data(), want, &got)) {
      return platform::kDownloadTransportError;
    }
    if (got == 0) break;
    received += got;
    if (received > o.max_bytes) return platform::kDownloadTooLarge;
    DWORD wrote = 0;
    if (!WriteFile(out, buf.data(), got, &wrote, nullptr) || wrote != got) {
      return platform::kDownloadLocalError;
    }
    if (o.observer != nullptr) o.observer->OnProgress(expected, received);
  }
  if (expected >= 0 && received != expected) return platform::kDownloadTransportError;
  return platform::kDownloadOk;
}

// Follows the redirects (bounded) and stores the final body in `tmp`.
long Fetch(HINTERNET session, std::string url, const std::wstring& tmp, const DownloadOptions& o) {
  for (int hops = 0;; ++hops) {
    InternetHandle request(InternetOpenUrlA(session, url.c_str(), nullptr, 0, kRequestFlags, 0));
    if (!request) return platform::kDownloadTransportError;
    const Response r = Classify(request.Get(), url);
    if (r.failure != platform::kDownloadOk) return r.failure;
    if (!r.location.empty()) {
      if (hops >= o.max_redirects || !IsHttpUrl(r.location)) return platform::kDownloadHttpError;
      url = r.location;
      continue;
    }
    UniqueHandle out(CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.Valid()) return platform::kDownloadLocalError;
    return ReadBody(request.Get(), out.Get(), o);
  }
}

}  // namespace

bool Win32Network::IsConnected() {
  DWORD flags = 0;
  return InternetGetConnectedState(&flags, 0) != FALSE;
}

long Win32Network::Download(const std::string& url, const std::string& path,
                            const DownloadOptions& options) {
  if (!IsHttpUrl(url)) return platform::kDownloadTransportError;
  InternetHandle session(
      InternetOpenA("Mailbeacon", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return platform::kDownloadTransportError;
  SetTimeouts(session.Get(), options);
  const std::wstring dest = Utf8ToWide(path);
  TemporaryFile tmp(TempNameBeside(dest));
  const long rc = Fetch(session.Get(), url, tmp.path, options);
  if (rc != platform::kDownloadOk) return rc;
  if (!MoveFileExW(tmp.path.c_str(), dest.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return platform::kDownloadLocalError;
  }
  tmp.kept = true;
  return platform::kDownloadOk;
}

}  // namespace mb::win32
