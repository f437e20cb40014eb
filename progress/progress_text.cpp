#include "progress/progress_text.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace mb::progress_text {

std::string FormatBytes(std::int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  static constexpr std::array<const char*, 4> kUnits{"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  // Move up when the value would print as 1024.0 or more.
  while (value >= 1023.95 && unit + 1 < kUnits.size()) {
    value /= 1024.0;
    ++unit;
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f %s", value, kUnits[unit]);
  return buffer;
}

std::string FormatRate(double bytes_per_second) {
  if (!(bytes_per_second > 0.0)) return "0 B/s";
  return FormatBytes(static_cast<std::int64_t>(bytes_per_second)) + "/s";
}

namespace {

double Clamped(double fraction) {
  if (!(fraction > 0.0)) return 0.0;
  return fraction < 1.0 ? fraction : 1.0;
}

}  // namespace

std::string RenderBar(double fraction, int cells) {
  if (cells < 0) cells = 0;
  const int filled = static_cast<int>(std::floor(Clamped(fraction) * cells));
  std::string bar = "[";
  bar.append(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(cells - filled), '-');
  bar += ']';
  return bar;
}

std::string FormatPercent(double fraction) {
  const int percent = static_cast<int>(std::floor(Clamped(fraction) * 100.0));
  return std::to_string(percent) + "%";
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (c1) {
      ++i;
      out += ' ';
    } else {
      out += (c < 0x20 || c == 0x7F) ? ' ' : text[i];
    }
  }
  return out;
}

namespace {

// Length of the UTF-8 sequence led by `lead` (1 for a stray byte).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF7) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

char32_t Decode(std::string_view s, std::size_t at, std::size_t length) {
  const auto lead = static_cast<unsigned char>(s[at]);
  if (length == 1) return lead;
  char32_t cp = lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    cp = (cp << 6) | (static_cast<unsigned char>(s[at + k]) & 0x3F);
  }
  return cp;
}

bool IsWide(char32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
         (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
         (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
         (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1FAFF) ||
         (cp >= 0x20000 && cp <= 0x3FFFD);
}

// Columns of one character: combining marks take none.
int ColumnsOf(char32_t cp) {
  if (cp >= 0x0300 && cp <= 0x036F) return 0;
  return IsWide(cp) ? 2 : 1;
}

// Visits each whole character: f(start, length, columns) returns false to stop.
template <typename F>
void ForEachCharacter(std::string_view s, F f) {
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t length = SequenceLength(static_cast<unsigned char>(s[i]));
    if (i + length > s.size()) length = s.size() - i;
    if (!f(i, length, ColumnsOf(Decode(s, i, length)))) return;
    i += length;
  }
}

}  // namespace

int DisplayWidth(std::string_view utf8) {
  int columns = 0;
  ForEachCharacter(utf8, [&](std::size_t, std::size_t, int w) {
    columns += w;
    return true;
  });
  return columns;
}

std::string FitToWidth(std::string_view utf8, int columns) {
  std::size_t end = 0;
  int used = 0;
  ForEachCharacter(utf8, [&](std::size_t start, std::size_t length, int w) {
    if (used + w > columns) return false;
    used += w;
    end = start + length;
    return true;
  });
  return std::string(utf8.substr(0, end));
}

}  // namespace mb::progress_text
