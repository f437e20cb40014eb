// The backend's text conversions, error texts and command-line splitting,
// and the start delay the agent reads from that command line.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <utility>

#include "agent/start_delay.h"
#include "platform/win32/win32_process.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"

namespace mb::win32 {
namespace {

TEST(Win32Text, Utf8AndUtf16RoundTrip) {
  const std::string korean = "\xEC\x97\x85\xEB\x8D\xB0\xEC\x9D\xB4\xED\x8A\xB8";  // "업데이트"
  const std::wstring wide = Utf8ToWide(korean);
  EXPECT_EQ(wide, L"\uC5C5\uB370\uC774\uD2B8");
  EXPECT_EQ(WideToUtf8(wide), korean);
  EXPECT_EQ(Utf8ToWide(""), L"");
  // Text with an embedded NUL keeps its full length.
  EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)).size(), 3u);
}

TEST(Win32Text, ErrorTextIsTheSystemsDescriptionWithoutLineBreak) {
  const std::string text = ErrorText(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.back(), '\r');
  const Error e = WindowsError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(e.number(), 5);
  EXPECT_STRNE(e.what(), "");
}

TEST(Win32Process, ArgumentsFollowTheProgramName) {
  EXPECT_EQ(ArgumentsAfterProgram(L"Mailbeacon.exe -d 5"), L"-d 5");
  EXPECT_EQ(ArgumentsAfterProgram(L"\"C:\\Program Files\\M\\Mailbeacon.exe\" -d5"), L"-d5");
  EXPECT_EQ(ArgumentsAfterProgram(L"\"C:\\a b\\M.exe\""), L"");
  EXPECT_EQ(ArgumentsAfterProgram(L"M.exe \t  -d  1 -d 2"), L"-d  1 -d 2");
  EXPECT_EQ(ArgumentsAfterProgram(L"M.exe"), L"");
  EXPECT_EQ(ArgumentsAfterProgram(L"\"unterminated"), L"");
}

// The start delay the Windows agent takes from its own command line, for
// the examples its design gives (the POSIX agent reads them alike).
TEST(Win32Process, StartDelayOfTheDesignsExamples) {
  const std::pair<const wchar_t*, int> examples[] = {
      {L"Mailbeacon.exe", 10},
      {L"Mailbeacon.exe -d 5", 5000},
      {L"Mailbeacon.exe -d5", 5000},
      {L"Mailbeacon.exe -d  5", 5000},
      {L"Mailbeacon.exe -D 5", 10},
      {L"Mailbeacon.exe /d 5", 10},
      {L"Mailbeacon.exe -dx", 10},
      {L"Mailbeacon.exe -D 2", 10},
      {L"Mailbeacon.exe -d 1 -d 2", 12000},
      {L"Mailbeacon.exe -d 2.5", 2000},
      {L"Mailbeacon.exe -d 3.5", 4000},
      {L"\"C:\\Program Files\\M\\Mailbeacon.exe\" -d 32", 32000}};
  for (const auto& [command_line, ms] : examples) {
    EXPECT_EQ(StartIntervalMs(WideToUtf8(ArgumentsAfterProgram(command_line))), ms)
        << WideToUtf8(command_line);
  }
}

TEST(Win32Process, DirectoryKeepsOnlyTheSeparatorOfADriveRoot) {
  EXPECT_EQ(DirectoryOf(L"C:\\Program Files\\Mailbeacon\\Mailbeacon.exe"),
            L"C:\\Program Files\\Mailbeacon");
  EXPECT_EQ(DirectoryOf(L"C:\\Mailbeacon.exe"), L"C:\\");
  EXPECT_EQ(DirectoryOf(L"\\\\server\\share\\M.exe"), L"\\\\server\\share");
}

TEST(Win32Process, MachineFactsComeFromTheSystem) {
  Win32Process process;
  const std::string dir = process.InstallDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), '\\');
  const DWORD attrs = GetFileAttributesW(Utf8ToWide(dir + "\\mailbeacon_tests.exe").c_str());
  EXPECT_NE(attrs, INVALID_FILE_ATTRIBUTES) << dir;

  const std::string system = process.SystemDir();
  ASSERT_GE(system.size(), 8u);
  EXPECT_EQ(_stricmp(system.substr(system.size() - 8).c_str(), "system32"), 0) << system;

  SYSTEMTIME st{};
  GetLocalTime(&st);
  const platform::LocalTime now = process.Now();
  EXPECT_EQ(now.year, st.wYear);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.second, 60);

  // The system's random source: a fixed or clock-seeded number would put
  // every machine of a fleet in the same place of a staged release.
  std::set<std::uint32_t> drawn;
  for (int i = 0; i < 16; ++i) drawn.insert(process.RandomNumber());
  EXPECT_GT(drawn.size(), 12u);
}

}  // namespace
}  // namespace mb::win32
