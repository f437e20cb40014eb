// mb::test::TempDir for the Windows test binary: a fresh folder under the
// system's temporary directory (the POSIX twin uses mkdtemp).
#include <windows.h>

#include <random>
#include <stdexcept>

#include "helpers/temp_dir.h"

namespace mb::test {

TempDir::TempDir() {
  std::random_device rd;
  std::mt19937 gen(rd() ^ GetCurrentProcessId());
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path p = base / ("mbtest-" + std::to_string(gen()));
    std::error_code ec;
    if (std::filesystem::create_directory(p, ec)) {
      path_ = p;
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only or hidden files behind; clear those first.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  std::filesystem::remove_all(path_, ec);
}

}  // namespace mb::test
