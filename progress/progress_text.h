// Text pieces of a text-mode progress display: byte counts, rates, a bar,
// and UTF-8 text measured and cut by terminal columns (Hangul and other
// East Asian wide characters take two columns).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mb::progress_text {

// "512 B", "1.5 KiB", "12.3 MiB", "1.2 GiB" (binary units, one decimal).
std::string FormatBytes(std::int64_t bytes);

// FormatBytes of the rate with "/s".
std::string FormatRate(double bytes_per_second);

// "[#####-----]" with `cells` cells inside the brackets; the fraction is
// clamped to [0, 1].
std::string RenderBar(double fraction, int cells);

// "45%" for 0.45 (rounded down, so 100% only when complete).
std::string FormatPercent(double fraction);

// The text's lines: CR LF, lone CR and LF all break a line.
std::vector<std::string> SplitLines(std::string_view text);

// Control characters (C0, DEL and C1) replaced by spaces, so that text from
// outside can never steer the terminal.
std::string Printable(std::string_view text);

// Terminal columns the UTF-8 text takes.
int DisplayWidth(std::string_view utf8);

// The longest prefix of whole characters that fits in `columns`.
std::string FitToWidth(std::string_view utf8, int columns);

}  // namespace mb::progress_text
