// Conversion between UTF-8 (names on the server's disk) and the ANSI code
// page of the agents' machines (names in manifests and download requests).
// Unlike the agent's own conversion, nothing is replaced: text the code page
// cannot hold is reported, so a file is never published under a name that
// would not decode back to itself.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/program_name.h"

namespace mb::server {

class AnsiCodePage {
 public:
  // Throws std::runtime_error when the system has no converter for it.
  explicit AnsiCodePage(int number);

  int Number() const { return number_; }
  std::optional<std::string> FromUtf8(std::string_view utf8) const;
  std::optional<std::string> ToUtf8(std::string_view ansi) const;
  // The name split into ANSI characters, as the agent encodes it.
  std::optional<std::vector<AnsiChar>> Characters(std::string_view utf8) const;

 private:
  std::optional<std::string> Convert(const char* to, const char* from, std::string_view in) const;

  int number_;
  std::string name_;  // the converter's name, "CP949"
};

// The agent's "program" value for a UTF-8 name; nothing if unrepresentable.
std::optional<std::string> EncodeProgramName(std::string_view utf8, const AnsiCodePage& cp);

}  // namespace mb::server
