#include "helpers/http_probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace mb::test {
namespace fs = std::filesystem;
namespace {

int Connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

std::string RawExchange(int port, const std::string& bytes, int timeout_ms) {
  int fd = Connect(port);
  if (fd < 0) return "";
  (void)send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  std::string received;
  char buffer[65536];
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return received;
}

RawAnswer ParseAnswer(const std::string& bytes) {
  RawAnswer a;
  std::size_t head_end = bytes.find("\r\n\r\n");
  if (bytes.rfind("HTTP/1.", 0) != 0 || head_end == std::string::npos) return a;
  a.status = std::stoi(bytes.substr(9, 3));
  std::size_t line = bytes.find("\r\n") + 2;
  while (line < head_end) {
    std::size_t end = bytes.find("\r\n", line);
    std::string header = bytes.substr(line, end - line);
    std::size_t colon = header.find(':');
    if (colon != std::string::npos) {
      std::size_t value = header.find_first_not_of(' ', colon + 1);
      a.headers[Lower(header.substr(0, colon))] =
          value == std::string::npos ? "" : header.substr(value);
    }
    line = end + 2;
  }
  a.body = bytes.substr(head_end + 4);
  return a;
}

RawAnswer RawRequest(int port, const std::string& target, const std::string& extra,
                     const std::string& method) {
  return ParseAnswer(RawExchange(port, method + " " + target +
                                           " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                           "Connection: close\r\n" +
                                           extra + "\r\n"));
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  close(fd);
  return ntohs(a.sin_port);
}

bool WaitForPort(int port, int timeout_ms) {
  for (int waited = 0; waited < timeout_ms; waited += 20) {
    int fd = Connect(port);
    if (fd >= 0) {
      close(fd);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string NginxProgram() {
  for (const char* p : {"/usr/sbin/nginx", "/usr/bin/nginx"})
    if (access(p, X_OK) == 0) return p;
  return "";
}

NginxProcess::NginxProcess(const fs::path& prefix, int port) : prefix_(prefix) {
  fs::create_directories(prefix / "logs");
  std::string program = NginxProgram();
  std::vector<std::string> args = {program,      "-p", prefix.string(),  "-c",
                                   "nginx.conf", "-e", "logs/error.log", "-g",
                                   "daemon off;"};
  pid_ = fork();
  if (pid_ == 0) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  ready_ = pid_ > 0 && WaitForPort(port, 10000);
}

NginxProcess::~NginxProcess() {
  if (pid_ <= 0) return;
  kill(pid_, SIGQUIT);  // graceful: the master takes its workers along
  for (int i = 0; i < 250; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

std::string NginxProcess::ErrorLog() const {
  std::ifstream in(prefix_ / "logs/error.log");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void OpenForNginx(const fs::path& dir) {
  std::error_code ec;
  for (fs::path p = dir; !p.empty() && p != p.root_path(); p = p.parent_path())
    fs::permissions(p,
                    fs::perms::others_read | fs::perms::others_exec | fs::perms::group_read |
                        fs::perms::group_exec,
                    fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(dir, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec))
    fs::permissions(it->path(),
                    fs::perms::others_read | fs::perms::group_read |
                        (it->is_directory() ? fs::perms::others_exec : fs::perms::none),
                    fs::perm_options::add, ec);
}

bool HasLine(const std::string& text, const std::string& line) {
  return text.find("\n" + line + "\n") != std::string::npos || text.rfind(line + "\n", 0) == 0;
}

std::string ScrapeUntil(int metrics_port, const std::string& line) {
  std::string text;
  for (int i = 0; i < 250; ++i) {
    text = RawRequest(metrics_port, "/metrics").body;
    if (HasLine(text, line)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return text;
}

}  // namespace mb::test
