#include "server/ansi_code_page.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace mb::server {
namespace {

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  // (iconv_t)-1 is how iconv_open reports failure.
  bool ok() const {
    return cd_ != reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)
  }

  // Strict conversion: any invalid or unconvertible input fails.
  std::optional<std::string> Run(std::string_view in) {
    std::string input(in), out;
    char* src = input.data();
    std::size_t src_left = input.size();
    char buffer[256];
    while (src_left > 0) {
      char* dst = buffer;
      std::size_t dst_left = sizeof buffer;
      std::size_t rc = iconv(cd_, &src, &src_left, &dst, &dst_left);
      out.append(buffer, static_cast<std::size_t>(dst - buffer));
      if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) return std::nullopt;
      if (rc != static_cast<std::size_t>(-1) && rc != 0) return std::nullopt;  // inexact
    }
    return out;
  }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence that begins with this byte.
std::size_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead >> 5) == 0x6) return 2;
  if ((lead >> 4) == 0xE) return 3;
  return 4;
}

}  // namespace

AnsiCodePage::AnsiCodePage(int number) : number_(number), name_("CP" + std::to_string(number)) {
  if (!Converter(name_.c_str(), "UTF-8").ok())
    throw std::runtime_error("no converter for code page " + std::to_string(number));
}

std::optional<std::string> AnsiCodePage::Convert(const char* to, const char* from,
                                                 std::string_view in) const {
  Converter converter(to, from);
  if (!converter.ok()) return std::nullopt;
  return converter.Run(in);
}

std::optional<std::string> AnsiCodePage::FromUtf8(std::string_view utf8) const {
  return Convert(name_.c_str(), "UTF-8", utf8);
}

std::optional<std::string> AnsiCodePage::ToUtf8(std::string_view ansi) const {
  return Convert("UTF-8", name_.c_str(), ansi);
}

std::optional<std::vector<AnsiChar>> AnsiCodePage::Characters(std::string_view utf8) const {
  std::vector<AnsiChar> chars;
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t n = Utf8Length(static_cast<unsigned char>(utf8[i]));
    std::optional<std::string> ansi = FromUtf8(utf8.substr(i, n));
    if (!ansi || ansi->empty() || ansi->size() > 2) return std::nullopt;
    chars.push_back(*ansi);
    i += n;
  }
  return chars;
}

std::optional<std::string> EncodeProgramName(std::string_view utf8, const AnsiCodePage& cp) {
  std::optional<std::vector<AnsiChar>> chars = cp.Characters(utf8);
  if (!chars) return std::nullopt;
  return EncodeProgramName(*chars);
}

}  // namespace mb::server
