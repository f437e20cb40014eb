#include "server/metrics_listener.h"

#include <microhttpd.h>

#include <cstring>
#include <stdexcept>

#include "server/listen_address.h"

namespace mb::server {
namespace {

constexpr unsigned kIdleTimeoutSeconds = 15;
constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

MHD_Result Queue(MHD_Connection* connection, unsigned status, const std::string& body,
                 const char* content_type) {
  MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", content_type);
  MHD_add_response_header(response, "Cache-Control", "no-store");
  if (status == 405) MHD_add_response_header(response, "Allow", "GET, HEAD");
  const MHD_Result queued = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return queued;
}

using Listening = MetricsListener::Callbacks;

MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, std::size_t* upload_data_size, void** req_cls) {
  auto& listening = *static_cast<Listening*>(cls);
  // The first call has only the headers; a body is read and ignored.
  if (*req_cls == nullptr || *upload_data_size != 0) {
    if (*req_cls == nullptr) listening.header_deadline->HeadersIn(connection);
    *req_cls = connection;
    *upload_data_size = 0;
    return MHD_YES;
  }
  if (std::strcmp(url, "/metrics") != 0) return Queue(connection, 404, "Not Found", "text/plain");
  if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0)
    return Queue(connection, 405, "Method Not Allowed", "text/plain");
  return Queue(connection, 200, (*listening.text)(), kContentType);
}

void Connected(void* cls, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code) {
  HeaderDeadline& deadline = *static_cast<Listening*>(cls)->header_deadline;
  if (code == MHD_CONNECTION_NOTIFY_STARTED)
    deadline.Opened(connection, ConnectionSocket(connection));
  else
    deadline.Closed(connection);
}

void Completed(void* cls, MHD_Connection* connection, void**, MHD_RequestTerminationCode) {
  static_cast<Listening*>(cls)->header_deadline->AnswerDone(connection);
}

}  // namespace

void MetricsListener::Start(const std::string& address) {
  const std::optional<std::pair<std::string, int>> where = SplitListenAddress(address);
  if (!where) throw std::runtime_error("cannot listen on " + address + ": not HOST:PORT");
  sockaddr_storage socket_address = ListenAddress(where->first, where->second);
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL;
  if (socket_address.ss_family == AF_INET6) flags |= MHD_USE_IPv6;
  // clang-format off
  void* cls = &callbacks_;
  daemon_ = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &Answer, cls,
      MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&socket_address),
      MHD_OPTION_NOTIFY_CONNECTION, &Connected, cls,
      MHD_OPTION_NOTIFY_COMPLETED, &Completed, cls,
      MHD_OPTION_CONNECTION_LIMIT, kConnections,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, kConnectionsPerAddress,
      MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutSeconds,
      MHD_OPTION_END);
  // clang-format on
  if (daemon_ == nullptr) throw std::runtime_error("cannot listen on " + address);
  header_deadline_.Start();
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info != nullptr ? info->port : where->second;
}

void MetricsListener::Stop() {
  if (daemon_ == nullptr) return;
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  header_deadline_.Stop();
}

}  // namespace mb::server
