#include "agent/reports.h"

#include <cstdio>

#include "agent/agent_state.h"

namespace mb {
namespace {

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

std::string Encoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (Unreserved(byte)) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

}  // namespace

std::string_view ComponentWord(std::int16_t kind) {
  if (kind == kOutlookAddin) return "outlook";
  if (kind == kExpressPlugin) return "express";
  return "agent";
}

std::string_view ResultWord(ReportResult result) {
  switch (result) {
    case ReportResult::kInstalled:
      return "installed";
    case ReportResult::kFailed:
      return "failed";
    case ReportResult::kRefused:
      return "refused";
    case ReportResult::kActive:
      break;
  }
  return "active";
}

std::string ReportQuery(const Report& r, std::optional<int> slot) {
  std::string q = "component=";
  q.append(ComponentWord(r.kind))
      .append("&from=")
      .append(Encoded(r.from))
      .append("&to=")
      .append(Encoded(r.to))
      .append("&result=")
      .append(ResultWord(r.result))
      .append("&reason=")
      .append(Encoded(r.reason))
      .append("&slot=");
  if (slot) q.append(std::to_string(*slot));
  return q;
}

std::string DayText(const LocalDay& d) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year % 10000, d.month % 100, d.day % 100);
  return text;
}

std::string RefusalMark(const std::string& to, const std::string& reason, const std::string& day) {
  std::string mark = to;
  return mark.append("|").append(reason).append("|").append(day);
}

}  // namespace mb
