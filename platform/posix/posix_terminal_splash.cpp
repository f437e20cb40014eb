// The terminal front end of the progress window. On a terminal the title is
// printed once as plain lines and the status line below it is redrawn in
// place ("\r", the line, then clear to the end of the line), paced so that a
// fast download does not flood the terminal; unloading ends that line.
// Without a terminal (a log file, a pipe) it writes one plain line per status
// change and never a control character. What the view holds before its first
// Show (the window's designed texts) is not printed: only the title and the
// status changes that follow.
#include "platform/posix/posix_terminal_splash.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "progress/progress_text.h"
#include "progress/status_line.h"

namespace mb::posix {

namespace {

constexpr double kRedrawInterval = 0.1;  // seconds between progress redraws
constexpr int kDefaultColumns = 80;

double SteadySeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Columns of the terminal behind `out`, the usual 80 when it cannot tell.
int TerminalColumns(std::FILE* out) {
  winsize ws{};
  const int fd = fileno(out);
  if (fd >= 0 && ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return kDefaultColumns;
}

class TerminalSplashView final : public platform::SplashView {
 public:
  TerminalSplashView(std::FILE* out, bool is_tty, std::function<double()> clock)
      : out_(out), tty_(is_tty), clock_(std::move(clock)) {}

  void Show() override {
    shown_ = true;
    PrintTitleIfNew();
    std::fflush(out_);
  }

  void Refresh() override {
    if (pending_) Redraw(true);
    std::fflush(out_);
  }

  void Unload() override {
    if (pending_) Redraw(true);
    if (line_on_screen_) std::fputs("\n", out_);
    line_on_screen_ = false;
    shown_ = false;
    std::fflush(out_);
  }

  void Move(std::int32_t, std::int32_t) override {}
  void SetTopmost() override {}
  void SetPicture(int) override {}

  void SetTitle(const std::string& text) override {
    title_ = text;
    if (shown_) PrintTitleIfNew();
  }

  void SetStatus(const std::string& text) override {
    content_.status = text;
    if (!shown_) return;
    if (tty_) {
      Redraw(true);
    } else if (text != printed_status_) {
      printed_status_ = text;
      PrintPlainLine(text);
    }
  }

  void PaintBar(double filled_width, double surface_width, std::uint32_t) override {
    content_.fraction = surface_width > 0 ? filled_width / surface_width : 0.0;
    Redraw(*content_.fraction >= 1.0);
  }

  void SetTransfer(int file_index, int file_count, std::int64_t received,
                   std::int64_t expected) override {
    const bool new_file = !content_.transfer || content_.transfer->file_index != file_index;
    if (new_file) content_.fraction.reset();  // the last file's bar is over
    content_.transfer = TransferInfo{file_index, file_count, received, expected};
    meter_.Sample(clock_(), *content_.transfer);
    content_.rate = meter_.Rate();
    Redraw(new_file);
  }

 private:
  void PrintTitleIfNew() {
    if (printed_title_ == title_) return;
    printed_title_ = title_;
    if (title_.empty()) return;
    if (line_on_screen_) std::fputs("\r\x1b[K", out_);
    for (const std::string& line : progress_text::SplitLines(title_)) {
      PrintPlainLine(line);
    }
    if (line_on_screen_) Redraw(true);
    std::fflush(out_);
  }

  void PrintPlainLine(const std::string& text) {
    std::fputs(progress_text::Printable(text).c_str(), out_);
    std::fputs("\n", out_);
    std::fflush(out_);
  }

  // The status line in place; progress ticks closer than the redraw
  // interval are held back until the next forced redraw.
  void Redraw(bool force) {
    if (!tty_ || !shown_) return;
    const double now = clock_();
    if (!force && line_on_screen_ && now - last_draw_ < kRedrawInterval) {
      pending_ = true;
      return;
    }
    // One column short of the width, so the line never wraps.
    const std::string line = ComposeStatusLine(content_, TerminalColumns(out_) - 1);
    std::fputs(("\r" + line + "\x1b[K").c_str(), out_);
    std::fflush(out_);
    line_on_screen_ = true;
    pending_ = false;
    last_draw_ = now;
  }

  std::FILE* out_;
  bool tty_;
  std::function<double()> clock_;
  bool shown_ = false;
  bool line_on_screen_ = false;
  bool pending_ = false;
  double last_draw_ = 0;
  std::optional<std::string> printed_title_;
  std::string title_;
  std::string printed_status_;
  StatusLineContent content_;
  RateMeter meter_;
};

}  // namespace

std::unique_ptr<platform::SplashView> MakeTerminalSplashView(std::FILE* out, bool is_tty,
                                                             std::function<double()> clock) {
  return std::make_unique<TerminalSplashView>(out, is_tty, std::move(clock));
}

std::unique_ptr<platform::SplashView> MakeTerminalSplashView(std::FILE* out, bool is_tty) {
  return MakeTerminalSplashView(out, is_tty, SteadySeconds);
}

bool TerminalDrawsInPlace(const char* term) {
  return term != nullptr && *term != '\0' && std::string_view(term) != "dumb";
}

}  // namespace mb::posix
