// The times of signed releases: UTC, to the second, in one fixed form
// ("2026-12-07T10:00:00Z"), held as seconds since 1970-01-01T00:00:00Z.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mb::trust {

// Exactly "YYYY-MM-DDTHH:MM:SSZ" of a real date and time (years 1970-9999).
std::optional<std::int64_t> ParseUtcTime(std::string_view text);
std::string FormatUtcTime(std::int64_t seconds);
// "YYYY-MM-DD": the start of that day, UTC.
std::optional<std::int64_t> ParseUtcDate(std::string_view text);

}  // namespace mb::trust
