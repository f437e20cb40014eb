// Value data between the file's form and the ANSI form the registry calls
// exchange.
#pragma once

#include <cstdint>
#include <string>

#include "formats/registry_document.h"
#include "platform/codepage.h"

namespace mb::formats {

// What a query hands back: string types (REG_SZ, REG_EXPAND_SZ,
// REG_MULTI_SZ) in the ANSI code page; a quoted value with its terminating
// NUL; every other type as stored.
std::string AnsiValueData(const RegValueData& data, bool unicode_file,
                          const platform::CodePage& cp);

// How a value set through the ANSI call is stored. REG_SZ text loses its
// trailing NULs and is written "quoted" unless it holds a line break or a
// NUL, which a quoted value cannot carry: then it is kept as hex(1) data so
// it reads back unchanged. Hex string data are UTF-16LE in a version 5.00
// file and ANSI in a REGEDIT4 file.
RegValueData StoredValueData(std::uint32_t type, const std::string& ansi, bool unicode_file,
                             const platform::CodePage& cp);

}  // namespace mb::formats
