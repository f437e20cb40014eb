#include "platform/posix/posix_terminal_splash.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "progress/progress_text.h"

namespace mb::posix {
namespace {

// A memory FILE* standing in for stderr.
class MemoryOut {
 public:
  MemoryOut() : file_(open_memstream(&buffer_, &size_)) {}
  ~MemoryOut() {
    std::fclose(file_);
    std::free(buffer_);
  }
  std::FILE* file() { return file_; }
  std::string Text() {
    std::fflush(file_);
    return std::string(buffer_, size_);
  }

 private:
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

bool HasControlCharacterBesidesNewline(const std::string& s) {
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c < 0x20 && c != '\n') || c == 0x7F) return true;
  }
  return false;
}

TEST(TerminalSplashPlain, OneLinePerStatusChangeAndNoControlCharacters) {
  MemoryOut out;
  auto view = MakeTerminalSplashView(out.file(), false);
  view->SetStatus("Label1");  // the designed text, held before showing
  view->Show();
  view->SetTitle("Mailbeacon add-in menu created\r\n(re)Start\r\n\r\nWait a moment...");
  view->SetStatus("Comparing file versions");
  view->SetStatus("Comparing file versions");
  view->PaintBar(10, 100, 0x488457);
  view->SetTransfer(1, 2, 10, 100);
  view->PaintBar(100, 100, 0x488457);
  view->SetStatus("Bad\x1b[2J\rtext");
  view->SetTitle("Mailbeacon add-in menu created\r\n(re)Start\r\n\r\nWait a moment...");
  view->Refresh();
  view->Unload();
  const std::string text = out.Text();
  EXPECT_EQ(text,
            "Mailbeacon add-in menu created\n(re)Start\n\nWait a moment...\n"
            "Comparing file versions\n"
            "Bad [2J text\n");
  EXPECT_FALSE(HasControlCharacterBesidesNewline(text));
}

TEST(TerminalSplashPlain, ChangedTitleIsPrintedAgain) {
  MemoryOut out;
  auto view = MakeTerminalSplashView(out.file(), false);
  view->SetTitle("one");
  view->Show();
  view->Show();
  view->SetTitle("two");
  EXPECT_EQ(out.Text(), "one\ntwo\n");
}

class TerminalSplashTty : public ::testing::Test {
 protected:
  std::unique_ptr<platform::SplashView> Make() {
    return MakeTerminalSplashView(out.file(), true, [this] { return now; });
  }
  MemoryOut out;
  double now = 100.0;
};

TEST_F(TerminalSplashTty, StatusLineIsRedrawnInPlaceAndEndedOnUnload) {
  auto view = Make();
  view->Show();
  view->SetTitle("T1\r\nT2");
  view->SetStatus("Downloading files..");
  now += 0.5;
  view->PaintBar(50, 100, 0x488457);
  view->Unload();
  EXPECT_EQ(out.Text(),
            "T1\nT2\n"
            "\rDownloading files..\x1b[K"
            "\rDownloading files..  [############------------] 50%\x1b[K"
            "\n");
}

TEST_F(TerminalSplashTty, FastTicksAreHeldBackButTheLastOneIsShown) {
  auto view = Make();
  view->Show();
  view->SetStatus("s");
  view->PaintBar(10, 100, 0);
  now += 0.01;
  view->PaintBar(20, 100, 0);  // too soon: held back
  const std::string before = out.Text();
  EXPECT_EQ(before.find("20%"), std::string::npos);
  now += 0.01;
  view->PaintBar(100, 100, 0);  // complete: always drawn
  EXPECT_NE(out.Text().find("100%"), std::string::npos);
  now += 0.01;
  view->PaintBar(30, 100, 0);  // held back until the window unloads
  EXPECT_EQ(out.Text().find("30%"), std::string::npos);
  view->Unload();
  const std::string text = out.Text();
  EXPECT_NE(text.find("\rs  [#######-----------------] 30%\x1b[K\n"), std::string::npos);
  EXPECT_EQ(text.find('\n'), text.size() - 1);  // no line break before the end
}

