// The mailbeacon-server program as scripts run it: --port-file, then SIGTERM.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <chrono>
#include <thread>

#include "helpers/temp_dir.h"

extern char** environ;

namespace mb::server {
namespace {

pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  return pid;
}

// Ends the program if a failed assertion leaves the test early.
struct Reaper {
  pid_t pid;
  bool reaped = false;
  ~Reaper() {
    if (reaped || pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
};

TEST(ServerProgram, WritesItsPortServesAndStopsOnSigterm) {
  test::TempDir temp;
  test::WriteFile(temp / "release/pause.txt", "Y\r\n");
  std::filesystem::path port_file = temp / "port";
  pid_t pid =
      Spawn({std::string(MB_BIN_DIR) + "/mailbeacon-server", "--root", (temp / "release").string(),
             "--port-file", port_file.string(), "--vdir", "/mb", "--log", (temp / "log").string(),
             "--access-log", (temp / "access").string()});
  Reaper reaper{pid};
  for (int i = 0; i < 500 && !std::filesystem::exists(port_file); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(std::filesystem::exists(port_file));
  int port = std::stoi(test::ReadFile(port_file));

  httplib::Client client("127.0.0.1", port);
  httplib::Result result = client.Get("/mb/download/pause.aspx");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->body, "Y\r\n");

  // The line is written once the answer went out, a moment after the client
  // has it. Then logrotate moves the access log away and sends SIGUSR1.
  for (int i = 0; i < 500 && test::ReadFile(temp / "access").empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::filesystem::rename(temp / "access", temp / "access.1");
  kill(pid, SIGUSR1);
  for (int i = 0; i < 500 && !std::filesystem::exists(temp / "access"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(client.Get("/mb/download/pause.aspx?again=1"));

  kill(pid, SIGTERM);
  int status = -1;
  waitpid(pid, &status, 0);
  reaper.reaped = true;
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(test::ReadFile(temp / "access.1").find("GET /mb/download/pause.aspx 200 3\n"),
            std::string::npos);
  EXPECT_NE(test::ReadFile(temp / "access").find("GET /mb/download/pause.aspx?again=1 200 3\n"),
            std::string::npos);
  EXPECT_EQ(test::ReadFile(temp / "log").find("pause.aspx"), std::string::npos);
}

TEST(ServerProgram, RefusesBadOptionsAndUnknownCodePages) {
  test::TempDir temp;
  test::WriteFile(temp / "file", "not a folder");
  for (const std::vector<std::string>& extra :
       std::vector<std::vector<std::string>>{{"--nonsense"},
                                             {"--codepage", "4242"},
                                             {"--root", (temp / "file").string()},
                                             {"--root", (temp / "missing").string()},
                                             {"--misbehave-on", "x"}}) {
    std::vector<std::string> args = {std::string(MB_BIN_DIR) + "/mailbeacon-server"};
    args.insert(args.end(), extra.begin(), extra.end());
    int status = -1;
    waitpid(Spawn(args), &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << extra[0];
  }
}

}  // namespace
}  // namespace mb::server

namespace mb::server {
namespace {

TEST(ServerProgram, PrintsAnIpv6UrlWithBrackets) {
  test::TempDir temp;
  std::string port_file = (temp / "port").string();
  std::string out = (temp / "out").string();
  pid_t pid = -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> args = {std::string(MB_BIN_DIR) + "/mailbeacon-server",
                                   "--root",
                                   temp.str(),
                                   "--host",
                                   "::1",
                                   "--port-file",
                                   port_file};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  Reaper reaper{pid};
  for (int i = 0; i < 500 && !std::filesystem::exists(port_file); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!std::filesystem::exists(port_file))
    GTEST_SKIP() << "no IPv6 loopback: " << test::ReadFile(out);
  std::string port = test::ReadFile(port_file);
  port.pop_back();
  for (int i = 0; i < 500 && test::ReadFile(out).find("serving") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_NE(test::ReadFile(out).find("on http://[::1]:" + port + "/mailbeaconhome/download/"),
            std::string::npos)
      << test::ReadFile(out);
}

}  // namespace
}  // namespace mb::server
