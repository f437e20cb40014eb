// mb-md5 FILE: prints the file's MD5 digest the way md5sum does, along the
// same path as the agent's MD5File: PosixFileSystem::OpenRead, Md5OfStream.
#include <cstdio>
#include <exception>

#include "platform/posix/posix_filesystem.h"
#include "support/md5.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mb-md5 FILE\n");
    return 2;
  }
  try {
    mb::posix::PosixFileSystem fs;
    const auto file = fs.OpenRead(argv[1]);
    std::printf("%s  %s\n", mb::Md5OfStream(*file).c_str(), argv[1]);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mb-md5: %s: %s\n", argv[1], e.what());
    return 1;
  }
}
