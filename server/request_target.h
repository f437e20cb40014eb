// The request target as the client sent it, read the way nginx reads it, so
// that mailbeacon-server and its static export on nginx answer alike:
// nothing is percent-decoded; a query key matches without regard to case,
// the first "key=" wins and a key without "=" is no key at all (nginx's
// $arg_key).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mb::server {

struct RequestTarget {
  std::string_view path;   // up to the first "?"
  std::string_view query;  // after it; empty without one
};

RequestTarget SplitTarget(std::string_view target);

// The target in origin form, as nginx reads it: an absolute form
// ("http://host:port/path?query", as sent to a proxy) loses its scheme and
// host, and runs of "/" in the path become one (a URL value ending in "/"
// makes agents ask for "//mailbeaconhome/..."). Nothing for a target that
// is neither form (400).
std::optional<std::string> OriginForm(std::string_view target);

// The value of key in the query; nothing when no "key=" is there.
std::optional<std::string_view> QueryArg(std::string_view query, std::string_view key);

// ASCII letters compared without regard to case.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace mb::server
