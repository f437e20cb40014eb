// The one rule for every file the server serves or parses (pause.txt, the
// notices, release.ini, files.ini and the release files): it is opened
// without following a link in its last step and must be a regular file,
// checked on the descriptor that is then read, so nothing can be swapped in
// between. A link to a file, even one beside it, is refused; links on
// folders are followed (a component or version folder swapped by a link is
// how a release is published). Opening never blocks (a FIFO is refused).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace mb::server {

// An open release file; closed with the object.
class ReleaseFd {
 public:
  ReleaseFd() = default;
  explicit ReleaseFd(int fd) : fd_(fd) {}
  ~ReleaseFd();
  ReleaseFd(ReleaseFd&& other) noexcept : fd_(other.Release()) {}
  ReleaseFd& operator=(ReleaseFd&& other) noexcept;
  ReleaseFd(const ReleaseFd&) = delete;
  ReleaseFd& operator=(const ReleaseFd&) = delete;

  int Get() const { return fd_; }
  // Hands the descriptor over; the object no longer closes it.
  int Release();

 private:
  int fd_ = -1;
};

struct OpenedReleaseFile {
  ReleaseFd fd;          // -1 when missing or refused
  bool missing = false;  // nothing of that name
  std::string refusal;   // why it is not read: a link, not a regular file, ...
};

OpenedReleaseFile OpenReleaseFile(const std::filesystem::path& path);

struct ReleaseText {
  std::optional<std::string> bytes;  // nothing when missing or refused
  std::string refusal;               // empty unless refused
};

// The whole file, by the rule above.
ReleaseText ReadReleaseText(const std::filesystem::path& path);

}  // namespace mb::server
