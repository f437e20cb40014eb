#include "server/ansi_code_page.h"

#include <stdexcept>

#include "platform/posix/posix_codepage.h"

namespace mb::server {
namespace {

// Length of the UTF-8 sequence that begins with this byte.
std::size_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead >> 5) == 0x6) return 2;
  if ((lead >> 4) == 0xE) return 3;
  return 4;
}

}  // namespace

AnsiCodePage::AnsiCodePage(int number) : number_(number) {
  try {
    converter_ = std::make_unique<posix::IconvCodePage>(number);
  } catch (const std::exception&) {
    throw std::runtime_error("no converter for code page " + std::to_string(number));
  }
}

AnsiCodePage::~AnsiCodePage() = default;

std::optional<std::string> AnsiCodePage::FromUtf8(std::string_view utf8) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text(utf8);
  std::string ansi = converter_->ToAnsi(text);
  if (converter_->FromAnsi(ansi) != text) return std::nullopt;
  return ansi;
}

std::optional<std::string> AnsiCodePage::ToUtf8(std::string_view ansi) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string bytes(ansi);
  std::string utf8 = converter_->FromAnsi(bytes);
  if (converter_->ToAnsi(utf8) != bytes) return std::nullopt;
  return utf8;
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
