#include "support/local_time.h"

#include <cstdio>

namespace mb {

std::string FormatTimestamp(const platform::LocalTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year % 10000,
                t.month % 100, t.day % 100, t.hour % 100, t.minute % 100, t.second % 100);
  return buf;
}

}  // namespace mb
