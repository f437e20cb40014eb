// The agent's one time-stamp form: 2006-06-01 14:05:09 (24-hour clock).
#pragma once

#include <string>

#include "platform/process.h"

namespace mb {

std::string FormatTimestamp(const platform::LocalTime& t);

}  // namespace mb
