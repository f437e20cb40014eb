#include "server/server.h"

#include <microhttpd.h>
#include <netdb.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "server/answer_chain.h"
#include "server/endpoints.h"
#include "server/header_deadline.h"
#include "server/listen_address.h"
#include "server/metrics.h"
#include "server/metrics_listener.h"
#include "server/observe/signature_expiry.h"
#include "server/release_watch.h"
#include "server/request_log.h"
#include "server/rollout/rollout_board.h"

namespace mb::server {
namespace {

const int kAllowedMemoryPerConnection = 16 * 1024;

// The peer's address, numeric: "192.0.2.7" or "2001:db8::7".
std::string ClientAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr || info->client_addr == nullptr) return "";
  const sockaddr* address = info->client_addr;
  socklen_t size = address->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  char host[NI_MAXHOST];
  if (getnameinfo(address, size, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) return "";
  return host;
}

}  // namespace

struct Server::Impl {
  explicit Impl(const ServerOptions& o)
      : options(o),
        endpoints(o.vdir, o.cache),
        log(o.log_file, o.access_log_file),
        metrics(o.metrics_listen.empty() ? nullptr : std::make_unique<Metrics>()),
        watch(ReleaseFolder(o.root), o.code_page, o.cache,
              [this](const std::vector<std::string>& warnings) {
                for (const std::string& w : warnings) log.Warning(w);
                if (metrics) metrics->SnapshotInstalled();
              }),
        rollout(o.root, o.code_page, o.cache, o.expiry_warning_days,
                [this](const std::string& warning) { log.Warning(warning); }),
        chain(options, endpoints, watch, rollout, stopping),
        metrics_listener([this] {
          return MetricsText(metrics->Sample(*watch.Current(), std::chrono::system_clock::now()));
        }),
        header_deadline(std::chrono::seconds(o.header_timeout_s)) {}

  void Start();
  void AddRolloutGauges();

  static void Connected(void* cls, MHD_Connection* connection, void** socket_context,
                        MHD_ConnectionNotificationCode code);
  static void* Arrived(void* cls, const char* uri, MHD_Connection* connection);
  static MHD_Result Handle(void* cls, MHD_Connection* connection, const char* url,
                           const char* method, const char* version, const char* upload_data,
                           std::size_t* upload_data_size, void** req_cls);
  static void Completed(void* cls, MHD_Connection*, void** req_cls, MHD_RequestTerminationCode);

  ServerOptions options;
  Endpoints endpoints;
  RequestLog log;
  std::unique_ptr<Metrics> metrics;  // counted only when they are served
  ReleaseWatch watch;
  RolloutBoard rollout;
  std::atomic<bool> stopping{false};
  AnswerChain chain;
  MetricsListener metrics_listener;
  HeaderDeadline header_deadline;
  MHD_Daemon* daemon = nullptr;
  int port = 0;
  mutable std::mutex requests_mutex;
  std::vector<std::string> requests;
};

// A connection's peer address, written once for all its requests.
void Server::Impl::Connected(void* cls, MHD_Connection* connection, void** socket_context,
                             MHD_ConnectionNotificationCode code) {
  auto& s = *static_cast<Impl*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    *socket_context = new std::string(ClientAddress(connection));
    if (s.metrics) s.metrics->ConnectionOpened();
    s.header_deadline.Opened(connection, ConnectionSocket(connection));
  } else {
    s.header_deadline.Closed(connection);
    delete static_cast<std::string*>(*socket_context);
    *socket_context = nullptr;
    if (s.metrics) s.metrics->ConnectionClosed();
  }
}

void* Server::Impl::Arrived(void* cls, const char* uri, MHD_Connection* connection) {
  auto& s = *static_cast<Impl*>(cls);
  auto* exchange = new Exchange;
  exchange->target = uri;
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  if (info != nullptr && info->socket_context != nullptr)
    exchange->client = *static_cast<const std::string*>(info->socket_context);
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
    if (!exchange.headers_seen) s.header_deadline.HeadersIn(connection);
    exchange.headers_seen = true;
    *upload_data_size = 0;
    return MHD_YES;
  }
  exchange.method = method;
  exchange.snapshot = s.watch.Current();
  return s.chain.Answer(connection, exchange);
}

void Server::Impl::Completed(void* cls, MHD_Connection* connection, void** req_cls,
                             MHD_RequestTerminationCode code) {
  auto& s = *static_cast<Impl*>(cls);
  s.header_deadline.AnswerDone(connection);
  auto* exchange = static_cast<Exchange*>(*req_cls);
  if (exchange == nullptr) return;
  s.log.Completed(*exchange, code == MHD_REQUEST_TERMINATED_COMPLETED_OK);
  if (s.metrics) s.metrics->Completed(*exchange, code == MHD_REQUEST_TERMINATED_COMPLETED_OK);
  delete exchange;
  *req_cls = nullptr;
}

// What the rollout board keeps, in every sample of the metrics.
void Server::Impl::AddRolloutGauges() {
  metrics->AddGauges([this](MetricsSample& m) {
    const std::shared_ptr<const ReleaseSnapshot> snapshot = watch.Current();
    m.shares = rollout.View(snapshot)->shares;
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    for (const SignatureExpiry& e : SignatureExpiries(*snapshot))
      m.signature_expiries.emplace_back(e.key, static_cast<double>(e.expires - now));
  });
}

void Server::Impl::Start() {
  rollout.View(watch.Current());  // the rollout state's findings, at start
  if (metrics) AddRolloutGauges();
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
      MHD_OPTION_NOTIFY_CONNECTION, &Impl::Connected, this,
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
  header_deadline.Start();
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
  port = info != nullptr ? info->port : options.port;
  if (!metrics) return;
  try {
    metrics_listener.Start(options.metrics_listen);
  } catch (...) {
    MHD_stop_daemon(daemon);
    daemon = nullptr;
    throw;
  }
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

int Server::MetricsPort() const { return impl_->metrics_listener.Port(); }

std::vector<std::string> Server::Requests() const {
  std::lock_guard<std::mutex> lock(impl_->requests_mutex);
  return impl_->requests;
}

void Server::ClearRequests() {
  std::lock_guard<std::mutex> lock(impl_->requests_mutex);
  impl_->requests.clear();
}

void Server::Reload() { impl_->watch.Rebuild(); }

bool Server::ReopenLogs() { return impl_->log.Reopen(); }

std::vector<std::string> Server::Warnings() const { return impl_->watch.Current()->Warnings(); }

void Server::Stop() {
  if (impl_->daemon == nullptr) return;
  impl_->stopping = true;  // ends slow and endless bodies, or the stop would wait for them
  impl_->metrics_listener.Stop();
  MHD_stop_daemon(impl_->daemon);
  impl_->daemon = nullptr;
  impl_->header_deadline.Stop();
  impl_->watch.Stop();
}

}  // namespace mb::server
