// An agent pinned to a root of trust, walking to newer roots: recovery from
// a stolen release key, a lost one and a stolen root key, each played out
// against a scripted server; what is refused and why, what is kept, and how
// often the server is asked.
#include "trust/signed_release_fixture.h"

namespace mb::test {
namespace {

constexpr const char* kLater = "2099-01-01T00:00:00Z";
constexpr const char* kRoot2 = "/v/download/root.aspx?version=2";
constexpr const char* kRoot3 = "/v/download/root.aspx?version=3";

std::int64_t At(const char* utc) { return *trust::ParseUtcTime(utc); }

class RootWalk : public SignedRelease {
 protected:
  void SetUp() override {
    SignedRelease::SetUp();
    h.process.utc_now = At("2026-12-08T00:00:00Z");
    Pin(MakeRoot(1, kLater, 2, {&a, &b, &c}, {&key}, {&a, &b}));
  }
  void Pin(const std::string& root1) {
    UseRegistry({"\"TrustedRoot\"=\"" + trust::Base64Encode(root1) + "\""});
  }
  // Plug-in release `version`, signed by `by` at `signed_at`.
  void Publish(const TestSigningKey& by, const std::string& version, const char* signed_at) {
    const std::string body = "plugin " + version;
    Serve(by.Sign(ManifestBody({version, body, Md5HexOf(body), ""}), "express", signed_at), body);
  }
  // The agent's own release (nothing to fetch), signed by `by`.
  void PublishAgent(const TestSigningKey& by) {
    server.Answer(kAgentManifest,
                  by.Sign("[DOWNLOAD]\r\nTOTAL_FILES=0\r\nLAST_VERSION=2.0\r\n", "agent", kSigned));
  }
  int Asked(const std::string& target) const {
    const auto requests = server.Requests();
    return static_cast<int>(std::count(requests.begin(), requests.end(), target));
  }
  bool Logged(const std::string& line) const {
    return Log().find("] " + line + "\r\n") != std::string::npos;
  }

