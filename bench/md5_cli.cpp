// mb-md5 FILE: prints the file's MD5 digest the way md5sum does, through the
// same Md5OfStream that the agent's MD5File uses.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "support/error.h"
#include "support/md5.h"

namespace {

class PosixInput : public mb::platform::InputFile {
 public:
  explicit PosixInput(const char* path) : fd_(open(path, O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) Fail();
  }
  ~PosixInput() override { close(fd_); }
  PosixInput(const PosixInput&) = delete;
  PosixInput& operator=(const PosixInput&) = delete;

  std::size_t Read(char* buf, std::size_t n) override {
    for (;;) {
      const ssize_t got = read(fd_, buf, n);
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno != EINTR) Fail();
    }
  }

 private:
  [[noreturn]] static void Fail() { throw mb::Error(errno, std::strerror(errno)); }
  int fd_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mb-md5 FILE\n");
    return 2;
  }
  try {
    PosixInput file(argv[1]);
    std::printf("%s  %s\n", mb::Md5OfStream(file).c_str(), argv[1]);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mb-md5: %s: %s\n", argv[1], e.what());
    return 1;
  }
}
