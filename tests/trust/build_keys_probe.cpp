// Prints the keys compiled in by -DMB_TRUSTED_KEYS, for the CTest that
// checks the PEM files reach the program as the agent reads them.
#include <cstdio>

#include "agent/build_trusted_keys.h"

int main() {
  std::printf("[%s]\n", mb::BuildTrustedKeys().c_str());
  return 0;
}
