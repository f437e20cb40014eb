// mb_trust_ca CA.der: for the HTTPS runs under Wine. Adds the test CA to
// the Root store of the current user in the running Wine prefix (the
// prefix's own registry), so that WinINet trusts what it signed there and
// nowhere else; never the machine's store. Exit status 0 when the
// certificate is in the store.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mb_trust_ca CA.der\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string der(std::istreambuf_iterator<char>(in), {});
  if (der.empty()) {
    std::fprintf(stderr, "mb_trust_ca: cannot read %s\n", argv[1]);
    return 1;
  }
  HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                  CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (root == nullptr) {
    std::fprintf(stderr, "mb_trust_ca: cannot open the Root store (%lu)\n", GetLastError());
    return 1;
  }
  const BOOL added = CertAddEncodedCertificateToStore(
      root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
      static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  if (!added) std::fprintf(stderr, "mb_trust_ca: not added (%lu)\n", GetLastError());
  CertCloseStore(root, 0);
  return added ? 0 : 1;
}
