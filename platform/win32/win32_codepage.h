// The system ANSI code page as Windows itself reports and converts it.
#pragma once

#include "platform/codepage.h"

namespace mb::win32 {

class Win32CodePage : public platform::CodePage {
 public:
  int Number() const override;
  std::string ToAnsi(const std::string& utf8) const override;
  std::string FromAnsi(const std::string& ansi) const override;
};

}  // namespace mb::win32
