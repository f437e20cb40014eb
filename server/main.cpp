// mailbeacon-server: serves a release folder to Mailbeacon agents until it
// receives SIGINT or SIGTERM (SIGHUP reads the folder again at once, SIGUSR1
// opens the log files again), or with "export" writes the answers as files
// for nginx, with "sign" signs a release folder offline ("sign-root" a root
// of trust), with "publish" puts a component's release in place, with
// "rollout" sets who takes it now.
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "server/command_line.h"
#include "server/commands.h"
#include "server/endpoints.h"
#include "server/listen_address.h"
#include "server/log_text.h"
#include "server/publish/publish_command.h"
#include "server/release_signing.h"
#include "server/rollout/rollout_command.h"
#include "server/root_signing.h"
#include "server/server.h"
#include "server/static_export.h"

namespace {

// Written beside and renamed, so a script polling for it never reads half.
void WritePortFile(const std::string& path, int port) {
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << port << '\n';
    if (!out) throw std::runtime_error("cannot write " + temporary);
  }
  std::filesystem::rename(temporary, path);
}

// Every connection is a descriptor: take as many as the system allows.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

// "http://127.0.0.1:8080" or "http://[::1]:8080".
std::string BaseUrl(const std::string& host, int port) {
  bool v6 = host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

int Run(const mb::server::CommandLine& line) {
  std::error_code ec;
  if (!std::filesystem::is_directory(line.options.root, ec))
    throw std::runtime_error("--root " + line.options.root + " is not a directory");
  // Blocked before any thread starts, so only sigwait sees them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  RaiseDescriptorLimit();

  mb::server::ServerOptions options = line.options;
  options.record_requests = false;  // only tests read them; a long run would pile them up
  mb::server::Server server(options);
  server.Start();
  if (!options.log_file.empty()) {
    for (const std::string& w : server.Warnings())
      std::cerr << "warning: " << mb::server::LogText(w, mb::server::LogEscape::kVendorText, 4096)
                << "\n";
  }
  if (!line.port_file.empty()) WritePortFile(line.port_file, server.Port());
  std::cerr << "mailbeacon-server: serving " << options.root << " on "
            << BaseUrl(options.host, server.Port()) << mb::server::NormalizeVirtualDir(options.vdir)
            << "/download/" << std::endl;
  if (!options.metrics_listen.empty()) {
    const std::string host = mb::server::SplitListenAddress(options.metrics_listen)->first;
    std::cerr << "mailbeacon-server: metrics on " << BaseUrl(host, server.MetricsPort())
              << "/metrics" << std::endl;
  }
  for (;;) {
    int received = 0;
    sigwait(&signals, &received);
    if (received == SIGHUP) {
      server.Reload();
    } else if (received == SIGUSR1) {
      if (!server.ReopenLogs()) std::cerr << "mailbeacon-server: cannot open a log file again\n";
    } else {
      break;
    }
  }
  server.Stop();
  return 0;
}

// Serving, the program without a command word.
int Serve(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string error;
  std::optional<mb::server::CommandLine> line = mb::server::ParseCommandLine(args, error);
  if (!line) {
    err << "mailbeacon-server: " << error << "\n" << mb::server::kUsage;
    return 2;
  }
  if (line->help) {
    out << mb::server::kUsage;
    return 0;
  }
  try {
    return Run(*line);
  } catch (const std::exception& e) {
    err << "mailbeacon-server: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<mb::server::Command> commands = {
      {"", mb::server::kUsage, Serve},
      {"export", mb::server::kExportUsage, mb::server::RunExport},
      {"sign", mb::server::kSignUsage, mb::server::RunSign},
      {"publish", mb::server::kPublishUsage, mb::server::RunPublish},
      {"sign-root", mb::server::kSignRootUsage, mb::server::RunSignRoot},
      {"rollout", mb::server::kRolloutUsage, mb::server::RunRollout},
  };
  return mb::server::RunCommand(commands, MB_PROJECT_VERSION,
                                std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                std::cerr);
}
