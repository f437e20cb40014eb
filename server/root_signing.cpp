#include "server/root_signing.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>

#include "server/manifest_signature.h"
#include "server/openssl_keys.h"
#include "server/signing_key.h"
#include "trust/root.h"
#include "trust/signed_manifest.h"
#include "trust/timestamp.h"

namespace mb::server {

const char* const kSignRootUsage =
    "usage: mailbeacon-server sign-root --out FILE --version N --threshold K\n"
    "           --root-keys A.pub.pem,B.pub.pem,... --release-keys X.pub.pem,...\n"
    "           --expires YYYY-MM-DD --key r1.pem [--key r2.pem ...] [--previous FILE]\n"
    "Writes root N of the root of trust, signed by each --key (private root keys,\n"
    "kept offline). Agents take root N after root N-1 when K of root N-1's keys and\n"
    "K of root N's own signed it: give --previous root.N-1.ini to check that here.\n";

namespace {

struct RootOptions {
  std::string out;
  std::string version;
  std::string threshold;
  std::vector<std::string> root_keys;
  std::vector<std::string> release_keys;
  std::string expires;
  std::vector<std::string> keys;
  std::string previous;
};

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= list.size()) {
    const std::size_t comma = std::min(list.find(',', at), list.size());
    if (comma > at) parts.push_back(list.substr(at, comma - at));
    at = comma + 1;
  }
  return parts;
}

std::optional<RootOptions> Parse(const std::vector<std::string>& args, std::string& error) {
  RootOptions o;
  const std::map<std::string, std::string*> texts = {{"--out", &o.out},
                                                     {"--version", &o.version},
                                                     {"--threshold", &o.threshold},
                                                     {"--expires", &o.expires},
                                                     {"--previous", &o.previous}};
  for (std::size_t i = 0; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) {
      error = "missing value for " + args[i];
      return std::nullopt;
    }
    const std::string& value = args[i + 1];
    if (const auto text = texts.find(args[i]); text != texts.end()) {
      *text->second = value;
    } else if (args[i] == "--root-keys") {
      o.root_keys = Split(value);
    } else if (args[i] == "--release-keys") {
      o.release_keys = Split(value);
    } else if (args[i] == "--key") {
      o.keys.push_back(value);
    } else {
      error = "unknown option " + args[i];
      return std::nullopt;
    }
  }
  if (o.out.empty() || o.version.empty() || o.threshold.empty() || o.root_keys.empty() ||
      o.release_keys.empty() || o.expires.empty() || o.keys.empty())
    error =
        "sign-root needs --out, --version, --threshold, --root-keys, --release-keys, "
        "--expires and --key";
  if (!error.empty()) return std::nullopt;
  return o;
}

int Positive(const std::string& text, const char* name) {
  std::size_t used = 0;
  int n = 0;
  try {
    n = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || n < 1 || text[0] == '0' || text[0] == '+')
    throw std::invalid_argument(std::string(name) + " takes a whole number from 1");
  return n;
}

std::vector<std::string> PublicKeys(const std::vector<std::string>& paths) {
  std::vector<std::string> ders;
  ders.reserve(paths.size());
  for (const std::string& path : paths) ders.push_back(LoadP256PublicDer(path));
  return ders;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The body, then one signature section per key.
std::string SignedRoot(const std::string& body, const std::vector<std::string>& key_paths) {
  std::string text = body;
  for (const std::string& path : key_paths) {
    const PrivateKey key = LoadSigningKey(path, PassphraseSource{});
    const std::string head = trust::EnvelopeHead(
        {{trust::kKeyIdField, trust::KeyId(PublicDerOf(key.get()), ServerCrypto())}});
    text += head;
    text += trust::EnvelopeValueLine(SignRaw(key.get(), body + head));
  }
  return text;
}

// Whether agents would take the root: signed by its own threshold, and
// after the previous root when it is given.
void CheckAsAgentsDo(const std::string& text, const RootOptions& o, int version,
                     std::ostream& out) {
  const trust::RootRead own = trust::PinnedRoot(text, ServerCrypto());
  if (!own.root) throw std::runtime_error(own.problem);
  if (o.previous.empty()) {
    if (version > 1)
      out << "note: not checked against root " << version - 1
          << " (give --previous to check it as agents will)\n";
    return;
  }
  const trust::RootRead before = trust::PinnedRoot(ReadText(o.previous), ServerCrypto());
  if (!before.root) throw std::runtime_error(o.previous + ": " + before.problem);
  const trust::RootRead next = trust::NextRoot(text, *before.root, ServerCrypto());
  if (!next.root) throw std::runtime_error(next.problem);
}

void WriteAtomically(const std::string& path, const std::string& bytes) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + temporary);
  }
  std::filesystem::rename(temporary, path);
}

void SignRoot(const RootOptions& o, std::ostream& out) {
  const int version = Positive(o.version, "--version");
  const int threshold = Positive(o.threshold, "--threshold");
  if (threshold > static_cast<int>(o.root_keys.size()))
    throw std::invalid_argument("--threshold is more than the --root-keys given");
  const std::optional<std::int64_t> expires = trust::ParseUtcDate(o.expires);
  if (!expires || *expires <= UtcNow())
    throw std::invalid_argument("--expires takes a day after today, as YYYY-MM-DD");
  const std::string body = trust::RootBody(version, *expires, threshold, PublicKeys(o.root_keys),
                                           PublicKeys(o.release_keys));
  const std::string text = SignedRoot(body, o.keys);
  CheckAsAgentsDo(text, o, version, out);
  WriteAtomically(o.out, text);
  out << "wrote root " << version << " to " << o.out << ": " << o.release_keys.size()
      << " release keys, " << threshold << " of " << o.root_keys.size()
      << " root keys sign the next root, signed by " << o.keys.size() << " keys, valid until "
      << o.expires << "; publish it as keys/root." << version << ".ini\n";
}

}  // namespace

int RunSignRoot(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string error;
  const std::optional<RootOptions> options = Parse(args, error);
  if (!options) {
    err << "mailbeacon-server sign-root: " << error << "\n" << kSignRootUsage;
    return 2;
  }
  try {
    SignRoot(*options, out);
    return 0;
  } catch (const std::invalid_argument& e) {
    err << "mailbeacon-server sign-root: " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    err << "mailbeacon-server sign-root: " << e.what() << "; nothing written\n";
    return 1;
  }
}

}  // namespace mb::server
