// mb_ini_probe: runs one corpus of private-profile cases through the
// platform's ProfileStore and prints every answer, one line each. Built
// natively it exercises the POSIX engine, cross-built (run under Wine) the
// system's GetPrivateProfileStringA / WritePrivateProfileStringA; the two
// outputs are compared by tests/wine/ini_conformance.sh.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/win32/win32_profile.h"
using Store = mb::win32::Win32ProfileStore;
#else
#include "platform/posix/posix_profile_store.h"
using Store = mb::posix::PosixProfileStore;
#endif

namespace {

struct Query {
  std::string section, key, def;
  std::uint32_t size = 1024;
};
struct Write {
  std::string section, key, value;
};
struct Case {
  const char* name;
  bool file_exists;
  std::string content;
  std::vector<Write> writes;
  std::vector<Query> queries;
};

std::vector<Case> Corpus() {
  const std::string long_value(1500, 'L');
  return {
      {"basic",
       true,
       "[S]\r\nK=V\r\n",
       {},
       {{"S", "K", ""}, {"s", "k", ""}, {"S", "missing", "d"}, {"T", "K", "d"}}},
      {"spaces-around",
       true,
       "  [S]  \r\n  K  =  V  W  \r\n\tT\t=\tX\t\r\n",
       {},
       {{"S", "K", ""}, {"S", "T", ""}, {"S", " K ", ""}}},
      {"spaces-in-brackets",
       true,
       "[ S ]\r\nK=1\r\n[T ]\r\nK=2\r\n",
       {},
       {{"S", "K", "d"}, {" S ", "K", "d"}, {"T", "K", "d"}}},
      {"quotes",
       true,
       "[Q]\r\nA=\"v\"\r\nB=\"v\r\nC='v'\r\nD=\"v'\r\nE=\" v \"\r\nF=\"\"\r\nG=a\"b\"\r\n",
       {},
       {{"Q", "A", ""},
        {"Q", "B", ""},
        {"Q", "C", ""},
        {"Q", "D", ""},
        {"Q", "E", ""},
        {"Q", "F", "d"},
        {"Q", "G", ""}}},
      {"first-match-wins",
       true,
       "[S]\r\nK=1\r\nk=2\r\n[s]\r\nK=3\r\nJ=4\r\n",
       {},
       {{"S", "K", ""}, {"S", "J", "d"}}},
      {"empty-and-bare",
       true,
       "[S]\r\nE=\r\nBARE\r\n=novalue\r\n",
       {},
       {{"S", "E", "d"}, {"S", "BARE", "d"}, {"S", "", "d"}}},
      {"comments",
       true,
       "; top\r\n[S]\r\n;K=1\r\nK=2 ; not a comment\r\n# K=3\r\n",
       {},
       {{"S", "K", ""}, {"S", ";K", "d"}, {"S", "# K", "d"}}},
      {"keys-before-any-section",
       true,
       "K=top\r\n[S]\r\nK=1\r\n",
       {},
       {{"", "K", "d"}, {"S", "K", "d"}}},
      {"line-endings",
       true,
       "[S]\nA=1\nB=2\r\n[T]\rC=3\r\n",
       {},
       {{"S", "A", "d"}, {"S", "B", "d"}, {"T", "C", "d"}}},
      {"no-final-newline", true, "[S]\r\nK=last", {}, {{"S", "K", "d"}}},
      {"section-trailer",
       true,
       "[S] trailing\r\nK=1\r\n[T\r\nK=2\r\n",
       {},
       {{"S", "K", "d"}, {"T", "K", "d"}}},
      {"truncation",
       true,
       "[S]\r\nK=0123456789abcdef\r\n",
       {},
       {{"S", "K", "", 10}, {"S", "K", "", 2}, {"S", "K", "", 1}, {"S", "K", "", 17}}},
      {"long-value", true, "[S]\r\nK=" + long_value + "\r\n", {}, {{"S", "K", "", 1024}}},
      {"ansi-bytes",
       true,
       "[\xC7\xD1\xB1\xDB]\r\n\xC0\xCC\xB8\xA7=\xB0\xAA\r\n",
       {},
       {{"\xC7\xD1\xB1\xDB", "\xC0\xCC\xB8\xA7", ""}}},
      {"ansi-lead-byte-at-end",
       true,
       "[S]\r\nK=A\xB0\r\nJ=\xB0\xA1\xB0\xA1\r\n",
       {},
       {{"S", "K", ""}, {"S", "J", "", 4}, {"S", "J", "", 3}}},
      {"missing-file", false, "", {}, {{"S", "K", "d"}}},
      {"write-new-file",
       false,
       "",
       {{"OUTLOOK", "INSTALL_VERSION", "1.0.5"}, {"AGENT", "INSTALL_VERSION", "2.0"}},
       {{"OUTLOOK", "INSTALL_VERSION", ""}, {"AGENT", "INSTALL_VERSION", ""}}},
      {"write-replaces-in-place",
       true,
       "[S]\r\nA=1\r\nK=old\r\nB=2\r\n[T]\r\nK=t\r\n",
       {{"s", "k", "new"}},
       {{"S", "K", ""}, {"S", "A", ""}, {"S", "B", ""}, {"T", "K", ""}}},
      {"write-adds-key-to-section",
       true,
       "[S]\r\nA=1\r\n\r\n[T]\r\nX=1\r\n",
       {{"S", "K", "v"}, {"U", "K", "u"}},
       {{"S", "K", ""}, {"S", "A", ""}, {"T", "X", ""}, {"U", "K", ""}}},
      {"write-after-no-final-newline",
       true,
       "[S]\r\nA=1",
       {{"T", "K", "v"}},
       {{"S", "A", ""}, {"T", "K", ""}}},
      {"write-then-read-many",
       false,
       "",
       {{"1", "NAME", "a.dll"},
        {"1", "VERSION", "1.0"},
        {"2", "NAME", "b.exe"},
        {"1", "VERSION", "1.1"},
        {"FILES", "TOTAL_FILES", "2"}},
       {{"1", "NAME", ""}, {"1", "VERSION", ""}, {"2", "NAME", ""}, {"FILES", "TOTAL_FILES", ""}}},
  };
}

std::string Escape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

void Run(Store& store, const Case& c, const std::filesystem::path& dir) {
  const std::filesystem::path file = dir / (std::string(c.name) + ".ini");
  if (c.file_exists) {
    std::ofstream(file, std::ios::binary) << c.content;
  }
  for (const Write& w : c.writes) {
    const bool ok = store.WriteString(w.section, w.key, w.value, file.string());
    std::printf("%s write [%s] %s=%s -> %s\n", c.name, Escape(w.section).c_str(),
                Escape(w.key).c_str(), Escape(w.value).c_str(), ok ? "ok" : "failed");
  }
  for (const Query& q : c.queries) {
    std::string buf(q.size + 1, '\x7f');
    const std::uint32_t n =
        store.GetString(q.section, q.key, q.def, buf.data(), q.size, file.string());
    std::printf("%s get [%s] %s (def %s, size %u) -> %u \"%s\"\n", c.name,
                Escape(q.section).c_str(), Escape(q.key).c_str(), Escape(q.def).c_str(), q.size, n,
                Escape(buf.substr(0, n)).c_str());
  }
}

}  // namespace

int main() {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("mb-ini-probe-" + std::to_string(std::random_device{}()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  {
    Store store;
    for (const Case& c : Corpus()) Run(store, c, dir);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
