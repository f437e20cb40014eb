// The passphrase of an encrypted signing key, asked on a terminal: a real
// pseudo-terminal stands in for the vendor's, and what it shows is read
// from its other side.
#include "server/signing_key.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <future>

#include "helpers/temp_dir.h"
#include "helpers/test_signer.h"

namespace mb::server {
namespace {

// Both sides of a pseudo-terminal, closed with the object.
class Pty {
 public:
  Pty() {
    leader_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (leader_ < 0 || grantpt(leader_) != 0 || unlockpt(leader_) != 0) return;
    follower_ = open(ptsname(leader_), O_RDWR | O_NOCTTY);
  }
  ~Pty() {
    if (follower_ >= 0) close(follower_);
    if (leader_ >= 0) close(leader_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  int Terminal() const { return follower_; }
  void Type(const std::string& keys) const {
    ASSERT_EQ(write(leader_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  // What the terminal showed, until `until` appears or nothing more comes for 2 s.
  std::string Shown(const std::string& until = "") const {
    std::string shown;
    pollfd p{leader_, POLLIN, 0};
    while ((until.empty() || shown.find(until) == std::string::npos) && poll(&p, 1, 2000) > 0) {
      char buffer[256];
      const ssize_t n = read(leader_, buffer, sizeof buffer);
      if (n <= 0) break;
      shown.append(buffer, static_cast<std::size_t>(n));
    }
    return shown;
  }
  bool Echoes() const {
    termios t{};
    return tcgetattr(follower_, &t) == 0 && (t.c_lflag & ECHO) != 0;
  }

 private:
  int leader_ = -1;
  int follower_ = -1;
};

TEST(SigningKey, APassphraseAskedOnTheTerminalIsNeverShown) {
  Pty pty;
  ASSERT_GE(pty.Terminal(), 0);
  ASSERT_TRUE(pty.Echoes());
  auto answer = std::async(std::launch::async,
                           [&] { return AskPassphrase(pty.Terminal(), "Passphrase of k.pem: "); });
  const std::string prompt = pty.Shown("Passphrase of k.pem: ");
  EXPECT_FALSE(pty.Echoes());  // off while it waits
  pty.Type("s3cret words\n");
  EXPECT_EQ(answer.get(), "s3cret words");
  const std::string shown = prompt + pty.Shown("\n");
  EXPECT_EQ(shown.find("s3cret"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Passphrase of k.pem: "), std::string::npos) << shown;
  EXPECT_TRUE(pty.Echoes());  // on again
}

TEST(SigningKey, AnEncryptedKeyWithoutAPassphraseSaysHowToGiveIt) {
  test::TempDir dir;
  test::TestSigningKey key;
  const std::string path = (dir / "k.pem").string();
  key.WriteEncryptedPem(path, "pw");
  try {
    LoadSigningKey(path, PassphraseSource{-1, (dir / "no-terminal").string()});
    FAIL() << "loaded without a passphrase";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              path +
                  " is an encrypted key: there is no terminal to ask its passphrase on; give "
                  "it with --passphrase-fd N");
  }
  // Not a terminal: nothing to ask on.
  const int not_a_terminal = open("/dev/null", O_RDWR | O_CLOEXEC);
  EXPECT_FALSE(AskPassphrase(not_a_terminal, "x"));
  close(not_a_terminal);
}

}  // namespace
}  // namespace mb::server
