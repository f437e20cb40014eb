// The system ANSI code page: the agent keeps text as UTF-8 and converts it
// at every call into an ANSI Windows function.
#pragma once

#include <string>

namespace mb::platform {

class CodePage {
 public:
  virtual ~CodePage() = default;
  virtual int Number() const = 0;  // 949, 1252, ...
  // Characters the code page lacks become '?', as Windows does.
  virtual std::string ToAnsi(const std::string& utf8) const = 0;
  // Bytes that are not valid in the code page become U+FFFD.
  virtual std::string FromAnsi(const std::string& ansi) const = 0;
};

}  // namespace mb::platform
