// The registry values that say whom an agent trusts (TrustedKeys,
// TrustedRoot), read as text. Read here rather than through GetRegValue,
// whose 1 KiB buffer would read a long value as no value at all.
#pragma once

#include <string>

#include "platform/codepage.h"
#include "platform/registry.h"

namespace mb {

struct TrustValue {
  bool given = false;   // the value is there, usable or not
  std::string text;     // UTF-8; the strings of a REG_MULTI_SZ separated by spaces
  std::string problem;  // given, but unusable
};

TrustValue ReadTrustValue(platform::Registry& reg, const platform::CodePage& cp,
                          const char* name);

}  // namespace mb
