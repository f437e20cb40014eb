// The progress window of the POSIX build: a text front end on stderr. On a
// terminal it prints the title once, then one status line redrawn in place
// with a progress bar; without a terminal, one plain line per status change.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>

#include "platform/window_system.h"

namespace mb::posix {

std::unique_ptr<platform::SplashView> MakeTerminalSplashView(std::FILE* out, bool is_tty);

// Whether a terminal of this TERM can take the in-place status line (a
// carriage return and "clear to the end of the line"): not a "dumb" one,
// and not one that names no type at all.
bool TerminalDrawsInPlace(const char* term);

// The same with the clock (seconds) that paces the redraws and measures the
// transfer rate; the plain form uses the steady clock.
std::unique_ptr<platform::SplashView> MakeTerminalSplashView(std::FILE* out, bool is_tty,
                                                             std::function<double()> clock);

}  // namespace mb::posix
