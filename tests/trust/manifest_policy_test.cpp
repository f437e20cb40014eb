// The signature envelope and the policy an agent with trusted keys judges a
// manifest by, against the build's own cryptography (OpenSSL here, CNG in
// the Windows test binary under Wine). The manifest below was signed once
// with `openssl dgst -sha256 -sign` by a key made for this test.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "helpers/native_crypto.h"
#include "trust/encoding.h"
#include "trust/key_ring.h"
#include "trust/manifest_policy.h"
#include "trust/signed_manifest.h"
#include "trust/timestamp.h"

namespace mb::trust {
namespace {

using test::NativeCrypto;

const std::string kKey =
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEu9+CAehstzioOzkAsQwN6Eumdsmqv64p2A9x9ZNtq+oM55IaNlF8JY3lmx"
    "dkU/Ld9DFLm4g8qT4s8yi2gmkVDw==";
const std::string kOtherKey =
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAElSWuO4eGQJclSGPYyFoAv1dpJD8vd9+a2MkfLOCkSPoLDWgSCT1fhA+zA1"
    "uu8LJ2Hig6wypBVvsn8xdXD27HsA==";
const std::string kKeyId = "e7bd5ee4a93b5537";  // sha256sum of the DER, first 16 digits

const std::string kBody =
    "[DOWNLOAD]\r\nTOTAL_FILES=1\r\nLAST_VERSION=1.0.5\r\n\r\n[FILE_1]\r\nNAME=a.dll\r\n"
    "VERSION=1.0.5\r\nORG_NAME=a.dll\r\nTARGET_DIR=.\r\nSELF_REGISTER=N\r\n"
    "HASH=0cc175b9c0f1b6a831c399e269772661\r\n"
    "SHA256=ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb\r\n";
const std::string kHead =
    "\r\n[SIGNATURE]\r\nCOMPONENT=express\r\nSIGNED=2026-12-07T10:00:00Z\r\n"
    "EXPIRES=2027-06-30T00:00:00Z\r\nKEY_ID=e7bd5ee4a93b5537\r\n";
const std::string kValue =
    "VALUE=ufyeqjk+U+lh/h63/R7Wg3hI6ECzWdzs03dO3e1nSF1Uy0n+ZBGkrdkCm61E4nthaSO3PW4eYB7rkg0BMR0Dkg=="
    "\r\n";
const std::string kSigned = kBody + kHead + kValue;

std::int64_t At(const char* utc) { return *ParseUtcTime(utc); }

class ManifestPolicy : public ::testing::Test {
 protected:
  ManifestPolicy() {
    keys.AddText(kKey, "test", NativeCrypto());
    expect.components = {"express"};
    expect.now = At("2027-01-01T00:00:00Z");
    expect.release = "1.0.5";  // kSigned's LAST_VERSION
    expect.installed = "1.0.4";
  }
  Verdict Judge(const std::string& manifest) {
    return JudgeManifest(manifest, keys, expect, NativeCrypto());
  }
  KeyRing keys;
  Expectation expect;
};

TEST_F(ManifestPolicy, AcceptsTheSignedManifestWithItsSigningTime) {
  ASSERT_EQ(keys.Keys().size(), 1u);
  EXPECT_EQ(keys.Keys()[0].id, kKeyId);
  const Verdict v = Judge(kSigned);
  EXPECT_TRUE(v.Accepted()) << v.reason;
  EXPECT_EQ(v.signed_at, At("2026-12-07T10:00:00Z"));
  expect.accepted = AcceptedRelease{v.signed_at, "1.0.5"};  // the same manifest again
  EXPECT_TRUE(Judge(kSigned).Accepted());
  expect.components = {"OUTLOOK", "Express"};  // any case, any of the fitting names
  EXPECT_TRUE(Judge(kSigned).Accepted());
}

TEST_F(ManifestPolicy, RefusesEveryChangeToTheSignedBytes) {
  std::string digest_changed = kSigned;
  digest_changed[kSigned.find("SHA256=ca") + 7] = 'd';
  std::string field_changed = kSigned;
  field_changed.replace(kSigned.find("2027-06-30"), 10, "2099-06-30");
  std::string line_end_changed = kSigned;
  line_end_changed.erase(kSigned.find("\r\nVERSION"), 1);
  for (const std::string& m : {digest_changed, field_changed, line_end_changed}) {
    const Verdict v = Judge(m);
    EXPECT_EQ(v.refusal, Refusal::kInvalid);
    EXPECT_EQ(v.reason, "invalid signature: it does not fit the manifest (changed after signing)");
  }
}

TEST_F(ManifestPolicy, RefusesWhatAnIniReaderWouldSeeOutsideTheSignature) {
  // Anything after the VALUE line, or a second VALUE, could hold a section
  // an INI reader takes; such a file is refused whole.
  EXPECT_EQ(Judge(kSigned + "[FILE_1]\r\nNAME=evil.dll\r\n").refusal, Refusal::kInvalid);
  EXPECT_EQ(Judge(kSigned + "\r\n").refusal, Refusal::kInvalid);
  EXPECT_EQ(Judge(kBody + kHead + kValue + kValue).refusal, Refusal::kInvalid);
  EXPECT_EQ(Judge(kBody + kHead + "VALUE=abc\r\n").reason,
            "invalid signature: VALUE is not a base64 P-256 signature");
  EXPECT_EQ(Judge(kBody + kHead).reason,
            "invalid signature: the signature section does not end with its VALUE");
  // Without the final line break the file still ends with the signature.
  EXPECT_TRUE(Judge(kSigned.substr(0, kSigned.size() - 2)).Accepted());
}

TEST_F(ManifestPolicy, NamesEachReasonForARefusal) {
  EXPECT_EQ(Judge(kBody).refusal, Refusal::kNoSignature);
  EXPECT_EQ(Judge(kBody).reason, "no signature");

  KeyRing other;
  other.AddText(kOtherKey, "test", NativeCrypto());
  Verdict v = JudgeManifest(kSigned, other, expect, NativeCrypto());
  EXPECT_EQ(v.refusal, Refusal::kUnknownKey);
  EXPECT_EQ(v.reason, "unknown key " + kKeyId);

  expect.now = At("2027-06-30T00:00:00Z");
  v = Judge(kSigned);
  EXPECT_EQ(v.refusal, Refusal::kExpired);
  EXPECT_EQ(v.reason, "expired on 2027-06-30T00:00:00Z");
  expect.now = At("2027-06-29T23:59:59Z");
  EXPECT_TRUE(Judge(kSigned).Accepted());

  expect.accepted = AcceptedRelease{At("2026-12-07T10:00:01Z"), "1.0.6"};
  v = Judge(kSigned);
  EXPECT_EQ(v.refusal, Refusal::kOlderThanAccepted);
  EXPECT_EQ(v.reason,
            "older than the release already accepted (signed 2026-12-07T10:00:00Z, accepted "
            "2026-12-07T10:00:01Z)");
  expect.accepted.reset();

  expect.components = {"agent"};
  v = Judge(kSigned);
  EXPECT_EQ(v.refusal, Refusal::kInvalid);
  EXPECT_EQ(v.reason, "invalid signature: signed for another component (express)");
}

// The rule against a step back, by release and not only by time (kSigned:
// release 1.0.5, signed 2026-12-07T10:00:00Z; the clock 2027-01-01).
TEST_F(ManifestPolicy, NoStepBackByTimeOrByRelease) {
  const std::int64_t signed_at = At("2026-12-07T10:00:00Z");
  const std::string older = "older than the release already accepted (signed 2026-12-07T10:00:00Z, "
                            "accepted 2026-12-07T10:00:01Z)";
  const struct {
    const char* what;
    std::optional<AcceptedRelease> accepted;
    std::string installed;
    Refusal refusal;
    Standing standing;
    std::string reason;
  } cases[] = {
      {"nothing accepted yet", std::nullopt, "1.0.4", Refusal::kNone, Standing::kNewest, ""},
      {"signed later", AcceptedRelease{signed_at - 1, "1.0.6"}, "1.0.4", Refusal::kNone,
       Standing::kNewest, ""},
      // ORG and MIRROR signed in one run: the other folder's release is
      // refused, unless it is the one installed (then up to date).
      {"same time, same release", AcceptedRelease{signed_at, "1.0.5"}, "1.0.4", Refusal::kNone,
       Standing::kSameRelease, ""},
      {"same time, another release", AcceptedRelease{signed_at, "2.0"}, "2.0",
       Refusal::kOlderThanAccepted, Standing::kNewest,
       "release 1.0.5 is not signed later than release 2.0, accepted before (both signed "
       "2026-12-07T10:00:00Z)"},
      {"same time, the installed release", AcceptedRelease{signed_at, "2.0"}, "1.0.5",
       Refusal::kNone, Standing::kInstalled, ""},
      {"older, another release", AcceptedRelease{signed_at + 1, "1.0.6"}, "1.0.6",
       Refusal::kOlderThanAccepted, Standing::kNewest, older},
      // A vendor's step back, signed before: never fails an agent that has
      // the release it names.
      {"older, the installed release", AcceptedRelease{signed_at + 1, "1.0.6"}, "1.0.5",
       Refusal::kNone, Standing::kInstalled, ""},
      {"older, the accepted release", AcceptedRelease{signed_at + 1, "1.0.5"}, "1.0.4",
       Refusal::kNone, Standing::kSameRelease, ""},
      // Records that kept only the time read as they always did.
      {"old record, same time", AcceptedRelease{signed_at, std::nullopt}, "1.0.4", Refusal::kNone,
       Standing::kNewest, ""},
      {"old record, older", AcceptedRelease{signed_at + 1, std::nullopt}, "1.0.4",
       Refusal::kOlderThanAccepted, Standing::kNewest, older},
  };
  for (const auto& c : cases) {
    expect.accepted = c.accepted;
    expect.installed = c.installed;
    const Verdict v = Judge(kSigned);
    EXPECT_EQ(v.refusal, c.refusal) << c.what;
    EXPECT_EQ(v.reason, c.reason) << c.what;
    if (v.Accepted()) {
      EXPECT_EQ(v.standing, c.standing) << c.what;
    }
  }
}

// A floor set by a signature dated far ahead (a wrong clock, a stolen key)
// holds back the vendor's releases for a day at most.
TEST_F(ManifestPolicy, AFloorNeverLiesMoreThanADayAheadOfTheClock) {
  expect.installed = "1.0.4";
  expect.accepted = AcceptedRelease{At("2099-12-31T00:00:00Z"), "9.9"};
  expect.now = At("2026-12-06T10:00:00Z");  // the floor counts as 2026-12-07T10:00:00Z
  EXPECT_EQ(Judge(kSigned).refusal, Refusal::kOlderThanAccepted);
  expect.now = At("2026-12-06T09:59:59Z");
  const Verdict v = Judge(kSigned);
  EXPECT_TRUE(v.Accepted()) << v.reason;
  EXPECT_EQ(v.standing, Standing::kNewest);
  EXPECT_EQ(KeptFloor(At("2099-12-31T00:00:00Z"), expect.now), At("2026-12-07T09:59:59Z"));
  EXPECT_EQ(KeptFloor(v.signed_at, expect.now), At("2026-12-07T09:59:59Z"));
  EXPECT_TRUE(v.FromTheFuture(expect.now));
  EXPECT_FALSE(v.FromTheFuture(At("2026-12-06T10:00:00Z")));
}

TEST(KeyRingTest, TakesKeysBySpacesCommasAndSemicolonsAndNotesWhatIsNoKey) {
  KeyRing ring;
  EXPECT_FALSE(ring.Active());
  ring.AddText(" " + kKey + " ,;" + kOtherKey + "\r\n" + kKey, "TrustedKeys", NativeCrypto());
  EXPECT_EQ(ring.Keys().size(), 2u);  // the same key twice is one key
  EXPECT_TRUE(ring.Problems().empty());
  EXPECT_NE(ring.Find(kKeyId), nullptr);

  KeyRing broken;
  broken.AddText("not-base64 " + kKey.substr(4), "TrustedKeys", NativeCrypto());
  EXPECT_TRUE(broken.Active());  // a broken list still requires signatures
  EXPECT_TRUE(broken.Keys().empty());
  ASSERT_EQ(broken.Problems().size(), 2u);
  EXPECT_EQ(broken.Problems()[1],
            "TrustedKeys: entry 2 is not the base64 DER of a P-256 public key");
}

TEST(SignatureVerifierTest, RefusesKeysAndSignaturesOfTheWrongForm) {
  const std::string der = *Base64Decode(kKey);
  std::unique_ptr<platform::SignatureVerifier> v = NativeCrypto().NewVerifier();
  EXPECT_EQ(v->Init(der.substr(1), std::string(64, '\1')), "not a P-256 public key");
  EXPECT_FALSE(v->Final());
  v = NativeCrypto().NewVerifier();
  EXPECT_EQ(v->Init(der, std::string(63, '\1')), "the signature is not 64 bytes");
  v = NativeCrypto().NewVerifier();
  EXPECT_EQ(v->Init(der, std::string(64, '\1')), "");
  v->Update(kBody.data(), kBody.size());
  EXPECT_FALSE(v->Final());
}

TEST(Sha256Test, StreamsToTheKnownDigest) {
  std::unique_ptr<platform::Sha256> sha = NativeCrypto().NewSha256();
  sha->Update("a", 1);
  sha->Update("bc", 2);
  const platform::Sha256Digest d = sha->Finish();
  EXPECT_EQ(LowerHex(std::string_view(reinterpret_cast<const char*>(d.data()), d.size())),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(TrustEncodingTest, Base64IsStrict) {
  EXPECT_EQ(Base64Encode("ab"), "YWI=");
  EXPECT_EQ(*Base64Decode("YWI="), "ab");
  EXPECT_EQ(*Base64Decode(Base64Encode(std::string("\0\xff\x10x", 4))),
            std::string("\0\xff\x10x", 4));
  for (const char* bad : {"", "YWI", "YW=I", "YWJ=", "YW I=", "YWI=YWI=", "Y===", "YW-_"})
    EXPECT_FALSE(Base64Decode(bad)) << bad;
  EXPECT_TRUE(IsLowerHex("00af", 4));
  EXPECT_FALSE(IsLowerHex("00AF", 4));
  EXPECT_FALSE(IsLowerHex("00a", 4));
}

TEST(TrustTimeTest, OneFixedFormOfRealTimes) {
  EXPECT_EQ(At("1970-01-01T00:00:00Z"), 0);
  EXPECT_EQ(At("2024-02-29T23:59:59Z"), 1709251199);
  EXPECT_EQ(FormatUtcTime(1709251199), "2024-02-29T23:59:59Z");
  EXPECT_EQ(*ParseUtcDate("2027-06-30"), At("2027-06-30T00:00:00Z"));
  for (const char* bad : {"2023-02-29T00:00:00Z", "2026-12-07 10:00:00Z", "2026-12-07T24:00:00Z",
                          "1969-12-31T23:59:59Z", "2026-12-07T10:00:00", "2026-13-01T00:00:00Z"})
    EXPECT_FALSE(ParseUtcTime(bad)) << bad;
  EXPECT_FALSE(ParseUtcDate("2026-1-07"));
}

}  // namespace
}  // namespace mb::trust