  TestSigningKey a, b, c, d, thief, vendor_new;
};

// The thief signs with the release key; the vendor names a new one in root
// 2. From the agent's next daily look at the roots, the thief's releases
// are refused, and a floor the thief set far ahead is gone with its key.
TEST_F(RootWalk, AStolenReleaseKeyIsTakenBackByTheNextRoot) {
  Installed("1.1");
  Publish(key, "1.1", "2026-12-07T00:00:00Z");
  EXPECT_EQ(h.RunAgent(1), -1);  // up to date; root 2 looked for once
  EXPECT_EQ(Asked(kRoot2), 1);
  Publish(key, "6.6", "2099-12-31T00:00:00Z");  // the thief, the same day
  h.process.utc_now = At("2026-12-08T20:00:00Z");
  EXPECT_EQ(Restart(), kExitHandOff);  // still trusted: no root says otherwise yet
  EXPECT_NE(Accepted().find("SIGNED=2026-12-09T20:00:00Z"), std::string::npos) << Accepted();
  EXPECT_EQ(Asked(kRoot2), 1);

  const std::string root2 = MakeRoot(2, kLater, 2, {&a, &b, &c}, {&vendor_new}, {&a, &b});
  server.Answer(kRoot2, root2);
  h.process.utc_now = At("2026-12-09T01:00:00Z");  // a day later: the roots are looked at
  Installed("1.1");
  Publish(key, "6.7", "2099-12-31T00:00:00Z");
  server.ClearRequests();
  ExpectRefused(Restart(), "refused the Outlook Express plug-in: unknown key " + key.KeyId(),
                kExpressManifest);
  EXPECT_TRUE(Logged("root 2 names other release keys: the accepted signing times start over"))
      << Log();
  EXPECT_EQ(ReadFile(h.UpdatePath("trusted_root.ini")), root2);

  // The vendor's release, signed before the floor the thief had set
  // (2026-12-09T20:00:00Z).
  Publish(vendor_new, "1.2", "2026-12-09T00:30:00Z");
  PublishAgent(vendor_new);
  EXPECT_EQ(Restart(), kExitHandOff);
  EXPECT_EQ(ReadFile(h.UpdatePath("plugin.dll")), "plugin 1.2");
  EXPECT_EQ(Asked(kRoot2), 1);  // root 2 is kept: never asked for again
}

// The vendor lost its release key and signs with a new one named in root 2:
// the first manifest with the unknown key sends the agent to the roots at
// once, whenever it looked last.
TEST_F(RootWalk, ALostReleaseKeyIsReplacedAtTheFirstReleaseOfTheNewOne) {
  EXPECT_EQ(h.RunAgent(1), -1);  // no plug-in release yet; the daily look done
  server.Answer(kRoot2, MakeRoot(2, kLater, 2, {&a, &b, &c}, {&vendor_new}, {&a, &b}));
  Publish(vendor_new, "1.1", "2026-12-08T00:00:00Z");
  PublishAgent(vendor_new);
  server.ClearRequests();
  EXPECT_EQ(Restart(), kExitHandOff);
  EXPECT_EQ(Asked(kRoot2), 1);
  EXPECT_EQ(Asked(kRoot3), 1);  // the walk goes on until there is no newer root
  EXPECT_TRUE(Logged("trusting root 2, release keys " + vendor_new.KeyId())) << Log();

  // A key no root names: one more look, then refusals without asking again.
  Publish(thief, "6.6", "2026-12-08T00:00:00Z");
  server.ClearRequests();
  ExpectRefused(Restart(3), "refused the Outlook Express plug-in: unknown key " + thief.KeyId(),
                kExpressManifest);
  EXPECT_EQ(Asked(kRoot3), 1);
}

// A thief with one of the two root keys needed, or a server that hands out
// an old root as the next: refused with the reason, and the agent goes on
// with the root it has.
TEST_F(RootWalk, ARootWithoutTheThresholdOrOfALowerVersionIsRefused) {
  server.Answer(kRoot2, MakeRoot(2, kLater, 1, {&a}, {&thief}, {&a}));
  Publish(thief, "6.6", "2026-12-08T00:00:00Z");
  ExpectRefused(h.RunAgent(1), "refused the Outlook Express plug-in: unknown key " + thief.KeyId(),
                kExpressManifest);
  EXPECT_TRUE(Logged("refused root.aspx?version=2: root 2 is signed by 1 of root 1's root keys, 2 "
                     "needed"))
      << Log();
  EXPECT_FALSE(fs::exists(h.UpdatePath("trusted_root.ini")));

  server.Answer(kRoot2, MakeRoot(1, kLater, 2, {&a, &b, &c}, {&key}, {&a, &b}));
  h.process.utc_now = At("2026-12-09T01:00:00Z");
  Publish(key, "1.1", "2026-12-08T00:00:00Z");
  EXPECT_EQ(Restart(), kExitHandOff);  // the vendor's key still holds
  EXPECT_TRUE(Logged("refused root.aspx?version=2: root 2 was asked for, and root 1 came (a lower "
                     "version)"))
      << Log();
}

// An expired root names no key to trust: every release is refused with the
// reason until the vendor's next root comes; one that expired on the way
// is passed through, an expired newest one is refused.
TEST_F(RootWalk, AnExpiredRootIsRefusedWithItsReason) {
  Pin(MakeRoot(1, "2026-12-01T00:00:00Z", 2, {&a, &b, &c}, {&key}, {&a, &b}));
  server.Answer(kRoot2, MakeRoot(2, "2026-12-05T00:00:00Z", 2, {&a, &b}, {&key}, {&a, &b}));
  server.Answer(kRoot3, MakeRoot(3, "2026-12-06T00:00:00Z", 2, {&a, &b}, {&key}, {&a, &b}));
  Publish(key, "1.1", "2026-12-07T00:00:00Z");
  ExpectRefused(h.RunAgent(1), "refused the Outlook Express plug-in: root 1 expired on 2026-12-01T00:00:00Z",
                kExpressManifest);
  EXPECT_TRUE(Logged("refused root.aspx?version=3: root 3 expired on 2026-12-06T00:00:00Z"))
      << Log();

  server.Answer("/v/download/root.aspx?version=4",
                MakeRoot(4, kLater, 2, {&a, &b}, {&vendor_new}, {&a, &b}));
  Publish(vendor_new, "1.2", "2026-12-08T00:00:00Z");
  PublishAgent(vendor_new);
  EXPECT_EQ(Restart(), kExitHandOff);  // the unknown key: roots 2, 3 (expired) and 4
  EXPECT_EQ(ReadFile(h.UpdatePath("plugin.dll")), "plugin 1.2");
}

// Without a manifest of an unknown key, the server is asked for a newer
// root once a day, whatever the number of runs and starts.
TEST_F(RootWalk, TheRootsAreLookedAtOnceADay) {
  Installed("1.1");
  Publish(key, "1.1", "2026-12-07T00:00:00Z");
  EXPECT_EQ(h.RunAgent(3), -1);
  EXPECT_EQ(Restart(2), -1);
  EXPECT_EQ(Asked(kRoot2), 1);
  h.process.utc_now = At("2026-12-08T23:59:59Z");
  EXPECT_EQ(Restart(), -1);
  EXPECT_EQ(Asked(kRoot2), 1);
  h.process.utc_now = At("2026-12-09T00:00:00Z");
  EXPECT_EQ(Restart(2), -1);
  EXPECT_EQ(Asked(kRoot2), 2);
  // No failure line for the 404 that says there is no newer root.
  EXPECT_FALSE(h.net.TakeFailure().has_value());
}

}  // namespace
}  // namespace mb::test
