// What a download hands on while it writes: every byte of the body, in the
// order it lands in the file, so digests are made while the bytes arrive
// instead of reading the file again afterwards.
#pragma once

#include <array>
#include <cstddef>

#include "platform/filesystem.h"

namespace mb::platform {

class BodySink {
 public:
  virtual ~BodySink() = default;
  // The file starts over from its first byte: forget what came before.
  virtual void Restart() = 0;
  // The next bytes of the file.
  virtual void Append(const char* data, std::size_t size) = 0;
};

// A download that goes on from a file it already holds (a partial file
// taken up again) restarts the sink and replays the file's bytes before
// appending new ones, so the sink always ends with the digest of the whole
// file. Read errors propagate.
inline void ReplayInto(InputFile& file, BodySink& sink) {
  sink.Restart();
  std::array<char, std::size_t{64} * 1024> buffer{};
  while (const std::size_t n = file.Read(buffer.data(), buffer.size()))
    sink.Append(buffer.data(), n);
}

}  // namespace mb::platform
