#include "server/misbehaviour.h"

#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include "server/http_answer.h"

namespace mb::server {
namespace {

// What a broken body sends, kept by its response.
struct BadBody {
  std::string bytes;
  int socket = -1;
  int drip_ms = 0;
  const std::atomic<bool>* stopping = nullptr;
};

void FreeBody(void* cls) { delete static_cast<BadBody*>(cls); }

std::string BodyOf(const Answer& answer) {
  if (!answer.file) return answer.body;
  return answer.file->ReadAll().value_or("");
}

// Copies up to max bytes of the body from pos.
ssize_t CopyOut(const std::string& bytes, std::uint64_t pos, std::size_t end, char* buf,
                std::size_t max) {
  std::size_t from = static_cast<std::size_t>(pos);
  std::size_t n = std::min(max, end - from);
  std::copy_n(bytes.data() + from, n, buf);
  return static_cast<ssize_t>(n);
}

// The first half, then the connection ends without the rest.
ssize_t HalfThenClose(void* cls, std::uint64_t pos, char* buf, std::size_t max) {
  auto& body = *static_cast<BadBody*>(cls);
  std::size_t half = body.bytes.size() / 2;
  if (pos < half) return CopyOut(body.bytes, pos, half, buf, max);
  return MHD_CONTENT_READER_END_WITH_ERROR;
}

// The first half, then an abortive disconnect: connect() to an address of
// family 0 makes the kernel drop the connection with a RST; the library's
// own close that follows finds it already gone.
ssize_t HalfThenReset(void* cls, std::uint64_t pos, char* buf, std::size_t max) {
  auto& body = *static_cast<BadBody*>(cls);
  std::size_t half = body.bytes.size() / 2;
  if (pos < half) return CopyOut(body.bytes, pos, half, buf, max);
  sockaddr no_family{};  // sa_family 0
  // If it fails, the close that follows still cuts the body short.
  if (body.socket >= 0) (void)connect(body.socket, &no_family, sizeof no_family);
  return MHD_CONTENT_READER_END_WITH_ERROR;
}

ssize_t Endless(void* cls, std::uint64_t pos, char* buf, std::size_t max) {
  auto& body = *static_cast<BadBody*>(cls);
  if (*body.stopping) return MHD_CONTENT_READER_END_WITH_ERROR;
  if (pos < body.bytes.size()) return CopyOut(body.bytes, pos, body.bytes.size(), buf, max);
  std::fill_n(buf, max, 'x');
  return static_cast<ssize_t>(max);
}

// Sleeps ms, waking early once the server stops.
void Pause(int ms, const std::atomic<bool>& stopping) {
  for (int slept = 0; slept < ms && !stopping; slept += 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10, ms - slept)));
}

ssize_t Drip(void* cls, std::uint64_t pos, char* buf, std::size_t) {
  auto& body = *static_cast<BadBody*>(cls);
  if (pos > 0) Pause(body.drip_ms, *body.stopping);
  if (*body.stopping) return MHD_CONTENT_READER_END_WITH_ERROR;
  buf[0] = body.bytes[static_cast<std::size_t>(pos)];
  return 1;
}

// A body that is the answer's own bytes as far as it goes (cut off, or
// dripped) carries the answer's validators, as a real server's does when
// the link fails under it: an agent may ask for the rest.
enum class Bytes { kTheAnswers, kOthers };

MHD_Response* FromCallback(std::uint64_t size, MHD_ContentReaderCallback read, BadBody* body,
                           const Answer& answer, Bytes bytes = Bytes::kOthers) {
  MHD_Response* r =
      MHD_create_response_from_callback(size, std::size_t{64} * 1024, read, body, FreeBody);
  if (r == nullptr) {
    delete body;
    return nullptr;
  }
  MHD_add_response_header(r, "Content-Type", answer.content_type.c_str());
  if (bytes == Bytes::kTheAnswers) AddValidators(r, answer);
  return r;
}

char NextHexDigit(char c) {
  static const std::string digits = "0123456789abcdef";
  std::size_t i = digits.find(c);
  return i == std::string::npos ? '0' : digits[(i + 1) % digits.size()];
}

}  // namespace

std::optional<Misbehaviour> ParseMisbehaviour(const std::string& name) {
  static const std::map<std::string, Misbehaviour> names = {
      {"none", Misbehaviour::kNone},
      {"reset", Misbehaviour::kResetMidBody},
      {"short-body", Misbehaviour::kShortBody},
      {"endless", Misbehaviour::kEndlessBody},
      {"slow-drip", Misbehaviour::kSlowDrip},
      {"error-500", Misbehaviour::kServerError},
      {"redirect-loop", Misbehaviour::kRedirectLoop},
      {"wrong-hash", Misbehaviour::kWrongHash},
  };
  auto it = names.find(name);
  if (it == names.end()) return std::nullopt;
  return it->second;
}

std::string WithWrongHashes(const std::string& manifest) {
  std::string out = manifest;
  const std::string key = "\nHASH=";
  for (std::size_t at = out.find(key); at != std::string::npos; at = out.find(key, at + 1)) {
    std::size_t end = out.find('\r', at + key.size());
    if (end != std::string::npos && end > at + key.size())
      out[end - 1] = NextHexDigit(out[end - 1]);
  }
  return out;
}

BadResponse RespondBadly(const ServerOptions& options, const Answer& answer,
                         const std::string& target, int socket, const std::atomic<bool>& stopping) {
  auto* body = new BadBody{BodyOf(answer), socket, options.drip_ms, &stopping};
  std::uint64_t claimed = std::max<std::size_t>(body->bytes.size(), 1);
  BadResponse bad{nullptr, answer.status};
  switch (options.misbehaviour) {
    case Misbehaviour::kResetMidBody:
      bad.response = FromCallback(claimed, HalfThenReset, body, answer, Bytes::kTheAnswers);
      return bad;
    case Misbehaviour::kShortBody:
      bad.response = FromCallback(claimed, HalfThenClose, body, answer, Bytes::kTheAnswers);
      return bad;
    case Misbehaviour::kEndlessBody:
      bad.response = FromCallback(MHD_SIZE_UNKNOWN, Endless, body, answer);
      return bad;
    case Misbehaviour::kSlowDrip:
      bad.response = FromCallback(body->bytes.size(), Drip, body, answer, Bytes::kTheAnswers);
      return bad;
    case Misbehaviour::kServerError:
      delete body;
      return {MakeTextResponse("Internal Server Error", 0), 500};
    case Misbehaviour::kRedirectLoop:
      delete body;
      bad = {MakeTextResponse("", 0), 302};
      if (bad.response != nullptr)
        MHD_add_response_header(bad.response, "Location", target.c_str());
      return bad;
    case Misbehaviour::kWrongHash:
    case Misbehaviour::kNone:
      if (answer.manifest && options.misbehaviour == Misbehaviour::kWrongHash)
        body->bytes = WithWrongHashes(body->bytes);
      bad.response = MHD_create_response_from_buffer(body->bytes.size(), body->bytes.data(),
                                                     MHD_RESPMEM_MUST_COPY);
      if (bad.response != nullptr)
        MHD_add_response_header(bad.response, "Content-Type", answer.content_type.c_str());
      delete body;
      return bad;
  }
  delete body;
  return bad;
}

}  // namespace mb::server
