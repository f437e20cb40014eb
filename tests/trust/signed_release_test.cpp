// An agent with a trusted key against a scripted loopback server that plays
// the vendor and the attacker: what it takes, what it refuses, why it says
// so, and what it remembers across a restart.
#include "trust/signed_release_fixture.h"

namespace mb::test {
namespace {

TEST_F(SignedRelease, ASignedReleaseIsFetchedAndItsSigningTimeRemembered) {
  Serve(SignedManifest({}), "plugin 1.1");
  EXPECT_EQ(h.RunAgent(1), kExitHandOff);
  EXPECT_EQ(ReadFile(h.UpdatePath("plugin.dll")), "plugin 1.1");
  EXPECT_NE(ReadFile(h.UpdatePath("mailbeacon_download.ini")).find("NAME=plugin.dll"),
            std::string::npos);
  EXPECT_EQ(Log().find("refused"), std::string::npos) << Log();
  EXPECT_EQ(Accepted(),
            "[EXPRESS_DOWNLOAD]\r\nSIGNED=2026-12-01T00:00:00Z\r\nLAST_VERSION=1.1\r\n"
            "[AGENT_DOWNLOAD]\r\nSIGNED=2026-12-01T00:00:00Z\r\nLAST_VERSION=2.0\r\n");
}

// The attack the MD5 alone let through: a machine in the middle swaps the
// file and rewrites its HASH (and SHA256) in the manifest.
TEST_F(SignedRelease, AFileSwappedWithItsDigestsRewrittenIsNeverFetched) {
  const std::string genuine = SignedManifest({});
  std::string forged = genuine;
  const std::string evil = "evil 1.1";
  forged.replace(forged.find("HASH=") + 5, 32, Md5HexOf(evil));
  forged.replace(forged.find("SHA256=") + 7, 64, Sha256Hex(evil));
  Serve(forged, evil);
  ExpectRefused(
      h.RunAgent(1),
      "refused the Outlook Express plug-in: invalid signature: it does not fit the manifest "
      "(changed after signing)",
      kExpressManifest);

  // The same answers to an agent without keys: the design's agent takes them.
  TrustKeys(std::nullopt);
  EXPECT_EQ(Restart(), kExitHandOff);
  EXPECT_EQ(ReadFile(h.UpdatePath("plugin.dll")), evil);
}

TEST_F(SignedRelease, AFileUnlikeItsSignedSha256IsRefusedEvenWhenNoMd5IsGiven) {
  // HASH is empty, so the design checks no MD5; the signed SHA-256 is that
  // of "plugin 1.1".
  Serve(key.Sign(ManifestBody({"1.1", "plugin 1.1", "", ""}), "express", kSigned), "other bytes");
  const int status = h.RunAgent(1);
  EXPECT_EQ(status, -1);
  EXPECT_TRUE(PluginRequested());
  EXPECT_FALSE(fs::exists(h.UpdatePath("mailbeacon_download.ini")));
  EXPECT_NE(Log().find("] refused plugin.dll of the Outlook Express plug-in: its SHA-256 is not "
                       "the signed one\r\n"),
            std::string::npos)
      << Log();
  const auto failure = h.net.TakeFailure();
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->url, server.Url() + PluginUrl());
}

TEST_F(SignedRelease, AnOlderReleaseIsRefusedAlsoAfterARestart) {
  // 1.1, signed on the 1st, is accepted (and already installed).
  fs::create_directories(h.update);
  WriteFile(h.UpdatePath("install_version.ini"), "[EXPRESS_DOWNLOAD]\r\nINSTALL_VERSION=1.1\r\n");
  Serve(SignedManifest({}), "plugin 1.1");
  EXPECT_EQ(h.RunAgent(1), -1);
  EXPECT_FALSE(PluginRequested());
  EXPECT_EQ(Log(), "");
  // The server then hands out 1.0 again, signed in November.
  Serve(SignedManifest({"1.0", "plugin 1.0", "", ""}, "2026-11-01T00:00:00Z"), "plugin 1.0");
  ExpectRefused(
      Restart(),
      "refused the Outlook Express plug-in: older than the release already accepted (signed "
      "2026-11-01T00:00:00Z, accepted 2026-12-01T00:00:00Z)",
      kExpressManifest);
  // 1.0 signed again later (a deliberate step back) is taken.
  Serve(SignedManifest({"1.0", "plugin 1.0", "", ""}, "2026-12-02T00:00:00Z"), "plugin 1.0");
  EXPECT_EQ(Restart(), kExitHandOff);
  EXPECT_EQ(ReadFile(h.UpdatePath("plugin.dll")), "plugin 1.0");
}

TEST_F(SignedRelease, EachRefusalNamesItsReasonOnceWhileItLasts) {
  Serve(ManifestBody({"1.1", "plugin 1.1", Md5HexOf("plugin 1.1"), ""}), "plugin 1.1");
  ExpectRefused(h.RunAgent(3), "refused the Outlook Express plug-in: no signature",
                kExpressManifest);
  const std::string log = Log();
  EXPECT_EQ(log.find("refused"), log.rfind("refused")) << "three runs, one line: " << log;
  // Nothing a retry could mend: no retry question, and under POLL the wait of
  // a run with nothing to do (FleetSettings).
  EXPECT_EQ(h.tray->RetryPromptCount(), 0);

  TestSigningKey stranger;
  Serve(stranger.Sign(ManifestBody({"1.1", "plugin 1.1", Md5HexOf("plugin 1.1"), ""}), "express",
                      kSigned),
        "plugin 1.1");
  ExpectRefused(Restart(), "refused the Outlook Express plug-in: unknown key " + stranger.KeyId(),
                kExpressManifest);

  h.process.utc_now = *trust::ParseUtcTime("2027-01-01T00:00:00Z");
  Serve(SignedManifest({}, kSigned, "2027-01-01T00:00:00Z"), "plugin 1.1");
  ExpectRefused(Restart(), "refused the Outlook Express plug-in: expired on 2027-01-01T00:00:00Z",
                kExpressManifest);
}

// The log names the component as the vendor knows it, never the agent's own
// file the manifest was saved as.
TEST_F(SignedRelease, ARefusalNamesTheComponentNotTheAgentsFile) {
  Serve(SignedManifest({}), "plugin 1.1");
  server.Answer(kAgentManifest, "[DOWNLOAD]\r\nTOTAL_FILES=0\r\nLAST_VERSION=2.0\r\n");
  h.RunAgent(1);
  EXPECT_NE(Log().find("] refused the agent: no signature\r\n"), std::string::npos) << Log();
  EXPECT_EQ(Log().find(".ini"), std::string::npos) << Log();
}

TEST_F(SignedRelease, AKeyListThatCannotBeUsedStillRequiresSignatures) {
  TrustKeys("not-a-key");
  Serve(SignedManifest({}), "plugin 1.1");
  ExpectRefused(h.RunAgent(1),
                "refused the Outlook Express plug-in: unknown key " + key.KeyId() +
                    " [TrustedKeys: entry 1 is not the base64 DER of a P-256 public key]",
                kExpressManifest);
}

// A good key beside one that cannot be used (a typo, a PEM pasted with its
// BEGIN line) is said at once - in the log, before any refusal, and on the
// POSIX failure line - not on the day the good key is retired; once while
// it stays the same.
TEST_F(SignedRelease, AKeyThatCannotBeUsedBesideAGoodOneIsSaidAtOnce) {
  TrustKeys(key.PublicBase64() + " -----BEGIN");
  Serve(SignedManifest({}), "plugin 1.1");
  server.Answer(kExpressManifest, "[DOWNLOAD]\r\nTOTAL_FILES=0\r\nLAST_VERSION=1.0\r\n");
  EXPECT_EQ(h.RunAgent(3), -1);  // an unsigned manifest: refused, and told after the keys
  const std::string line =
      "] trusted keys that cannot be used: TrustedKeys: entry 2 is not the base64 DER of a "
      "P-256 public key\r\n";
  const std::string log = Log();
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(log.find(line), log.rfind(line)) << "three runs, said once: " << log;
  EXPECT_LT(log.find(line), log.find("refused")) << log;
  const std::vector<posix::TransferFailure> told = h.net.TakeProblems();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].reason, "TrustedKeys: entry 2 is not the base64 DER of a P-256 public key");
  const auto failure = h.net.TakeFailure();  // the run's own failure stays the refusal
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->url, server.Url() + kExpressManifest);
}

}  // namespace
}  // namespace mb::test