TEST_F(TerminalSplashTty, TransferShowsBytesRateAndFileCount) {
  auto view = Make();
  view->Show();
  view->SetStatus("Downloading files..");
  view->SetTransfer(2, 5, 0, 4096);
  now += 1.0;
  view->SetTransfer(2, 5, 2048, 4096);
  EXPECT_NE(out.Text().find("Downloading files..  2.0 KiB / 4.0 KiB  2.0 KiB/s  file 2 of 5\x1b[K"),
            std::string::npos);
  view->PaintBar(100, 100, 0);
  view->SetTransfer(3, 5, 0, -1);  // the next file starts without a bar
  const std::string text = out.Text();
  EXPECT_EQ(text.substr(text.rfind('\r')), "\rDownloading files..  0 B  file 3 of 5\x1b[K");
}

TEST_F(TerminalSplashTty, NewTitleClearsTheLineAndRedrawsIt) {
  auto view = Make();
  view->Show();
  view->SetTitle("A");
  view->SetStatus("s");
  view->SetTitle("B");
  EXPECT_EQ(out.Text(), "A\n\rs\x1b[K\r\x1b[KB\n\rs\x1b[K");
}

// --- a real terminal

// Rows a terminal `columns` wide moves down while showing `bytes`: wraps at
// the right edge, returns on "\r", moves down on "\n", skips CSI sequences.
int RowsMoved(const std::string& bytes, int columns) {
  int row = 0, column = 0;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const char c = bytes[i];
    if (c == '\x1b') {
      i += 2;
      while (i < bytes.size() && !(bytes[i] >= '@' && bytes[i] <= '~')) ++i;
      ++i;
    } else if (c == '\r' || c == '\n') {
      column = 0;
      row += c == '\n';
      ++i;
    } else {
      std::size_t length = 1;
      while (i + length < bytes.size() && (bytes[i + length] & 0xC0) == 0x80) ++length;
      const int w = progress_text::DisplayWidth(bytes.substr(i, length));
      if (column + w > columns) {
        ++row;
        column = 0;
      }
      column += w;
      i += length;
    }
  }
  return row;
}

std::string ReadAvailable(int fd) {
  std::string text;
  char buffer[4096];
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, 200) > 0) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

TEST(TerminalSplashPty, RedrawStaysOnOneLineOfANarrowTerminal) {
  int master = -1, slave = -1;
  winsize size{};
  size.ws_col = 40;
  size.ws_row = 24;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
  std::FILE* tty = fdopen(slave, "w");
  ASSERT_NE(tty, nullptr);
  ASSERT_TRUE(isatty(fileno(tty)));
  {
    auto view = MakeTerminalSplashView(tty, true);
    view->Show();
    view->SetTitle("Line one\r\nLine two");
    view->SetStatus("파일을 다운로드 받고 있습니다. 잠시만 기다려주십시오.");
    for (int k = 1; k <= 3; ++k) {
      view->SetTransfer(k, 3, 0, 1 << 20);
      for (int part = 0; part <= 4; ++part) {
        view->SetTransfer(k, 3, part * (1 << 18), 1 << 20);
        view->PaintBar(part * 25.0, 100, 0);
      }
      view->SetStatus(std::string(k, '*'));
    }
    view->Unload();
  }
  std::fclose(tty);
  const std::string shown = ReadAvailable(master);
  close(master);
  ASSERT_NE(shown.find("Line two"), std::string::npos) << shown;
  EXPECT_GT(std::count(shown.begin(), shown.end(), '\r'), 10);
  // Two title lines, then the one status line ended by Unload.
  EXPECT_EQ(RowsMoved(shown, 40), 3) << shown;
}

}  // namespace
}  // namespace mb::posix
