// mb_reg_probe: reads the values of registry_corpus.reg through the
// platform's Registry and prints every answer (status, type, size, bytes),
// one line each, then stores strings as the agent does and reads them
// back. Built natively it reads the .reg file with the POSIX
// registry (argument: the file); cross-built it asks the Windows registry,
// into which the corpus was imported with regedit. Compared by
// tests/wine/registry_conformance.sh.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/registry.h"
#ifdef _WIN32
#include "platform/win32/win32_registry.h"
#else
#include "platform/posix/posix_codepage.h"
#include "platform/posix/posix_registry_file.h"
#endif

namespace {

using mb::platform::Registry;

struct Query {
  const char* key;
  const char* name;
  std::uint32_t size;
};

const char* const kRoot = "Software\\MbConformance";

std::vector<Query> Queries() {
  std::vector<Query> q;
  for (const char* name :
       {"", "URL", "url", "Quote", "Empty", "Korean", "Dword", "DwordBig", "Binary", "BinaryEmpty",
        "Expand", "Multi", "NoneType", "Wrapped", "Absent"}) {
    q.push_back({kRoot, name, 1024});
  }
  q.push_back({kRoot, "URL", 4});  // too small: the size needed
  q.push_back({kRoot, "Korean", 4});
  q.push_back({"software\\mbconformance\\SUB", "Inner", 1024});
  q.push_back({"Software\\MbConformance\\EmptyKey", "Any", 1024});
  q.push_back({"Software\\MbConformance\\Missing", "Any", 1024});
  return q;
}

std::string Hex(const std::uint8_t* data, std::uint32_t n) {
  std::string out;
  for (std::uint32_t i = 0; i < n; ++i) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X", data[i]);
    out += b;
  }
  return out;
}

void Ask(Registry& reg, const Query& q, const char* label = "") {
  mb::platform::RegKey key = 0;
  const long open =
      reg.OpenKey(mb::platform::kHkeyCurrentUser, q.key, mb::platform::kAgentKeyAccess, &key);
  std::printf("%s[%s] \"%s\" (buffer %u): open %ld", label, q.key, q.name, q.size, open);
  if (open == 0) {
    std::vector<std::uint8_t> buf(q.size, 0xEE);
    std::uint32_t type = 99, size = q.size;
    const long rc = reg.QueryValue(key, q.name, &type, buf.data(), &size);
    std::printf(", query %ld", rc);
    if (rc == 0 || rc == mb::platform::kErrorMoreData)
      std::printf(", type %u, size %u", type, size);
    if (rc == 0) std::printf(", data %s", Hex(buf.data(), size).c_str());
    reg.CloseKey(key);
  }
  std::printf("\n");
}

// The agent's SaveRegValueString: REG_SZ bytes without their NUL.
void Store(Registry& reg, const char* name, const std::string& ansi) {
  mb::platform::RegKey key = 0;
  long rc = reg.OpenKey(mb::platform::kHkeyCurrentUser, kRoot, mb::platform::kAgentKeyAccess, &key);
  if (rc == 0) {
    rc = reg.SetValue(key, name, mb::platform::kRegSz,
                      reinterpret_cast<const std::uint8_t*>(ansi.data()),
                      static_cast<std::uint32_t>(ansi.size()));
    reg.CloseKey(key);
  }
  std::printf("store \"%s\": %ld\n", name, rc);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  mb::win32::Win32Registry reg;
#else
  if (argc < 2) {
    std::fprintf(stderr, "usage: mb_reg_probe FILE.reg\n");
    return 2;
  }
  mb::posix::IconvCodePage code_page(mb::posix::SystemAnsiCodePage());
  mb::posix::RegistryFile reg(argv[1], code_page);
#endif
  for (const Query& q : Queries()) Ask(reg, q);
  Store(reg, "Written", "http://example.test");
  Store(reg, "WrittenAnsi", "\xC7\xD1\xB1\xDB");
  Store(reg, "URL", "");
  for (const char* name : {"Written", "WrittenAnsi", "URL"})
    Ask(reg, {kRoot, name, 1024}, "reread ");
  return 0;
}
