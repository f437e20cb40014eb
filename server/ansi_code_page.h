// Conversion between UTF-8 (names on the server's disk) and the ANSI code
// page of the agents' machines (names in manifests and download requests),
// on the agent's own iconv code page. Unlike the agent, the server replaces
// nothing: a conversion counts only when it converts back to the very same
// text, so a file is never published under a name that would not decode
// back to itself. Thread-safe.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/program_name.h"

namespace mb::posix {
class IconvCodePage;
}

namespace mb::server {

class AnsiCodePage {
 public:
  // Throws std::runtime_error when the system has no converter for it.
  explicit AnsiCodePage(int number);
  ~AnsiCodePage();
  AnsiCodePage(const AnsiCodePage&) = delete;
  AnsiCodePage& operator=(const AnsiCodePage&) = delete;

  int Number() const { return number_; }
  std::optional<std::string> FromUtf8(std::string_view utf8) const;
  std::optional<std::string> ToUtf8(std::string_view ansi) const;
  // The name split into ANSI characters, as the agent encodes it.
  std::optional<std::vector<AnsiChar>> Characters(std::string_view utf8) const;

 private:
  int number_;
  mutable std::mutex mutex_;  // the converter keeps state between calls
  std::unique_ptr<posix::IconvCodePage> converter_;
};

// The agent's "program" value for a UTF-8 name; nothing if unrepresentable.
std::optional<std::string> EncodeProgramName(std::string_view utf8, const AnsiCodePage& cp);

}  // namespace mb::server
