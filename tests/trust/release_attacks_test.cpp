// The holes a review found around the signature check, each as the attack
// it is, against an agent with a trusted key: the attack must fail, and the
// vendor's own releases must still go through.
#include "trust/signed_release_fixture.h"

namespace mb::test {
namespace {

using ReleaseAttacks = SignedRelease;

constexpr const char* kMirrorManifest = "/v/download/express_exe.aspx?version=new&Folder=MIRROR";

std::string MirrorPluginUrl() {
  return "/v/download/express_exe.aspx?program=" +
         basWinAPI::EncodeName(posix::IconvCodePage(949), "plugin.dll", "") + "&Folder=MIRROR";
}

int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// `sign` gives ORG and MIRROR one signing time. A machine in the middle that
// answers "Y" to pause.aspx sends the agent to MIRROR's older release.
TEST_F(ReleaseAttacks, TwoFoldersSignedInOneRunCannotTakeAnAgentBack) {
  const std::string org = SignedManifest({"2.0", "plugin 2.0", "", ""});
  const std::string mirror = SignedManifest({"1.0", "plugin 1.0", "", ""});
  Installed("2.0");
  Serve(org, "plugin 2.0");
  EXPECT_EQ(h.RunAgent(1), -1);  // up to date; ORG's 2.0 is the release accepted
  EXPECT_NE(Accepted().find("LAST_VERSION=2.0"), std::string::npos) << Accepted();

  server.Answer("/v/download/pause.aspx", "Y\r\n");
  server.Answer(kMirrorManifest, mirror);
  server.Answer(MirrorPluginUrl(), "plugin 1.0");
  EXPECT_EQ(Restart(), -1);
  EXPECT_NE(Log().find("] refused the Outlook Express plug-in: release 1.0 is not signed later than release "
                       "2.0, accepted before (both signed 2026-12-01T00:00:00Z)\r\n"),
            std::string::npos)
      << Log();
  const auto requests = server.Requests();
  EXPECT_EQ(std::count(requests.begin(), requests.end(), MirrorPluginUrl()), 0);
  EXPECT_FALSE(fs::exists(h.UpdatePath("mailbeacon_download.ini")));

  // An agent that never took 2.0 (it accepted its manifest, then was held
  // back) still has 1.0: MIRROR's 1.0 is its release, up to date, no failure.
  Installed("1.0");
  fs::remove(h.UpdatePath("update_log.txt"));
  EXPECT_EQ(Restart(2), -1);
  EXPECT_EQ(h.tray->RetryPromptCount(), 0);
  EXPECT_EQ(Log(), "");
  const auto later = server.Requests();
  EXPECT_EQ(std::count(later.begin(), later.end(), MirrorPluginUrl()), 0);
}

// A signature dated 2099 by a key the agents trust (a stolen key, or the
// vendor's offline machine with a wrong clock) once froze every later release.
TEST_F(ReleaseAttacks, ASignatureFromTheFutureHoldsBackForADayAtMost) {
  h.process.utc_now = *trust::ParseUtcTime("2026-12-08T00:00:00Z");
  Serve(SignedManifest({}, "2099-12-31T00:00:00Z"), "plugin 1.1");
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);  // taken for that run
  EXPECT_NE(Accepted().find("[EXPRESS_DOWNLOAD]\r\nSIGNED=2026-12-09T00:00:00Z\r\n"),
            std::string::npos)
      << Accepted();
  const std::string note =
      "] accepted express_plugin.ini signed 2099-12-31T00:00:00Z, after this machine's clock and "
      "a day; kept as signed 2026-12-09T00:00:00Z\r\n";
  EXPECT_EQ(Occurrences(Log(), note), 1) << Log();

  // The same manifest again while it is installed: nothing more is said.
  Installed("1.1");
  EXPECT_EQ(Restart(3), -1);
  EXPECT_EQ(Occurrences(Log(), note), 1) << Log();

