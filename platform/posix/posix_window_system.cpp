#include "platform/posix/posix_window_system.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/posix/posix_terminal_splash.h"
#include "progress/progress_text.h"

namespace mb::posix {
namespace {

// There is no screen behind a terminal, but the progress window is placed by
// the desktop's geometry all the same. We report a plausible desktop: one
// 1920 x 1080 pixel screen at 96 dpi (15 twips per pixel both ways, 28800 x
// 16200 twips) with a 40 pixel taskbar along the bottom edge.
constexpr std::int32_t kScreenWidthPixels = 1920;
constexpr std::int32_t kScreenHeightPixels = 1080;
constexpr std::int32_t kTaskbarHeightPixels = 40;
constexpr double kTwipsPerPixel = 15.0;

// Box texts break lines with CR LF as Windows does; a terminal wants "\n",
// and a lone CR would send the cursor back over the line. Any other control
// character (an error's description may carry what a server sent) becomes a
// space, so no text can steer the terminal or leak into a log.
std::string TerminalLines(const std::string& text) {
  std::string out;
  const std::vector<std::string> lines = progress_text::SplitLines(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += '\n';
    out += progress_text::Printable(lines[i]);
  }
  return out;
}

std::string Normalized(const std::string& answer) {
  std::string out;
  for (char c : answer) {
    if (!std::isspace(static_cast<unsigned char>(c))) {
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return out;
}

}  // namespace

PosixWindowSystem::PosixWindowSystem(std::FILE* err, bool is_tty, std::FILE* in)
    : err_(err), is_tty_(is_tty), in_(in) {}

// The main window exists only as the agent object here; there is nothing to
// hide.
void PosixWindowSystem::HideMainWindow() {}

// A POSIX process is on no task list (no taskbar button, no Alt-Tab entry).
void PosixWindowSystem::LeaveTaskList() {}

void PosixWindowSystem::ArmTimer(int interval_ms) {
  timer_due_ = Clock::now() + std::chrono::milliseconds(std::max(interval_ms, 0));
}

void PosixWindowSystem::DisarmTimer() { timer_due_.reset(); }

// The timer is the agent's only event source, so the loop is: sleep until it
// is due, disarm it (it fires once per arming), run the handler.
void PosixWindowSystem::RunMessageLoop(const std::function<void()>& on_timer) {
  for (int events = 0; timer_due_ && (timer_event_limit_ == 0 || events < timer_event_limit_);
       ++events) {
    std::this_thread::sleep_until(*timer_due_);
    timer_due_.reset();
    try {
      on_timer();
    } catch (...) {
      if (after_timer_event_) after_timer_event_();
      throw;
    }
    if (after_timer_event_) after_timer_event_();
  }
}

// Nothing is queued: the terminal view writes as it is told. Only output
// still buffered is let out, as a repaint would be.
void PosixWindowSystem::PumpMessages() { std::fflush(err_); }

void PosixWindowSystem::PrintBox(const std::string& text, const std::string& caption,
                                 const char* prompt) {
  // On a terminal the progress line may hold the cursor; start below it.
  std::string box = (is_tty_ ? "\n" : "") + caption + ": " + TerminalLines(text);
  if (prompt != nullptr) box += std::string(" ") + prompt;
  if (!is_tty_ || prompt == nullptr) box += '\n';
  std::fputs(box.c_str(), err_);
  std::fflush(err_);
}

std::optional<std::string> PosixWindowSystem::ReadAnswer() {
  std::string line;
  int c = 0;
  while ((c = std::fgetc(in_)) != EOF && c != '\n') line += static_cast<char>(c);
  if (c == EOF && line.empty()) {
    if (is_tty_) std::fputs("\n", err_);
    return std::nullopt;
  }
  return line;
}

// Without a terminal nobody can press OK; the box is shown and passed.
void PosixWindowSystem::MessageBoxOk(const std::string& text, const std::string& caption) {
  PrintBox(text, caption, is_tty_ ? "[Enter]" : nullptr);
  if (is_tty_) ReadAnswer();
}

// A terminal has no icons: the text says it all.
void PosixWindowSystem::MessageBoxInformation(const std::string& text, const std::string& caption) {
  MessageBoxOk(text, caption);
}

// Without a terminal (or at the end of its input) the answer is No, the
// choice that changes nothing.
bool PosixWindowSystem::MessageBoxYesNo(const std::string& text, const std::string& caption) {
  PrintBox(text, caption, "[y/N]");
  if (!is_tty_) return false;
  while (std::optional<std::string> answer = ReadAnswer()) {
    std::string a = Normalized(*answer);
    if (a == "y" || a == "yes") return true;
    if (a.empty() || a == "n" || a == "no") return false;
    std::fputs("[y/N] ", err_);
    std::fflush(err_);
  }
  return false;
}

bool PosixWindowSystem::GetTaskbarRect(platform::PixelRect* rect) {
  *rect = {0, kScreenHeightPixels - kTaskbarHeightPixels, kScreenWidthPixels, kScreenHeightPixels};
  return true;
}

std::int32_t PosixWindowSystem::ScreenWidthTwips() {
  return static_cast<std::int32_t>(kScreenWidthPixels * kTwipsPerPixel);
}

std::int32_t PosixWindowSystem::ScreenHeightTwips() {
  return static_cast<std::int32_t>(kScreenHeightPixels * kTwipsPerPixel);
}

double PosixWindowSystem::TwipsPerPixelX() { return kTwipsPerPixel; }
double PosixWindowSystem::TwipsPerPixelY() { return kTwipsPerPixel; }

std::unique_ptr<platform::SplashView> PosixWindowSystem::CreateSplashView() {
  return MakeTerminalSplashView(err_, is_tty_ && TerminalDrawsInPlace(std::getenv("TERM")));
}

}  // namespace mb::posix
