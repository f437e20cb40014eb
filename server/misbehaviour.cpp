#include "server/misbehaviour.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <map>
#include <memory>
#include <thread>

namespace mb::server {
namespace {

using Body = std::shared_ptr<const std::string>;

struct Peer {
  int local_port;
  int remote_port;
};

// Content-Length of the whole body, but only its first half is sent; the
// provider's false makes the server drop the connection there.
void CutShort(const Body& body, const Reply& reply, httplib::Response& res) {
  std::size_t claimed = std::max<std::size_t>(body->size(), 1);
  res.set_content_provider(claimed, reply.content_type,
                           [body](std::size_t, std::size_t, httplib::DataSink& sink) {
                             sink.write(body->data(), body->size() / 2);
                             return false;
                           });
}

// The port of a socket address; 0 if it is no IP address.
int PortOf(const sockaddr_storage& a) {
  if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
  if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
  return 0;
}

// The server's socket of the connection between these ports, or -1. The
// HTTP library keeps its sockets to itself, so they are looked up by address.
int FindConnection(int local_port, int remote_port) {
  for (int fd = 3; fd < 65536; ++fd) {
    sockaddr_storage local{}, remote{};
    socklen_t local_size = sizeof local, remote_size = sizeof remote;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_size) != 0) continue;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remote_size) != 0) continue;
    if (PortOf(local) == local_port && PortOf(remote) == remote_port) return fd;
  }
  return -1;
}

// Half the body, then an abortive disconnect: connect() to an address of
// family 0 makes the kernel drop the connection with a RST; the library's own
// shutdown and close that follow find it already gone.
void ResetHalfway(const Body& body, const Reply& reply, const Peer& peer, httplib::Response& res) {
  std::size_t claimed = std::max<std::size_t>(body->size(), 1);
  res.set_content_provider(claimed, reply.content_type,
                           [body, peer](std::size_t, std::size_t, httplib::DataSink& sink) {
                             sink.write(body->data(), body->size() / 2);
                             int fd = FindConnection(peer.local_port, peer.remote_port);
                             sockaddr no_family{};  // sa_family 0
                             // If it fails, the close that follows still cuts the body short.
                             if (fd >= 0) (void)connect(fd, &no_family, sizeof no_family);
                             return false;
                           });
}

void NeverEnd(const Body& body, const Reply& reply, const std::atomic<bool>& stopping,
              httplib::Response& res) {
  auto filler = std::make_shared<const std::string>(64 * 1024, 'x');
  res.set_chunked_content_provider(
      reply.content_type, [body, filler, &stopping](std::size_t offset, httplib::DataSink& sink) {
        const std::string& next = offset == 0 && !body->empty() ? *body : *filler;
        return !stopping && sink.write(next.data(), next.size());
      });
}

// Sleeps ms, waking early once the server stops.
void Pause(int ms, const std::atomic<bool>& stopping) {
  for (int slept = 0; slept < ms && !stopping; slept += 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void Drip(const Body& body, const Reply& reply, int drip_ms, const std::atomic<bool>& stopping,
          httplib::Response& res) {
  res.set_content_provider(
      body->size(), reply.content_type,
      [body, drip_ms, &stopping](std::size_t offset, std::size_t, httplib::DataSink& sink) {
        if (stopping || !sink.write(body->data() + offset, 1)) return false;
        Pause(drip_ms, stopping);
        return true;
      });
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

void RespondBadly(const ServerOptions& options, const Reply& reply, const httplib::Request& req,
                  const std::atomic<bool>& stopping, httplib::Response& res) {
  auto body = std::make_shared<const std::string>(BodyOf(reply));
  res.status = reply.status;
  switch (options.misbehaviour) {
    case Misbehaviour::kNone:
      res.set_content(*body, reply.content_type);
      return;
    case Misbehaviour::kResetMidBody:
      return ResetHalfway(body, reply, Peer{req.local_port, req.remote_port}, res);
    case Misbehaviour::kShortBody:
      return CutShort(body, reply, res);
    case Misbehaviour::kEndlessBody:
      return NeverEnd(body, reply, stopping, res);
    case Misbehaviour::kSlowDrip:
      return Drip(body, reply, options.drip_ms, stopping, res);
    case Misbehaviour::kServerError:
      res.status = 500;
      res.set_content("Internal Server Error", "text/plain");
      return;
    case Misbehaviour::kRedirectLoop:
      res.set_redirect(req.target, 302);
      return;
    case Misbehaviour::kWrongHash:
      res.set_content(reply.manifest ? WithWrongHashes(*body) : *body, reply.content_type);
      return;
  }
}

}  // namespace mb::server
