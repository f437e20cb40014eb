// A signed file's length bounds what the agent fetches and keeps for it: a
// server that announces far more, or sends without end, or had a cut
// transfer keep more than the file holds, cannot park bytes in the scratch
// area at every start (it once kept 64 MiB more per start for a 3 MiB file).
#include <gtest/gtest.h>

#include "faults/fault_fixture.h"
#include "helpers/native_crypto.h"
#include "helpers/test_signer.h"
#include "install/scratch_area.h"
#include "trust/encoding.h"

namespace mb::test {
namespace {

namespace lfs = std::filesystem;

std::string Sha256Of(const std::string& bytes) {
  auto sha = NativeCrypto().NewSha256();
  sha->Update(bytes.data(), bytes.size());
  const platform::Sha256Digest d = sha->Finish();
  return trust::LowerHex(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
}

class SignedLength : public FaultTest {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    h.SetRegistry({"\"URL\"=\"" + server.Url() + "\"", "\"V_DIR\"=\"/v\"",
                   "\"Language\"=\"ENGLISH\"", "\"InstallType\"=\"express\"",
                   "\"TrustedKeys\"=\"" + key.PublicBase64() + "\""});
    AgentUpToDate();
    server.Serve(kAgentManifest, key.Sign(ManifestText("1.0", agent), "agent", kWhen));
    server.Serve(kExpressManifest, SignedExpress());
  }
  // The plug-in's manifest as sign makes it: SHA256 and LENGTH per file.
  std::string SignedExpress() const {
    std::string m = ManifestText("1.1", express);
    for (const PublishedFile& f : express) {
      const std::string hash = "HASH=" + Md5HexOf(f.body) + "\r\n";
      m.insert(m.find(hash) + hash.size(), "SHA256=" + Sha256Of(f.body) + "\r\nLENGTH=" +
                                               std::to_string(f.body.size()) + "\r\n");
    }
    return key.Sign(m, "express", kWhen);
  }
  std::int64_t LargestKept() const {
    std::int64_t largest = 0;
    if (!lfs::exists(h.update + "/.scratch")) return 0;
    for (const auto& e : lfs::directory_iterator(h.update + "/.scratch"))
      largest = std::max<std::int64_t>(largest, static_cast<std::int64_t>(e.file_size()));
    return largest;
  }
  std::int64_t Length() const { return static_cast<std::int64_t>(express[0].body.size()); }

  static constexpr const char* kWhen = "2026-12-01T00:00:00Z";
  TestSigningKey key;
};

TEST_F(SignedLength, AServerThatAnnouncesOrSendsMoreThanTheSignedLengthParksNothing) {
  // 128 KiB announced, 64 KiB sent, then the connection closes (with an
  // ETag, so the bytes could be asked for again); then a body without end.
  const std::string big(128 * 1024, 'x');
  const Answer attacks[] = {Tagged(Broken(Fault::kShortBody, big), "\"v1\""),
                            Tagged(Stream(-1), "\"v2\"")};
  for (const Answer& attack : attacks) {
    server.Set(ExpressFile("plugin.new"), attack);
    for (int start = 0; start < 3; ++start) {
      EXPECT_EQ(StartAgent(), -1);
      EXPECT_LE(LargestKept(), Length()) << "start " << start;
    }
    const auto failure = h.net.TakeFailure();
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->reason,
              "the answer is over the limit of " + std::to_string(Length()) + " bytes");
  }
  // The genuine file goes through.
  server.Serve(ExpressFile("plugin.new"), express[0].body);
  ASSERT_EQ(StartAgent(), kExitHandOff);
  EXPECT_EQ(ReadFile(h.UpdatePath("plugin.new")), express[0].body);
}

// Bytes an earlier agent kept beyond the file's length (no signed length
// bounded it then) are not asked to be continued: the file starts over.
TEST_F(SignedLength, KeptBytesBeyondTheSignedLengthAreNotContinued) {
  lfs::create_directories(h.update + "/.scratch");
  const std::string part = h.update + "/.scratch/plugin.new.part";
  WriteFile(part, std::string(Length() + 500, 'p'));
  ScratchRecord record{1, server.Url() + ExpressFile("plugin.new"), Md5HexOf(express[0].body),
                       "\"v1\"", -1};
  WriteFile(part + ".rec", FormatRecord(record));
  server.Set(ExpressFile("plugin.new"), Tagged(Body(express[0].body), "\"v1\""));
  ASSERT_EQ(StartAgent(), kExitHandOff);
  const std::vector<std::string> heads = server.Heads();
  for (const std::string& head : heads) EXPECT_EQ(head.find("Range:"), std::string::npos) << head;
  EXPECT_EQ(ReadFile(h.UpdatePath("plugin.new")), express[0].body);
}

// A LENGTH that is no length in a signed manifest refuses the file: the
// vendor signed a mistake, and nothing bounds what would be fetched.
TEST_F(SignedLength, ASignedLengthThatIsNoNumberRefusesTheFile) {
  std::string m = ManifestText("1.1", express);
  m.insert(m.find("\r\n", m.find("HASH=")) + 2,
           "SHA256=" + Sha256Of(express[0].body) + "\r\nLENGTH=3e3\r\n");
  server.Serve(kExpressManifest, key.Sign(m, "express", kWhen));
  EXPECT_EQ(StartAgent(), -1);
  const std::vector<std::string> requests = server.Requests();
  EXPECT_EQ(std::count(requests.begin(), requests.end(), ExpressFile("plugin.new")), 0);
  EXPECT_NE(ReadFile(h.UpdatePath("update_log.txt"))
                .find("refused plugin.new of the Outlook Express plug-in: the signed manifest gives no usable LENGTH for it"),
            std::string::npos);
}

}  // namespace
}  // namespace mb::test
