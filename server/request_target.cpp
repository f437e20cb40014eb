#include "server/request_target.h"

#include "rules/ascii.h"

namespace mb::server {
namespace {

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "scheme://": a letter, then letters, digits, "+", "-" or "."; its length.
std::size_t SchemeLength(std::string_view target) {
  if (target.empty() || !IsAlpha(target[0])) return 0;
  std::size_t i = 1;
  while (i < target.size() && (IsAlpha(target[i]) || IsDigit(target[i]) || target[i] == '+' ||
                               target[i] == '-' || target[i] == '.'))
    ++i;
  return target.substr(i, 3) == "://" ? i + 3 : 0;
}

// "host", "host:port" or "[v6]:port", up to the path or query; its length,
// or nothing when it is none of those (no user name, nothing empty).
std::optional<std::size_t> AuthorityLength(std::string_view rest) {
  std::size_t end = rest.find_first_of("/?");
  std::string_view authority = rest.substr(0, end);
  std::size_t port = authority.rfind(':');
  std::string_view host = authority;
  if (port != std::string_view::npos && authority.find(']', port) == std::string_view::npos) {
    for (char c : authority.substr(port + 1))
      if (!IsDigit(c)) return std::nullopt;
    host = authority.substr(0, port);
  }
  bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
  std::string_view allowed = bracketed ? "0123456789abcdefABCDEF:." : "-._";
  if (bracketed) host = host.substr(1, host.size() - 2);
  if (host.empty()) return std::nullopt;
  for (char c : host) {
    bool alnum = !bracketed && (IsAlpha(c) || IsDigit(c));
    if (!alnum && allowed.find(c) == std::string_view::npos) return std::nullopt;
  }
  return authority.size();
}

std::string MergeSlashes(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path)
    if (c != '/' || out.empty() || out.back() != '/') out += c;
  return out;
}

}  // namespace

RequestTarget SplitTarget(std::string_view target) {
  std::size_t mark = target.find('?');
  if (mark == std::string_view::npos) return {target, {}};
  return {target.substr(0, mark), target.substr(mark + 1)};
}

std::optional<std::string> OriginForm(std::string_view target) {
  if (std::size_t scheme = SchemeLength(target)) {
    target.remove_prefix(scheme);
    std::optional<std::size_t> authority = AuthorityLength(target);
    if (!authority) return std::nullopt;
    target.remove_prefix(*authority);
    if (target.empty() || target.front() == '?') return "/" + std::string(target);
  }
  if (target.empty() || target.front() != '/') return std::nullopt;
  RequestTarget t = SplitTarget(target);
  std::string origin = MergeSlashes(t.path);
  if (t.path.size() < target.size()) origin.append(target.substr(t.path.size()));
  return origin;
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

bool EqualsIgnoringCase(std::string_view a, std::string_view b) { return ascii::EqualFolded(a, b); }

}  // namespace mb::server
