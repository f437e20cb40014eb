// "mailbeacon-server sign-root": writes a root of trust (trust/root.h) on
// the vendor's offline machine, signed by the root private keys given:
//
//   mailbeacon-server sign-root --out FILE --version N --threshold K
//       --root-keys A.pub.pem,B.pub.pem,... --release-keys X.pub.pem,...
//       --expires YYYY-MM-DD --key r1.pem [--key r2.pem ...]
//       [--previous root.N-1.ini]
//
// The root must hold as agents check it: signed by K of its own root keys,
// and - with --previous, the root it follows - by as many of that root's
// keys as it asks for; otherwise nothing is written. Publish it as
// keys/root.N.ini in the release folder.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace mb::server {

// Runs the command on its arguments (after "sign-root"); the exit status:
// 0 written, 1 the root would not hold (or a key cannot be read), 2 a bad
// command line.
int RunSignRoot(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

extern const char* const kSignRootUsage;

}  // namespace mb::server
