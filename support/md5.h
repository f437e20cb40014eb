// MD5 message digest (RFC 1321), our own code. Downloaded files are checked
// against the HASH that a manifest publishes, as 32 lower-case hex digits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/filesystem.h"

namespace mb {

using Md5Digest = std::array<std::uint8_t, 16>;

// Streaming digest: feed any number of Update calls, then Finish. Finish
// returns the digest and leaves the object ready for a new message.
class Md5 {
 public:
  Md5() { Reset(); }
  void Update(const void* data, std::size_t n);
  Md5Digest Finish();

 private:
  void Reset();
  void ProcessBlocks(const unsigned char* blocks, std::size_t count);

  std::array<std::uint32_t, 4> state_{};
  std::array<unsigned char, 64> pending_{};  // a partial block between calls
  std::size_t pending_size_ = 0;
  std::uint64_t total_bytes_ = 0;
};

// The digest as 32 lower-case hexadecimal digits, as md5sum prints it.
std::string Md5Hex(const Md5Digest& digest);

// Md5Hex of bytes held in memory.
std::string Md5HexOf(std::string_view bytes);

// Reads the file to its end through one fixed buffer (never the whole file
// in memory) and returns Md5Hex of its bytes. Read errors propagate.
std::string Md5OfStream(platform::InputFile& file);

}  // namespace mb
