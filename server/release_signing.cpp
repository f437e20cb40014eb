#include "server/release_signing.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

#include "platform/posix/posix_signature.h"
#include "server/command_line.h"
#include "server/manifest_signature.h"
#include "server/openssl_keys.h"
#include "server/release_snapshot.h"
#include "server/signing_key.h"
#include "trust/key_ring.h"
#include "trust/manifest_policy.h"
#include "trust/signed_manifest.h"
#include "trust/timestamp.h"

namespace mb::server {
namespace fs = std::filesystem;
namespace {

struct SignOptions {
  std::string root;
  std::string key;
  std::string expires;  // YYYY-MM-DD, or empty
  int code_page = 949;
  PassphraseSource passphrase;
};

std::optional<SignOptions> Parse(const std::vector<std::string>& args, std::string& error) {
  SignOptions o;
  std::map<std::string, std::string*> texts = {
      {"--root", &o.root}, {"--key", &o.key}, {"--expires", &o.expires}};
  std::map<std::string, int*> numbers = {{"--codepage", &o.code_page},
                                         {"--passphrase-fd", &o.passphrase.fd}};
  for (std::size_t i = 0; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) {
      error = "missing value for " + args[i];
      return std::nullopt;
    }
    if (texts.count(args[i])) {
      *texts[args[i]] = args[i + 1];
    } else if (std::optional<int> n = ParseNonNegative(args[i + 1]); numbers.count(args[i]) && n) {
      *numbers[args[i]] = *n;
    } else {
      error = "unknown option or bad value: " + args[i];
      return std::nullopt;
    }
  }
  if (o.root.empty() || o.key.empty()) error = "sign needs --root and --key";
  if (!error.empty()) return std::nullopt;
  return o;
}

// Written beside and renamed, so a server never reads half a signature.
void WriteAtomically(const fs::path& path, const std::string& bytes) {
  const fs::path temporary = path.string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + temporary.string());
  }
  fs::rename(temporary, path);
}

struct Signer {
  EVP_PKEY* key;
  std::string public_der;
  std::string key_id;
  trust::Fields shared;  // SIGNED, EXPIRES
  int code_page;
  std::int64_t now;

  // The signature file of one component, checked as an agent checks it.
  // The generic add-in's names the versions with folders of their own.
  std::string SignatureFor(const ComponentRelease& c, const std::string& not_for) const {
    trust::Fields fields = {{trust::kComponentField, c.name}};
    fields.insert(fields.end(), shared.begin(), shared.end());
    if (!not_for.empty()) fields.emplace_back(trust::kNotForField, not_for);
    fields.emplace_back(trust::kKeyIdField, key_id);
    const std::string head = trust::EnvelopeHead(fields);
    const std::string section =
        head + trust::EnvelopeValueLine(SignRaw(key, c.manifest.body + head));
    std::string file = SignatureFileText(public_der, code_page, section);
    const SignedAnswer check =
        AttachSignature(c.manifest.body, file, {c.name, not_for, code_page, now});
    if (!check.manifest)
      throw std::runtime_error("the new signature does not hold: " + check.problem);
    return file;
  }
};

// The --expires day as a signature field's time; nothing without one.
std::optional<std::int64_t> ExpiryOf(const SignOptions& o, std::int64_t now) {
  if (o.expires.empty()) return std::nullopt;
  const std::optional<std::int64_t> until = trust::ParseUtcDate(o.expires);
  if (!until)
    throw std::runtime_error("--expires " + o.expires + " is no date: give a day as YYYY-MM-DD");
  if (*until <= now)
    throw std::runtime_error("--expires takes a day after today, as YYYY-MM-DD (" + o.expires +
                             " has begun or passed)");
  return until;
}

// What an agent with keys would refuse: every component left unsigned.
void SayUnsigned(const std::vector<std::string>& unsigned_components, std::ostream& err) {
  if (unsigned_components.empty()) return;
  err << "unsigned:";
  for (const std::string& where : unsigned_components)
    err << (where == unsigned_components.front() ? " " : ", ") << where;
  err << " - agents with trusted keys refuse them: mend them and sign again before keys reach "
         "agents\n";
}

int SignRelease(const SignOptions& o, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  if (!fs::is_directory(o.root, ec))
    throw std::runtime_error("--root " + o.root + " is not a directory");
  const std::int64_t now = UtcNow();
  const std::optional<std::int64_t> until = ExpiryOf(o, now);  // before a passphrase is asked
  PrivateKey key = LoadSigningKey(o.key, o.passphrase);
  Signer signer{key.get(), PublicDerOf(key.get()), "", {}, o.code_page, now};
  signer.key_id = trust::KeyId(signer.public_der, ServerCrypto());
  signer.shared.emplace_back(trust::kSignedField, trust::FormatUtcTime(now));
  if (until) signer.shared.emplace_back(trust::kExpiresField, trust::FormatUtcTime(*until));
  AnsiCodePage cp(o.code_page);
  auto release =
      ReleaseSnapshot::Build(ReleaseFolder(o.root), cp, CachePolicy{}, SignatureMode::kForSigning);
  for (const std::string& w : release->Warnings()) err << "warning: " << w << "\n";
  int signed_count = 0;
  std::vector<std::string> unsigned_components;
  for (const auto& [where, c] : release->Components()) {
    if (c.manifest.status != 200) {
      err << "not signed: " << where << " cannot be published (see the warnings)\n";
      unsigned_components.push_back(where);
      continue;
    }
    const std::string not_for = c.name == "outlook" ? release->NotForGenericAddin() : "";
    WriteAtomically(c.folder / kSignatureFile, signer.SignatureFor(c, not_for));
    out << "signed " << where << " (" << c.files.size() << " files) as " << c.name << "\n";
    ++signed_count;
  }
  out << "signed " << signed_count << " components with key " << signer.key_id << " at "
      << trust::FormatUtcTime(now)
      << (o.expires.empty() ? std::string() : ", valid until " + o.expires) << ", for code page "
      << o.code_page << " (serve it with --codepage " << o.code_page << ")\n";
  SayUnsigned(unsigned_components, err);
  return !unsigned_components.empty() || signed_count == 0 ? 1 : 0;
}

}  // namespace

const char* const kSignUsage =
    "usage: mailbeacon-server sign --root DIR --key KEY.pem [--expires YYYY-MM-DD]\n"
    "                         [--codepage N] [--passphrase-fd N]\n"
    "Signs every component of the release folder DIR with the ECDSA P-256 private key\n"
    "in KEY.pem, on the offline machine that holds it; only public material is\n"
    "written (signature.ini per component). Give it the --codepage the server will\n"
    "use (default 949). An encrypted key's passphrase is asked on the terminal, or\n"
    "read from the first line of descriptor N (--passphrase-fd 3 3<FILE); the key is\n"
    "never written out decrypted. --expires: agents with keys refuse the release\n"
    "from that day on (UTC).\n";

int RunSign(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string error;
  std::optional<SignOptions> options = Parse(args, error);
  if (!options) {
    err << "mailbeacon-server sign: " << error << "\n";
    return 2;
  }
  try {
    return SignRelease(*options, out, err);
  } catch (const std::exception& e) {
    err << "mailbeacon-server sign: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace mb::server
