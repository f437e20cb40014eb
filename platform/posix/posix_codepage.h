// The system ANSI code page of the POSIX build: the Windows code page of the
// locale's language, as Wine picks it, converted with iconv.
#pragma once

#include <iconv.h>

#include <string>

#include "platform/codepage.h"

namespace mb::posix {

// The Windows ANSI code page Wine uses for a POSIX locale name such as
// "ko_KR.UTF-8", "zh_TW" or "C" (1252 for anything it does not know).
int AnsiCodePageForLocale(const std::string& locale);

// AnsiCodePageForLocale of the first non-empty of LC_ALL, LC_CTYPE, LANG.
int SystemAnsiCodePage();

// Converts between UTF-8 and one Windows code page ("CP949", ...). Keeps its
// iconv descriptors open for its lifetime, so a conversion costs no set-up;
// not thread-safe.
class IconvCodePage : public platform::CodePage {
 public:
  // Raises mb::Error when iconv does not know the code page.
  explicit IconvCodePage(int number);
  ~IconvCodePage() override;
  IconvCodePage(const IconvCodePage&) = delete;
  IconvCodePage& operator=(const IconvCodePage&) = delete;

  int Number() const override { return number_; }
  std::string ToAnsi(const std::string& utf8) const override;
  std::string FromAnsi(const std::string& ansi) const override;

 private:
  bool KeepsAscii() const;

  int number_;
  iconv_t to_ansi_;
  iconv_t from_ansi_;
  bool ascii_compatible_ = false;  // ASCII text passes through unchanged
};

}  // namespace mb::posix
