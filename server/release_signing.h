// "mailbeacon-server sign": signs every component of a release folder (ORG
// and MIRROR, each Outlook version folder) in place, on a machine that
// holds the private key; the release then carries only public material
// (signature.ini per component, server/manifest_signature.h).
//
//   mailbeacon-server sign --root RELEASE --key KEY.pem [--expires YYYY-MM-DD]
//                          [--codepage N]
//
// KEY.pem: an ECDSA P-256 private key, as `openssl ecparam -name prime256v1
// -genkey -noout` writes it, or PKCS#8. All components get the same signing
// time, so an agent that moves between ORG and MIRROR sees one release.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace mb::server {

// What `sign --help` prints.
extern const char* const kSignUsage;

// Runs the sign command on its arguments (after "sign"); the exit status:
// 0 when every component was signed, 1 when one could not be (it keeps no
// signature), 2 for a bad command line.
int RunSign(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mb::server
