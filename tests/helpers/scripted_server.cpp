#include "helpers/scripted_server.h"

namespace mb::test {

ScriptedServer::ScriptedServer() {
  server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(req.target);
    const auto it = answers_.find(req.target);
    if (it == answers_.end()) {
      res.status = 404;
      return;
    }
    res.status = it->second.status;
    res.set_content(it->second.body, "application/octet-stream");
  });
  port_ = server_.bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  while (!server_.is_running()) std::this_thread::yield();
}

ScriptedServer::~ScriptedServer() {
  server_.stop();
  thread_.join();
}

std::string ScriptedServer::Url() const { return "http://127.0.0.1:" + std::to_string(port_); }

void ScriptedServer::Answer(const std::string& target, ScriptedAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[target] = std::move(answer);
}

std::vector<std::string> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void ScriptedServer::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

}  // namespace mb::test
