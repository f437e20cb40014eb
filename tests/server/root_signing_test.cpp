// `mailbeacon-server sign-root` and the roots a release publishes: a root is
// written only when agents would take it, and the server hands out
// keys/root.N.ini as root.aspx?version=N, saying what agents would refuse.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "helpers/native_crypto.h"
#include "helpers/temp_dir.h"
#include "helpers/test_signer.h"
#include "server/endpoints.h"
#include "server/release_snapshot.h"
#include "server/root_signing.h"
#include "trust/root.h"

namespace mb::server {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

class SignRoot : public ::testing::Test {
 protected:
  SignRoot() {
    for (auto* k : {&a, &b, &c, &d, &release}) {
      const std::string name = std::to_string(reinterpret_cast<std::uintptr_t>(k));
      k->WritePrivatePem((dir / (name + ".pem")).string());
      k->WritePublicPem((dir / (name + ".pub.pem")).string());
    }
  }
  std::string Private(const test::TestSigningKey& k) const {
    return (dir / (std::to_string(reinterpret_cast<std::uintptr_t>(&k)) + ".pem")).string();
  }
  std::string Public(const test::TestSigningKey& k) const {
    return (dir / (std::to_string(reinterpret_cast<std::uintptr_t>(&k)) + ".pub.pem")).string();
  }
  std::string Publics(const std::vector<const test::TestSigningKey*>& keys) const {
    std::string list;
    for (const auto* k : keys) list += (list.empty() ? "" : ",") + Public(*k);
    return list;
  }
  // sign-root into keys/root.N.ini of the release.
  int Run(int version, const std::string& threshold,
          const std::vector<const test::TestSigningKey*>& root_keys,
          const std::vector<const test::TestSigningKey*>& signers,
          std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--out",          RootFile(version).string(),
                                     "--version",      std::to_string(version),
                                     "--threshold",    threshold,
                                     "--root-keys",    Publics(root_keys),
                                     "--release-keys", Public(release),
                                     "--expires",      "2099-01-01"};
    for (const auto* k : signers) args.insert(args.end(), {"--key", Private(*k)});
    args.insert(args.end(), extra.begin(), extra.end());
    out.str("");
    err.str("");
    return RunSignRoot(args, out, err);
  }
  fs::path RootFile(int version) const {
    return root / "keys" / ("root." + std::to_string(version) + ".ini");
  }
  std::shared_ptr<const ReleaseSnapshot> Snapshot() const {
    return ReleaseSnapshot::Build(ReleaseFolder(root.str()), AnsiCodePage(949), CachePolicy{});
  }
  const Answer& Served(const ReleaseSnapshot& s, const std::string& query) const {
    static const Endpoints endpoints("/mbh", CachePolicy{});
    return *endpoints.Handle("/mbh/download/root.aspx" + query, s).answer;
  }

  test::TempDir dir, root;
  test::TestSigningKey a, b, c, d, release;
  std::ostringstream out, err;
};

TEST_F(SignRoot, WritesARootAgentsTakeAndTheServerHandsItOut) {
  fs::create_directories(root / "keys");
  ASSERT_EQ(Run(1, "2", {&a, &b, &c}, {&a, &b}), 0) << err.str();
  EXPECT_NE(out.str().find("wrote root 1"), std::string::npos) << out.str();
  const std::string root1 = ReadFile(RootFile(1));
  EXPECT_EQ(root1.find("PRIVATE"), std::string::npos);
  const trust::RootRead read = trust::PinnedRoot(root1, test::NativeCrypto());
  ASSERT_TRUE(read.root) << read.problem;
  EXPECT_EQ(read.root->release_keys[0].id, release.KeyId());

  // Root 2 drops c for d; two of root 1's keys and two of its own sign.
  ASSERT_EQ(Run(2, "2", {&a, &b, &d}, {&a, &b, &d}, {"--previous", RootFile(1).string()}), 0)
      << err.str();
  auto snapshot = Snapshot();
  EXPECT_TRUE(snapshot->Warnings().empty()) << snapshot->Warnings().front();
  EXPECT_EQ(Served(*snapshot, "?version=1").body, root1);
  EXPECT_EQ(Served(*snapshot, "?version=2").body, ReadFile(RootFile(2)));
  EXPECT_EQ(Served(*snapshot, "?Version=2&Folder=MIRROR").status, 200);
  for (const char* none : {"?version=3", "?version=02", "?version=0", "?version=", "",
                           "?version=1x", "?version=-1", "?version=9999999999"})
    EXPECT_EQ(Served(*snapshot, none).status, 404) << none;
}

