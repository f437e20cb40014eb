// Prints the keys compiled in by -DMB_TRUSTED_KEYS, and the root of trust
// of -DMB_TRUSTED_ROOT when there is one, for the CTests that check the
// files reach the program as the agent reads them.
#include <cstdio>
#include <cstring>

#include "agent/build_trusted_keys.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--root") == 0) {
    std::fputs(mb::BuildTrustedRoot().c_str(), stdout);
    return 0;
  }
  std::printf("[%s]\n", mb::BuildTrustedKeys().c_str());
  return 0;
}
