#include "server/request_target.h"

namespace mb::server {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

RequestTarget SplitTarget(std::string_view target) {
  std::size_t mark = target.find('?');
  if (mark == std::string_view::npos) return {target, {}};
  return {target.substr(0, mark), target.substr(mark + 1)};
}

std::optional<std::string_view> QueryArg(std::string_view query, std::string_view key) {
  while (!query.empty()) {
    std::size_t amp = query.find('&');
    std::string_view part = query.substr(0, amp);
    query.remove_prefix(amp == std::string_view::npos ? query.size() : amp + 1);
    if (part.size() > key.size() && part[key.size()] == '=' &&
        EqualsIgnoringCase(part.substr(0, key.size()), key))
      return part.substr(key.size() + 1);
  }
  return std::nullopt;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

}  // namespace mb::server