  // The vendor's next release, signed two days later, goes through.
  h.process.utc_now = *trust::ParseUtcTime("2026-12-10T00:00:00Z");
  Serve(SignedManifest({"1.2", "plugin 1.2", "", ""}, "2026-12-10T00:00:00Z"), "plugin 1.2");
  EXPECT_EQ(Restart(), kExitHandOff);
  EXPECT_EQ(ReadFile(h.UpdatePath("plugin.dll")), "plugin 1.2");
  EXPECT_EQ(Log().find("refused"), std::string::npos) << Log();
}

// A value that names no key once turned the check off: an unsigned release
// went in. Now it is a list that went wrong.
TEST_F(ReleaseAttacks, AnEmptyOrUnusableTrustValueKeepsTheCheckOn) {
  const std::string unsigned_manifest =
      ManifestBody({"1.1", "plugin 1.1", Md5HexOf("plugin 1.1"), ""});
  const struct {
    std::string line;
    std::string problem;
  } values[] = {
      {"\"TrustedKeys\"=\"\"", "TrustedKeys: the value names no key"},
      {"\"TrustedKeys\"=\" \"", "TrustedKeys: the value names no key"},
      {"\"TrustedKeys\"=\";\"", "TrustedKeys: the value names no key"},
      {"\"TrustedKeys\"=hex(7):00,00", "TrustedKeys: the value names no key"},
      {"\"TrustedKeys\"=hex(2):20,00", "TrustedKeys: the value names no key"},
      {"\"TrustedKeys\"=dword:00000001", "TrustedKeys: the value is not text"},
      {"\"TrustedRoot\"=\"\"", "TrustedRoot: the value holds no root"},
      {"\"TrustedRoot\"=\" \"", "TrustedRoot: the value holds no root"},
      {"\"TrustedRoot\"=\"W1JPT1RdDQo=\"", "TrustedRoot: a root: no signature"},
      {"\"TrustedRoot\"=\"not base64\"", "TrustedRoot: the value is not the base64 of a root"},
  };
  for (const auto& v : values) {
    UseRegistry({v.line});
    Serve(unsigned_manifest, "plugin 1.1");
    server.ClearRequests();
    ExpectRefused(Restart(), "refused the Outlook Express plug-in: no signature [" + v.problem + "]",
                  kExpressManifest);
  }
}

// The add-in for Outlook 2003 has a folder of its own; a request rewritten
// to another version (or the server's generic answer) must not reach it.
TEST_F(ReleaseAttacks, TheGenericAddinIsRefusedByAVersionWithAFolderOfItsOwn) {
  const std::string curver =
      "[HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\Outlook\\Addins\\"
      "Mailbeacon_Outlook.Connect]\n\"FriendlyName\"=\"Mailbeacon_Outlook.Connect\"\n\n"
      "[HKEY_CLASSES_ROOT\\Outlook.Application\\CurVer]\n@=\"";
  const std::string generic =
      key.Sign(ManifestBody({"3.0", "addin 3.0", Md5HexOf("addin 3.0"), ""}), "outlook", kSigned,
               std::nullopt, {{"NOT_FOR", "outlook/2000,outlook/2003"}});
  UseRegistry({"\"TrustedKeys\"=\"" + key.PublicBase64() + "\""}, "outlook",
              curver + "Outlook.Application.11\"\n");
  const std::string for_2003 = "/v/download/outlook_dll.aspx?version=2003&Folder=ORG";
  server.Answer(for_2003, generic);
  server.Answer("/v/download/agent_exe.aspx?version=2003&Folder=ORG",
                key.Sign("[DOWNLOAD]\r\nTOTAL_FILES=0\r\nLAST_VERSION=2.0\r\n", "agent", kSigned));
  ExpectRefused(Restart(), "refused the Outlook add-in: invalid signature: signed for the "
                             "versions without a folder of their own, and outlook/2003 has one",
                  for_2003);

  // Outlook 2007 has no folder of its own: the generic add-in is its own.
  UseRegistry({"\"TrustedKeys\"=\"" + key.PublicBase64() + "\""}, "outlook",
              curver + "Outlook.Application.12\"\n");
  server.Answer("/v/download/outlook_dll.aspx?version=12&Folder=ORG", generic);
  server.Answer("/v/download/outlook_dll.aspx?version=12&program=" +
                    basWinAPI::EncodeName(posix::IconvCodePage(949), "plugin.dll", "") +
                    "&Folder=ORG",
                "addin 3.0");
  server.Answer("/v/download/agent_exe.aspx?version=12&Folder=ORG",
                key.Sign("[DOWNLOAD]\r\nTOTAL_FILES=0\r\nLAST_VERSION=2.0\r\n", "agent", kSigned));
  EXPECT_EQ(Restart(), kExitHandOff);
  EXPECT_EQ(ReadFile(h.UpdatePath("plugin.dll")), "addin 3.0");
}

// A run that failed on a refusal says so on the POSIX failure line, also
// after another download of the run failed first.
TEST_F(ReleaseAttacks, TheFailureLineNamesTheRefusalThatFailedTheRun) {
  // The plug-in's manifest is not there (404); the agent's is unsigned.
  server.Answer(kAgentManifest, "[DOWNLOAD]\r\nTOTAL_FILES=0\r\nLAST_VERSION=2.0\r\n");
  EXPECT_EQ(h.RunAgent(1), -1);
  const auto failure = h.net.TakeFailure();
  ASSERT_TRUE(failure.has_value());
  EXPECT_TRUE(failure->refused);
  EXPECT_EQ(failure->url, server.Url() + kAgentManifest);
  EXPECT_EQ(failure->reason, "no signature");
}

}  // namespace
}  // namespace mb::test
