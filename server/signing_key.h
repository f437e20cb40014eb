// The private key `mailbeacon-server sign` signs with, read from its PEM file
// on the offline machine: ECDSA P-256, as SEC1 ("EC PRIVATE KEY") or PKCS#8,
// encrypted or not. An encrypted key's passphrase is asked on the terminal
// with its echo off, or read from a descriptor the vendor names (a pipe, a
// file opened by the shell); the key is decrypted in memory only and never
// written anywhere, and the passphrase is wiped once used.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <optional>
#include <string>

namespace mb::server {

struct PrivateKeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using PrivateKey = std::unique_ptr<EVP_PKEY, PrivateKeyFree>;

// Where an encrypted key's passphrase comes from.
struct PassphraseSource {
  int fd = -1;                        // its first line is read from here; -1: ask
  std::string terminal = "/dev/tty";  // where to ask
};

// The P-256 private key of the PEM file at path. Throws std::runtime_error
// saying what the file is instead (a public key, a key of another curve, an
// encrypted key without a passphrase or with a wrong one).
PrivateKey LoadSigningKey(const std::string& path, const PassphraseSource& passphrase);

// Writes prompt to the terminal open at tty_fd and reads a line with the
// terminal's echo off (on again afterwards, also when SIGINT, SIGTERM or
// SIGHUP ends the wait: the signal is raised again once the echo is back).
// Nothing when the descriptor is no terminal or the line never came.
std::optional<std::string> AskPassphrase(int tty_fd, const std::string& prompt);

// The first line read from fd (without its CR LF); nothing when it cannot be read.
std::optional<std::string> ReadPassphraseLine(int fd);

}  // namespace mb::server
