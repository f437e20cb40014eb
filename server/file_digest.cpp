#include "server/file_digest.h"

#include <fstream>
#include <vector>

#include "support/md5.h"

namespace mb::server {

std::optional<std::string> FileMd5Hex(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Md5 md5;
  std::vector<char> buffer(1 << 16);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    md5.Update(buffer.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) return std::nullopt;
  return Md5Hex(md5.Finish());
}

}  // namespace mb::server
