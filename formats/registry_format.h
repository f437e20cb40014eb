// Writing one value back into a .reg file's text.
#pragma once

#include <string>

#include "formats/registry_document.h"

namespace mb::formats {

// The value as regedit writes it: "name"="text", dword:0000001f, or
// hex(N): bytes wrapped with "\" continuations. No final line end.
std::string FormatValueLine(const std::string& name, const RegValueData& data,
                            const std::string& eol);

struct RegKeyPath {
  std::string folded;   // as FoldKeyPath gives it
  std::string display;  // "HKEY_CURRENT_USER\Software\..." as the caller spelled it
};

// The document's text with the value's line(s) put in place: over its last
// definition, else at the end of the key's last section, else in a new
// section for the key at the end of the file. All other bytes stay.
std::string SpliceValueLine(const RegDocument& doc, const RegKeyPath& key,
                            const std::string& folded_name, const std::string& line);

}  // namespace mb::formats
