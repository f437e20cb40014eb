// Text for the server's logs, made safe to write: no byte a client sent may
// forge a line (a line break), garble a terminal (control characters) or
// shift a field (a space); and no request may make a line long.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mb::server {

enum class LogEscape {
  // A client's bytes as one field: anything but printable ASCII other than
  // space, '"' and '\' becomes \xHH.
  kClientField,
  // The vendor's text (warnings, file names): control characters become
  // \xHH; UTF-8, spaces and '\' (Windows paths) stay.
  kVendorText,
};

// The text escaped by the rule, at most max_bytes of it; what is cut is
// counted: "...(+123 bytes)".
std::string LogText(std::string_view text, LogEscape rule, std::size_t max_bytes);

}  // namespace mb::server
