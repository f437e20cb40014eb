// mailbeacon-server: serves a release folder to Mailbeacon agents until it
// receives SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "server/command_line.h"
#include "server/endpoints.h"
#include "server/server.h"

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

int WaitForStopSignal(sigset_t& signals) {
  int received = 0;
  sigwait(&signals, &received);
  return received;
}

int Run(const mb::server::CommandLine& line) {
  // Blocked before any thread starts, so only sigwait sees them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  mb::server::Server server(line.options);
  server.Start();
  if (!line.port_file.empty()) WritePortFile(line.port_file, server.Port());
  std::cerr << "mailbeacon-server: serving " << line.options.root << " on http://"
            << line.options.host << ":" << server.Port()
            << mb::server::NormalizeVirtualDir(line.options.vdir) << "/download/" << std::endl;
  WaitForStopSignal(signals);
  server.Stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  std::optional<mb::server::CommandLine> line =
      mb::server::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!line) {
    std::cerr << "mailbeacon-server: " << error << "\n" << mb::server::kUsage;
    return 2;
  }
  if (line->help) {
    std::cout << mb::server::kUsage;
    return 0;
  }
  try {
    return Run(*line);
  } catch (const std::exception& e) {
    std::cerr << "mailbeacon-server: " << e.what() << "\n";
    return 1;
  }
}
