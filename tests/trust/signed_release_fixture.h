// An agent with a trusted key against a scripted loopback server that plays
// the vendor and the attacker, for the tests of signed releases.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "agent/bas_win_api.h"
#include "helpers/agent_harness.h"
#include "helpers/native_crypto.h"
#include "helpers/scripted_server.h"
#include "helpers/test_signer.h"
#include "support/md5.h"
#include "trust/encoding.h"
#include "trust/timestamp.h"

namespace mb::test {

namespace fs = std::filesystem;

inline constexpr const char* kExpressManifest = "/v/download/express_exe.aspx?version=new&Folder=ORG";
inline constexpr const char* kAgentManifest = "/v/download/agent_exe.aspx?version=new&Folder=ORG";
inline constexpr const char* kSigned = "2026-12-01T00:00:00Z";

inline std::string Sha256Hex(const std::string& bytes) {
  auto sha = NativeCrypto().NewSha256();
  sha->Update(bytes.data(), bytes.size());
  const platform::Sha256Digest d = sha->Finish();
  return trust::LowerHex(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
}

struct Release {
  std::string version = "1.1";
  std::string body = "plugin 1.1";  // plugin.dll
  std::string md5;                  // HASH as published; the body's unless set
  std::string sha256;               // SHA256 as signed; the body's unless set
};

inline std::string ManifestBody(const Release& r) {
  return "[DOWNLOAD]\r\nTOTAL_FILES=1\r\nLAST_VERSION=" + r.version +
         "\r\n\r\n[FILE_1]\r\nNAME=plugin.dll\r\nVERSION=" + r.version +
         "\r\nORG_NAME=plugin.dll\r\nTARGET_DIR=.\r\nSELF_REGISTER=N\r\nHASH=" + r.md5 +
         "\r\nSHA256=" + (r.sha256.empty() ? Sha256Hex(r.body) : r.sha256) + "\r\n";
}

class SignedRelease : public ::testing::Test {
 protected:
  void SetUp() override {
    TrustKeys(key.PublicBase64());
    server.Answer("/v/download/pause.aspx", "N\r\n");
    server.Answer(kAgentManifest, key.Sign("[DOWNLOAD]\r\nTOTAL_FILES=0\r\nLAST_VERSION=2.0\r\n",
                                           "agent", kSigned));
  }
  // Without keys: no TrustedKeys value at all (an empty one keeps the check on).
  void TrustKeys(const std::optional<std::string>& keys) {
    UseRegistry(keys ? std::vector<std::string>{"\"TrustedKeys\"=\"" + *keys + "\""}
                     : std::vector<std::string>{});
  }
  // The product's settings for this server, with the given trust lines
  // (registry-file lines such as "\"TrustedRoot\"=\"...\"").
  void UseRegistry(const std::vector<std::string>& trust_lines,
                   const std::string& install_type = "express",
                   const std::string& extra_sections = "") {
    std::vector<std::string> values = {"\"URL\"=\"" + server.Url() + "\"", "\"V_DIR\"=\"/v\"",
                                       "\"Language\"=\"ENGLISH\"",
                                       "\"InstallType\"=\"" + install_type + "\""};
    values.insert(values.end(), trust_lines.begin(), trust_lines.end());
    h.SetRegistry(values, extra_sections);
  }
  // The installed release of the plug-in, as the updater records it.
  void Installed(const std::string& version) {
    fs::create_directories(h.update);
    WriteFile(h.UpdatePath("install_version.ini"),
              "[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=" + version + "\r\n");
  }
  // Serves the plug-in's manifest (signed unless told) and its file.
  void Serve(const std::string& manifest, const std::string& file_body) {
    server.Answer(kExpressManifest, manifest);
    server.Answer(PluginUrl(), file_body);
  }
  std::string SignedManifest(Release r, const std::string& signed_at = kSigned,
                             const std::optional<std::string>& expires = std::nullopt) {
    if (r.md5.empty()) r.md5 = Md5HexOf(r.body);
    return key.Sign(ManifestBody(r), "express", signed_at, expires);
  }
  static std::string PluginUrl() {
    return "/v/download/express_exe.aspx?program=" +
           basWinAPI::EncodeName(posix::IconvCodePage(949), "plugin.dll", "") + "&Folder=ORG";
  }
  bool PluginRequested() const {
    const auto requests = server.Requests();
    return std::count(requests.begin(), requests.end(), PluginUrl()) > 0;
  }
  std::string Log() const {
    return fs::exists(h.UpdatePath("update_log.txt")) ? ReadFile(h.UpdatePath("update_log.txt"))
                                                      : "";
  }
  std::string Accepted() const { return ReadFile(h.UpdatePath("accepted_signatures.ini")); }
  // One run of a fresh agent process (a restart), over the same files.
  int Restart(int runs = 1) {
    h.tray = std::make_unique<frmTray>(h.p);
    return h.RunAgent(runs);
  }
  // Expects the run to have refused, with this line in the log and on stderr.
  void ExpectRefused(int status, const std::string& log_line, const std::string& url) {
    EXPECT_EQ(status, -1);  // no hand-off: a new run is armed
    EXPECT_FALSE(PluginRequested());
    EXPECT_FALSE(fs::exists(h.UpdatePath("mailbeacon_download.ini")));
    EXPECT_FALSE(fs::exists(h.UpdatePath("plugin.dll")));
    EXPECT_NE(Log().find("] " + log_line + "\r\n"), std::string::npos) << Log();
    const auto failure = h.net.TakeFailure();
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->refused);
    EXPECT_EQ(failure->url, server.Url() + url);
  }

  TestSigningKey key;
  ScriptedServer server;
  AgentHarness h;
};

}  // namespace mb::test
