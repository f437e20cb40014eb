#include "server/server.h"

#include <httplib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "server/endpoints.h"
#include "server/misbehaviour.h"
#include "server/request_log.h"

namespace mb::server {
namespace {

// Streams the file in pieces. A file that shrank since the answer was made
// ends the connection short of its Content-Length rather than padding it.
void SendFile(const std::filesystem::path& path, std::uintmax_t size, const std::string& type,
              httplib::Response& res) {
  auto in = std::make_shared<std::ifstream>(path, std::ios::binary);
  res.set_content_provider(
      static_cast<std::size_t>(size), type,
      [in](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        std::array<char, std::size_t{64} * 1024> buffer;
        in->seekg(static_cast<std::streamoff>(offset));
        in->read(buffer.data(), static_cast<std::streamsize>(std::min(length, buffer.size())));
        auto got = static_cast<std::size_t>(in->gcount());
        return got > 0 && sink.write(buffer.data(), got);
      });
}

}  // namespace

struct Server::Impl {
  explicit Impl(const ServerOptions& o)
      : options(o), endpoints(ReleaseFolder(o.root), o.vdir, o.code_page), log(o.log_file) {}

  void Install();
  void Serve(const httplib::Request& req, httplib::Response& res);

  ServerOptions options;
  Endpoints endpoints;
  RequestLog log;
  httplib::Server http;
  std::thread thread;
  std::atomic<bool> serving_ended{false};
  std::atomic<bool> stopping{false};
  int port = 0;
  mutable std::mutex requests_mutex;
  std::vector<std::string> requests;
};

void Server::Impl::Install() {
  // Every request is recorded before routing, whatever its method.
  http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
    std::lock_guard<std::mutex> lock(requests_mutex);
    requests.push_back(req.target);
    return httplib::Server::HandlerResponse::Unhandled;
  });
  http.Get(".*", [this](const httplib::Request& req, httplib::Response& res) { Serve(req, res); });
  http.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    log.Request(req.method, req.target, res.status);
  });
}

void Server::Impl::Serve(const httplib::Request& req, httplib::Response& res) {
  Query query(req.params.begin(), req.params.end());
  Reply reply = endpoints.Handle(req.path, query);
  for (const std::string& note : reply.notes) log.Note(req.target, note);
  bool bend = options.misbehaviour != Misbehaviour::kNone &&
              req.target.find(options.misbehave_on) != std::string::npos;
  if (bend) return RespondBadly(options, reply, req, stopping, res);
  res.status = reply.status;
  if (reply.file) return SendFile(*reply.file, reply.file_size, reply.content_type, res);
  res.set_content(reply.body, reply.content_type);
}

Server::Server(const ServerOptions& options) : impl_(std::make_unique<Impl>(options)) {
  impl_->Install();
}

Server::~Server() { Stop(); }

void Server::Start() {
  Impl& s = *impl_;
  if (s.options.port == 0) {
    s.port = s.http.bind_to_any_port(s.options.host);
  } else if (s.http.bind_to_port(s.options.host, s.options.port)) {
    s.port = s.options.port;
  }
  if (s.port <= 0) {
    s.port = 0;
    throw std::runtime_error("cannot listen on " + s.options.host + ":" +
                             std::to_string(s.options.port));
  }
  s.serving_ended = false;
  s.stopping = false;
  s.thread = std::thread([&s] {
    s.http.listen_after_bind();
    s.serving_ended = true;
  });
  // stop() only takes effect once the accept loop runs.
  while (!s.http.is_running() && !s.serving_ended)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
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

void Server::Stop() {
  if (!impl_->thread.joinable()) return;
  impl_->stopping = true;  // ends slow and endless bodies, or stop() would wait for them
  impl_->http.stop();
  impl_->thread.join();
}

}  // namespace mb::server