TEST_F(SignRoot, RefusesARootAgentsWouldNotTake) {
  fs::create_directories(root / "keys");
  ASSERT_EQ(Run(1, "2", {&a, &b, &c}, {&a, &b}), 0) << err.str();
  const struct {
    int status;
    std::vector<const test::TestSigningKey*> root_keys, signers;
    std::string threshold;
    std::string says;
  } refused[] = {
      // A thief with one of root 1's keys: not enough of the old keys.
      {1, {&a, &d}, {&a, &d}, "2", "root 2 is signed by 1 of root 1's root keys, 2 needed"},
      {1, {&a, &b, &d}, {&a}, "2", "root 2 is signed by 1 of its own root keys, 2 needed"},
      {2, {&a, &b}, {&a, &b}, "3", "--threshold is more than the --root-keys given"},
      {2, {&a, &b}, {&a, &b}, "0", "--threshold takes a whole number from 1"},
  };
  for (const auto& r : refused) {
    EXPECT_EQ(Run(2, r.threshold, r.root_keys, r.signers, {"--previous", RootFile(1).string()}),
              r.status)
        << r.says;
    EXPECT_NE(err.str().find(r.says), std::string::npos) << err.str();
    EXPECT_FALSE(fs::exists(RootFile(2)));
  }
  // A private key where a public one belongs, a date gone by, a missing option.
  std::vector<std::string> args = {"--out", RootFile(2).string(), "--version", "2", "--threshold",
                                   "1", "--root-keys", Private(a), "--release-keys",
                                   Public(release), "--expires", "2099-01-01", "--key", Private(a)};
  EXPECT_EQ(RunSignRoot(args, out, err), 1);
  EXPECT_NE(err.str().find("holds no PEM public key"), std::string::npos) << err.str();
  args[7] = Public(a);
  args[11] = "2001-01-01";
  EXPECT_EQ(RunSignRoot(args, out, err), 2);
  args.resize(10);
  EXPECT_EQ(RunSignRoot(args, out, err), 2);
  EXPECT_FALSE(fs::exists(RootFile(2)));
}

// What agents would refuse is said, and served all the same: agents judge.
TEST_F(SignRoot, TheServerSaysWhatAgentsWouldRefuse) {
  fs::create_directories(root / "keys");
  ASSERT_EQ(Run(1, "2", {&a, &b, &c}, {&a, &b}), 0) << err.str();
  WriteFile(RootFile(2), test::MakeRoot(2, "2099-01-01T00:00:00Z", 1, {&d}, {&release}, {&d}));
  ASSERT_EQ(Run(4, "1", {&a}, {&a}), 0) << err.str();
  auto snapshot = Snapshot();
  const std::string warnings = ::testing::PrintToString(snapshot->Warnings());
  EXPECT_NE(warnings.find("keys/root.2.ini: root 2 is signed by 0 of root 1's root keys, 2 "
                          "needed; agents refuse it and every root after it"),
            std::string::npos)
      << warnings;
  EXPECT_EQ(Served(*snapshot, "?version=2").status, 200);

  fs::remove(RootFile(2));
  snapshot = Snapshot();
  EXPECT_NE(::testing::PrintToString(snapshot->Warnings())
                .find("keys/root.4.ini follows no root.2.ini: agents never reach it"),
            std::string::npos);
}

}  // namespace
}  // namespace mb::server
