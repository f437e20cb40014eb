// The root of trust as a value: what a root must hold to be read, and which
// roots an agent takes after the one it trusts - each attack on the chain as
// the attack it is (a thief with one root key of two, a root served again
// as the next, a root that skips one) refused with its reason.
#include <gtest/gtest.h>

#include "helpers/native_crypto.h"
#include "helpers/test_signer.h"
#include "trust/root.h"
#include "trust/timestamp.h"

namespace mb::test {
namespace {

using trust::NextRoot;
using trust::PinnedRoot;

constexpr const char* kLater = "2099-01-01T00:00:00Z";

class RootOfTrust : public ::testing::Test {
 protected:
  // Root 1: two of three root keys sign, release key r1.
  std::string Root1() const { return MakeRoot(1, kLater, 2, {&a, &b, &c}, {&r1}, {&a, &b}); }
  trust::Root Trusted1() const { return *PinnedRoot(Root1(), NativeCrypto()).root; }

  TestSigningKey a, b, c, d, r1, r2;
};

TEST_F(RootOfTrust, APinnedRootIsReadWithItsKeysAndSignedByItsOwnThreshold) {
  const trust::RootRead read = PinnedRoot(Root1(), NativeCrypto());
  ASSERT_TRUE(read.root) << read.problem;
  EXPECT_EQ(read.root->version, 1);
  EXPECT_EQ(read.root->threshold, 2);
  EXPECT_EQ(read.root->root_keys.size(), 3u);
  ASSERT_EQ(read.root->release_keys.size(), 1u);
  EXPECT_EQ(read.root->release_keys[0].id, r1.KeyId());
  EXPECT_EQ(read.root->expires, *trust::ParseUtcTime(kLater));
  // One signature counts once, however often it is there.
  const std::string twice = MakeRoot(1, kLater, 2, {&a, &b}, {&r1}, {&a, &a});
  EXPECT_EQ(PinnedRoot(twice, NativeCrypto()).problem,
            "root 1 is signed by 1 of its own root keys, 2 needed");
  // A signature of a key the root does not name counts for nothing.
  EXPECT_FALSE(PinnedRoot(MakeRoot(1, kLater, 1, {&a}, {&r1}, {&d}), NativeCrypto()).root);
}

TEST_F(RootOfTrust, ATextThatIsNoRootIsRefusedWithItsReason) {
  const std::string good = Root1();
  const std::string body = good.substr(0, good.find("\r\n[SIGNATURE]"));
  const std::string signatures = good.substr(body.size());
  auto with_line = [&](const std::string& from, const std::string& to) {
    std::string text = body;
    text.replace(text.find(from), from.size(), to);
    return text + signatures;
  };
  const struct {
    std::string text;
    std::string problem;
  } cases[] = {
      {body, "a root: no signature"},
      {good + "[FILE_1]\r\n", "a root: something else than a signature section follows the "
                              "signatures"},
      {"[ROOTS]" + good.substr(6), "not a root ([ROOT] and NAME=value lines, each name once)"},
      {with_line("VERSION=1", "VERSION=01"), "a root without a VERSION from 1 on"},
      {with_line("VERSION=1", "VERSION=1\r\nVERSION=2"),
       "not a root ([ROOT] and NAME=value lines, each name once)"},
      {with_line("EXPIRES=", "EXPIRES=x"), "root 1 has no EXPIRES time"},
      {with_line("THRESHOLD=2", "THRESHOLD=4"),
       "root 1: THRESHOLD is not a number from 1 to the number of ROOT_KEYS"},
      {with_line("THRESHOLD=2", "THRESHOLD=0"),
       "root 1: THRESHOLD is not a number from 1 to the number of ROOT_KEYS"},
      {with_line("RELEASE_KEYS=", "RELEASE_KEYS=abc "),
       "root 1: RELEASE_KEYS: entry 1 is not the base64 DER of a P-256 public key"},
  };
  for (const auto& each : cases)
    EXPECT_EQ(trust::ParseRoot(each.text, NativeCrypto()).problem, each.problem);
  // A changed byte of the body: the signatures no longer hold.
  EXPECT_EQ(PinnedRoot(with_line("THRESHOLD=2", "THRESHOLD=1"), NativeCrypto()).problem,
            "root 1 is signed by 0 of its own root keys, 1 needed");
}

TEST_F(RootOfTrust, TheNextRootMustBeSignedByTheOldKeysAndItsOwn) {
  const trust::Root trusted = Trusted1();
  // The vendor rotates the release key and one root key: two of root 1's
  // keys and two of root 2's sign.
  const std::string root2 = MakeRoot(2, kLater, 2, {&a, &b, &d}, {&r2}, {&a, &b, &d});
  const trust::RootRead read = NextRoot(root2, trusted, NativeCrypto());
  ASSERT_TRUE(read.root) << read.problem;
  EXPECT_EQ(read.root->release_keys[0].id, r2.KeyId());

  const struct {
    std::string text;
    std::string problem;
  } refused[] = {
      // A thief with one root key names its own release key.
      {MakeRoot(2, kLater, 1, {&a}, {&d}, {&a}),
       "root 2 is signed by 1 of root 1's root keys, 2 needed"},
      // Old keys sign a root whose own keys did not (a root nobody can follow).
      {MakeRoot(2, kLater, 2, {&d, &c}, {&r2}, {&a, &b}),
       "root 2 is signed by 0 of its own root keys, 2 needed"},
      // Root 1 served again as root 2, and a root that skips one.
      {Root1(), "root 2 was asked for, and root 1 came (a lower version)"},
      {MakeRoot(3, kLater, 2, {&a, &b}, {&r2}, {&a, &b}),
       "root 2 was asked for, and root 3 came (one skipped)"},
  };
  for (const auto& r : refused) {
    const trust::RootRead next = NextRoot(r.text, trusted, NativeCrypto());
    EXPECT_FALSE(next.root);
    EXPECT_EQ(next.problem, r.problem);
  }
}

TEST_F(RootOfTrust, ExpiryIsJudgedAtTheClockGiven) {
  const trust::Root root =
      *PinnedRoot(MakeRoot(1, "2027-01-01T00:00:00Z", 1, {&a}, {&r1}, {&a}), NativeCrypto()).root;
  EXPECT_EQ(trust::Expired(root, *trust::ParseUtcTime("2026-12-31T23:59:59Z")), "");
  EXPECT_EQ(trust::Expired(root, *trust::ParseUtcTime("2027-01-01T00:00:00Z")),
            "root 1 expired on 2027-01-01T00:00:00Z");
}

}  // namespace
}  // namespace mb::test
