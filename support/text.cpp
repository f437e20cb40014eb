#include "support/text.h"

#include "rules/ascii.h"

namespace mb::text {

std::string TrimTrailingSpaces(std::string_view s) {
  std::size_t end = s.size();
  while (end > 0 && s[end - 1] == ' ') --end;
  return std::string(s.substr(0, end));
}

std::string TrimSpaces(std::string_view s) {
  std::size_t begin = 0;
  while (begin < s.size() && s[begin] == ' ') ++begin;
  return TrimTrailingSpaces(s.substr(begin));
}

std::string RemoveAll(std::string_view s, std::string_view what) {
  if (what.empty()) return std::string(s);
  std::string out;
  out.reserve(s.size());
  std::size_t pos = 0;
  for (std::size_t hit; (hit = s.find(what, pos)) != std::string_view::npos;
       pos = hit + what.size()) {
    out.append(s.substr(pos, hit - pos));
  }
  out.append(s.substr(pos));
  return out;
}

std::string Clean(std::string_view s) {
  return RemoveAll(TrimSpaces(s), std::string_view("\0", 1));
}

std::string ToLowerAscii(std::string_view s) { return ascii::ToLower(s); }

std::vector<std::string> Split(std::string_view s, char sep) {
  std::vector<std::string> parts;
  std::size_t pos = 0;
  for (std::size_t hit; (hit = s.find(sep, pos)) != std::string_view::npos; pos = hit + 1) {
    parts.emplace_back(s.substr(pos, hit - pos));
  }
  parts.emplace_back(s.substr(pos));
  return parts;
}

bool Contains(std::string_view s, std::string_view what) {
  return s.find(what) != std::string_view::npos;
}

}  // namespace mb::text
