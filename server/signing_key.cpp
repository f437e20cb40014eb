#include "server/signing_key.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace mb::server {
namespace {

constexpr std::size_t kLongestPassphrase = 1024;

volatile std::sig_atomic_t g_signal_while_asking = 0;

void NoteSignal(int signo) { g_signal_while_asking = signo; }

// While it lives, SIGINT, SIGTERM and SIGHUP only end a wait for input
// (no SA_RESTART), so the terminal's echo is restored before they act.
class SignalsNoted {
 public:
  SignalsNoted() {
    g_signal_while_asking = 0;
    struct sigaction noting {};
    noting.sa_handler = NoteSignal;
    sigemptyset(&noting.sa_mask);
    for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &noting, &saved_[i]);
  }
  ~SignalsNoted() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &saved_[i], nullptr);
  }
  SignalsNoted(const SignalsNoted&) = delete;
  SignalsNoted& operator=(const SignalsNoted&) = delete;

 private:
  static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
  std::array<struct sigaction, 3> saved_{};
};

void Wipe(std::string& secret) {
  if (!secret.empty()) OPENSSL_cleanse(secret.data(), secret.size());
  secret.clear();
}

// One line, byte by byte so nothing after it is taken from the descriptor.
// A wait that a noted signal ended reads as nothing.
std::optional<std::string> ReadLine(int fd) {
  std::string line;
  for (;;) {
    char c = 0;
    const ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR && g_signal_while_asking == 0) continue;
    if (n < 0 || (n == 0 && line.empty()) || line.size() > kLongestPassphrase) {
      Wipe(line);
      return std::nullopt;
    }
    if (n == 0 || c == '\n') break;
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void Write(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// OpenSSL's passphrase callback asks this, once, and only for an encrypted key.
struct PassphraseAsk {
  std::string path;
  PassphraseSource source;
  bool asked = false;
  std::string problem;  // why there was no passphrase to give

  std::optional<std::string> Get() {
    if (source.fd >= 0) {
      std::optional<std::string> line = ReadPassphraseLine(source.fd);
      if (!line)
        problem = "nothing could be read from --passphrase-fd " + std::to_string(source.fd);
      return line;
    }
    const int tty = open(source.terminal.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) {
      problem = "there is no terminal to ask its passphrase on; give it with --passphrase-fd N";
      return std::nullopt;
    }
    std::optional<std::string> answer = AskPassphrase(tty, "Passphrase of " + path + ": ");
    close(tty);
    if (!answer) problem = "no passphrase was given";
    return answer;
  }

  static int Callback(char* buffer, int size, int /*writing*/, void* self) {
    auto* ask = static_cast<PassphraseAsk*>(self);
    ask->asked = true;
    std::optional<std::string> passphrase = ask->Get();
    if (!passphrase) return -1;
    const bool fits = passphrase->size() <= static_cast<std::size_t>(size);
    if (fits) std::copy(passphrase->begin(), passphrase->end(), buffer);
    const int length = static_cast<int>(passphrase->size());
    Wipe(*passphrase);
    if (!fits) ask->problem = "the passphrase is longer than OpenSSL takes";
    return fits ? length : -1;
  }

  std::string Failure() const {
    if (!asked) return path + " holds no PEM private key this can read";
    if (!problem.empty()) return path + " is an encrypted key: " + problem;
    return "cannot decrypt " + path + " with that passphrase";
  }
};

std::string ReadKeyFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open the key " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool HoldsOnlyAPublicKey(const std::string& pem) {
  return pem.find(" PUBLIC KEY-----") != std::string::npos &&
         pem.find(" PRIVATE KEY-----") == std::string::npos;
}

void CheckP256(EVP_PKEY* key, const std::string& path) {
  char group[64] = {};
  std::size_t size = 0;
  if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC ||
      EVP_PKEY_get_utf8_string_param(key, "group", group, sizeof group, &size) != 1 ||
      std::string(group) != "prime256v1")
    throw std::runtime_error(path + " is not an ECDSA P-256 (prime256v1) key");
}

}  // namespace

std::optional<std::string> ReadPassphraseLine(int fd) {
  g_signal_while_asking = 0;
  return ReadLine(fd);
}

std::optional<std::string> AskPassphrase(int tty_fd, const std::string& prompt) {
  termios saved{};
  if (tcgetattr(tty_fd, &saved) != 0) return std::nullopt;
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  std::optional<std::string> line;
  int signal = 0;
  {
    SignalsNoted noted;
    // Echo goes off before the prompt: nothing typed after it is shown.
    tcsetattr(tty_fd, TCSAFLUSH, &quiet);
    Write(tty_fd, prompt);
    line = ReadLine(tty_fd);
    tcsetattr(tty_fd, TCSAFLUSH, &saved);
    Write(tty_fd, "\n");
    signal = g_signal_while_asking;
  }
  if (signal != 0) {
    if (line) Wipe(*line);
    std::raise(signal);
    return std::nullopt;
  }
  return line;
}

PrivateKey LoadSigningKey(const std::string& path, const PassphraseSource& passphrase) {
  std::string pem = ReadKeyFile(path);
  if (HoldsOnlyAPublicKey(pem))
    throw std::runtime_error(path +
                             " holds a public key: sign needs the private key that belongs to "
                             "it (kept on the offline machine); the public key is what agents "
                             "trust");
  std::unique_ptr<BIO, int (*)(BIO*)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                          &BIO_free);
  PassphraseAsk ask{path, passphrase, false, ""};
  PrivateKey key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, &PassphraseAsk::Callback, &ask)
                     : nullptr);
  Wipe(pem);
  if (!key) throw std::runtime_error(ask.Failure());
  CheckP256(key.get(), path);
  return key;
}

}  // namespace mb::server
