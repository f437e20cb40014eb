#include "server/server.h"

#include <microhttpd.h>
#include <netdb.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "server/endpoints.h"
#include "server/http_answer.h"
#include "server/misbehaviour.h"
#include "server/release_watch.h"
#include "server/request_log.h"
#include "server/request_target.h"

namespace mb::server {
namespace {

// One request, from its request line to its completion. It holds the
// snapshot its answer lives in until the answer has been sent.
struct Exchange {
  std::string target;  // as sent
  std::string method = "?";
  std::string status = "-";  // "-": refused by the HTTP layer, or the client left
  bool headers_seen = false;
  std::shared_ptr<const ReleaseSnapshot> snapshot;
};

const int kAllowedMemoryPerConnection = 16 * 1024;

// The address to listen on; a host name is looked up.
sockaddr_storage ListenAddress(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr)
    throw std::runtime_error("cannot listen on " + host + ": not an address");
  sockaddr_storage address{};
  std::memcpy(&address, found->ai_addr, found->ai_addrlen);
  freeaddrinfo(found);
  return address;
}

// RFC 9110 token characters: what a method and a header name are made of.
bool IsToken(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos)
      return false;
  }
  return true;
}

MHD_Result CheckHeaderName(void* cls, MHD_ValueKind, const char* key, const char*) {
  if (IsToken(key)) return MHD_YES;
  *static_cast<bool*>(cls) = false;
  return MHD_NO;
}

// The library lets a few malformed requests through (an odd character in
// the method or a header name); they get 400 like the rest.
bool WellFormed(MHD_Connection* connection, const char* method) {
  bool ok = IsToken(method);
  if (ok) MHD_get_connection_values(connection, MHD_HEADER_KIND, &CheckHeaderName, &ok);
  return ok;
}

}  // namespace

struct Server::Impl {
  explicit Impl(const ServerOptions& o)
      : options(o),
        endpoints(o.vdir, o.cache),
        log(o.log_file),
        watch(ReleaseFolder(o.root), o.code_page, o.cache,
              [this](const std::vector<std::string>& warnings) {
                for (const std::string& w : warnings) log.Warning(w);
              }) {}

  MHD_Result Answer(MHD_Connection* connection, Exchange& exchange, const char* method);
  MHD_Result Queue(MHD_Connection* connection, Exchange& exchange, int status,
                   MHD_Response* response);
  void Start();

  static void* Arrived(void* cls, const char* uri, MHD_Connection*);
  static MHD_Result Handle(void* cls, MHD_Connection* connection, const char* url,
                           const char* method, const char* version, const char* upload_data,
                           std::size_t* upload_data_size, void** req_cls);
  static void Completed(void* cls, MHD_Connection*, void** req_cls, MHD_RequestTerminationCode);

  ServerOptions options;
  Endpoints endpoints;
  RequestLog log;
  ReleaseWatch watch;
  MHD_Daemon* daemon = nullptr;
  std::atomic<bool> stopping{false};
  int port = 0;
  mutable std::mutex requests_mutex;
  std::vector<std::string> requests;
};

void* Server::Impl::Arrived(void* cls, const char* uri, MHD_Connection*) {
  auto& s = *static_cast<Impl*>(cls);
  auto* exchange = new Exchange;
  exchange->target = uri;
  if (s.options.record_requests) {
    std::lock_guard<std::mutex> lock(s.requests_mutex);
    s.requests.push_back(exchange->target);
  }
  return exchange;
}

MHD_Result Server::Impl::Handle(void* cls, MHD_Connection* connection, const char*,
                                const char* method, const char*, const char*,
                                std::size_t* upload_data_size, void** req_cls) {
  auto& s = *static_cast<Impl*>(cls);
  auto& exchange = *static_cast<Exchange*>(*req_cls);
  // The first call only has the headers: an answer queued then would end the
  // connection (the library could not tell where the next request starts).
  // A request body is read and ignored; the answer comes after it.
  if (!exchange.headers_seen || *upload_data_size != 0) {
    exchange.headers_seen = true;
    *upload_data_size = 0;
    return MHD_YES;
  }
  return s.Answer(connection, exchange, method);
}

void Server::Impl::Completed(void* cls, MHD_Connection*, void** req_cls,
                             MHD_RequestTerminationCode) {
  auto& s = *static_cast<Impl*>(cls);
  auto* exchange = static_cast<Exchange*>(*req_cls);
  if (exchange == nullptr) return;
  s.log.Request(exchange->method, exchange->target, exchange->status);
  delete exchange;
  *req_cls = nullptr;
}

MHD_Result Server::Impl::Queue(MHD_Connection* connection, Exchange& exchange, int status,
                               MHD_Response* response) {
  if (response == nullptr) return MHD_NO;
  exchange.status = std::to_string(status);
  MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(status), response);
  MHD_destroy_response(response);  // the connection keeps its own reference
  return queued;
}

