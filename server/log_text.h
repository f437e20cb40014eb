// Text for the server's logs, made safe to write: no byte outside printable
// ASCII reaches a log, so nothing a client sent may forge a line (a line
// break, also NEL U+0085 or U+2028 in UTF-8), garble a terminal (control
// characters, C1 ones such as CSI included) or shift a field (a space); and
// no request may make a line long. Vendor text often carries client bytes
// (a refused request's program value), so it is held to the same bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mb::server {

enum class LogEscape {
  // A client's bytes as one field: anything but printable ASCII other than
  // space, '"' and '\' becomes \xHH.
  kClientField,
  // The vendor's text (warnings, file names): every byte outside printable
  // ASCII becomes \xHH (UTF-8 names included); spaces and '\' (Windows
  // paths) stay.
  kVendorText,
};

// The text escaped by the rule, at most max_bytes of it; what is cut is
// counted: "...(+123 bytes)".
std::string LogText(std::string_view text, LogEscape rule, std::size_t max_bytes);

}  // namespace mb::server
