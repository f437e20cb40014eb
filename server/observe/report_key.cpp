#include "server/observe/report_key.h"

#include <algorithm>

#include "server/request_target.h"

namespace mb::server {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool OneOf(std::string_view value, const std::vector<std::string_view>& set) {
  return std::find(set.begin(), set.end(), value) != set.end();
}

std::string Arg(std::string_view query, std::string_view key) {
  return PercentDecoded(QueryArg(query, key).value_or("")).value_or("\x01");
}

}  // namespace

const std::vector<std::string_view>& ReportResults() {
  static const std::vector<std::string_view> results = {"installed", "failed", "refused", "active"};
  return results;
}

// The updater's outcome reasons (updater/component_install.h), and the
// agent's refusals: a folder needing rights, a plan the updater would
// refuse, and each refusal of a signed release.
const std::vector<std::string_view>& ReportReasons(std::string_view result) {
  static const std::vector<std::string_view> none = {""};
  static const std::vector<std::string_view> failed = {"in-use", "denied",  "io",
                                                       "record", "journal", "refused"};
  static const std::vector<std::string_view> refused = {"rights",  "plan",        "no-signature",
                                                        "invalid", "unknown-key", "expired",
                                                        "older",   "sha256",      "length"};
  if (result == "failed") return failed;
  if (result == "refused") return refused;
  return none;
}

std::optional<std::string> PercentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int hi = HexValue(text[i + 1]);
    const int lo = HexValue(text[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

ReportKey ReadReport(std::string_view query, const KnownReleases& known) {
  ReportKey key;
  key.component = Arg(query, "component");
  if (!OneOf(key.component, {"outlook", "express", "agent"})) key.component = kOtherLabel;
  const auto releases = known.find(key.component);
  key.release = Arg(query, "to");
  if (releases == known.end() || releases->second.count(key.release) == 0)
    key.release = kOtherLabel;
  key.result = Arg(query, "result");
  if (!OneOf(key.result, ReportResults())) key.result = kOtherLabel;
  key.reason = Arg(query, "reason");
  if (key.result == kOtherLabel || !OneOf(key.reason, ReportReasons(key.result)))
    key.reason = kOtherLabel;
  return key;
}

}  // namespace mb::server