MHD_Result Server::Impl::Answer(MHD_Connection* connection, Exchange& exchange,
                                const char* method) {
  exchange.method = method;
  exchange.snapshot = watch.Current();
  std::optional<std::string> target = OriginForm(exchange.target);
  if (!target || !WellFormed(connection, method))
    return Queue(connection, exchange, 400, MakeTextResponse("Bad Request", 0));
  Reply reply = endpoints.Handle(*target, *exchange.snapshot);
  const mb::server::Answer& answer = *reply.answer;
  if (!reply.note.empty()) log.Note(exchange.target, reply.note);
  bool get = exchange.method == "GET" || exchange.method == "HEAD";
  if (answer.status != 404 && !get) {
    MHD_Response* r = MakeTextResponse("Method Not Allowed", options.cache.text_max_age);
    if (r != nullptr) MHD_add_response_header(r, "Allow", "GET, HEAD");
    return Queue(connection, exchange, 405, r);
  }
  if (options.misbehaviour != Misbehaviour::kNone &&
      exchange.target.find(options.misbehave_on) != std::string::npos) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    BadResponse bad = RespondBadly(options, answer, exchange.target,
                                   info != nullptr ? info->connect_fd : -1, stopping);
    return Queue(connection, exchange, bad.status, bad.response);
  }
  if (answer.file && !answer.file->Unchanged()) {
    log.Note(exchange.target, "the file changed since it was published; not served");
    watch.Poke();
    MHD_Response* r = MakeTextResponse("Service Unavailable", 0);
    if (r != nullptr) MHD_add_response_header(r, "Retry-After", "1");
    return Queue(connection, exchange, 503, r);
  }
  const char* none_match =
      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-None-Match");
  const char* modified_since =
      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-Modified-Since");
  if (ClientHoldsAnswer(answer, none_match, modified_since))
    return Queue(connection, exchange, 304, MakeNotModified(answer));
  const ByteRange range = RequestedRange(connection, answer);
  if (range.kind == ByteRange::Kind::kPart)
    return Queue(connection, exchange, 206, MakePartResponse(answer, range));
  if (range.kind == ByteRange::Kind::kUnsatisfiable)
    return Queue(connection, exchange, 416, MakeUnsatisfiable(answer));
  return Queue(connection, exchange, answer.status, MakeResponse(answer));
}

void Server::Impl::Start() {
  sockaddr_storage address = ListenAddress(options.host, options.port);
  bool misbehaving = options.misbehaviour != Misbehaviour::kNone;
  // A misbehaving server blocks in its answers (slow and endless bodies):
  // one thread per connection keeps that to the connection itself.
  unsigned flags = misbehaving ? MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD
                               : MHD_USE_EPOLL_INTERNAL_THREAD;
  if (address.ss_family == AF_INET6) flags |= MHD_USE_IPv6;
  unsigned threads = options.threads > 0 ? static_cast<unsigned>(options.threads)
                                         : std::max(1u, std::thread::hardware_concurrency());
  MHD_OptionItem pool = misbehaving ? MHD_OptionItem{MHD_OPTION_END, 0, nullptr}
                                    : MHD_OptionItem{MHD_OPTION_THREAD_POOL_SIZE, threads, nullptr};
  MHD_OptionItem items[] = {pool, {MHD_OPTION_END, 0, nullptr}};
  // clang-format off
  daemon = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &Impl::Handle, this,
      MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address),
      MHD_OPTION_URI_LOG_CALLBACK, &Impl::Arrived, this,
      MHD_OPTION_NOTIFY_COMPLETED, &Impl::Completed, this,
      MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(options.max_connections),
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<unsigned>(options.per_ip_connections),
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(options.idle_timeout_s),
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<std::size_t>(kAllowedMemoryPerConnection),
      MHD_OPTION_LISTEN_BACKLOG_SIZE, 1024u,
      MHD_OPTION_STRICT_FOR_CLIENT, 1,  // 400 for more malformed requests
      MHD_OPTION_ARRAY, items,
      MHD_OPTION_END);
  // clang-format on
  if (daemon == nullptr)
    throw std::runtime_error("cannot listen on " + options.host + ":" +
                             std::to_string(options.port));
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
  port = info != nullptr ? info->port : options.port;
}

Server::Server(const ServerOptions& options) : impl_(std::make_unique<Impl>(options)) {}

Server::~Server() { Stop(); }

void Server::Start() {
  impl_->stopping = false;
  impl_->watch.Start(std::chrono::milliseconds(impl_->options.check_interval_ms));
  try {
    impl_->Start();
  } catch (...) {
    impl_->watch.Stop();
    throw;
  }
}

int Server::Port() const { return impl_->port; }

std::vector<std::string> Server::Requests() const {
  std::lock_guard<std::mutex> lock(impl_->requests_mutex);
  return impl_->requests;
}

void Server::ClearRequests() {
  std::lock_guard<std::mutex> lock(impl_->requests_mutex);
  impl_->requests.clear();
}

void Server::Reload() { impl_->watch.Rebuild(); }

std::vector<std::string> Server::Warnings() const { return impl_->watch.Current()->Warnings(); }

void Server::Stop() {
  if (impl_->daemon == nullptr) return;
  impl_->stopping = true;  // ends slow and endless bodies, or the stop would wait for them
  MHD_stop_daemon(impl_->daemon);
  impl_->daemon = nullptr;
  impl_->watch.Stop();
}

}  // namespace mb::server
