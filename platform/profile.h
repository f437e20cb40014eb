// Private-profile (INI) files, as GetPrivateProfileStringA and
// WritePrivateProfileStringA behave. Section, key, value and default are
// bytes in the system ANSI code page; the file path is in the agent's own
// text encoding (UTF-8) and the backend converts it as its OS needs.
#pragma once

#include <cstdint>
#include <string>

namespace mb::platform {

class ProfileStore {
 public:
  virtual ~ProfileStore() = default;

  // Copies the value of section/key (or `def` when it is missing) into buf,
  // at most size - 1 bytes and a terminating NUL; returns the number of bytes
  // copied, without the NUL. Matching of names is case-insensitive, the first
  // match wins, spaces around names and values are trimmed, a value's
  // matching surrounding quotes are removed.
  virtual std::uint32_t GetString(const std::string& section,
                                  const std::string& key,
                                  const std::string& def, char* buf,
                                  std::uint32_t size,
                                  const std::string& file) = 0;

  // Writes section/key = value, creating the file, the section (appended at
  // the end) and the key as needed; an existing value is replaced in place.
  // Everything else in the file is kept byte for byte. False on failure.
  virtual bool WriteString(const std::string& section, const std::string& key,
                           const std::string& value,
                           const std::string& file) = 0;

  // Writes between BeginBatch and EndBatch may be held in memory; EndBatch
  // puts all of them on disk before it returns. Reads inside a batch may see
  // a file as the batch first read it (changes other programs make meanwhile
  // may go unseen until the batch ends). Nested batches count.
  virtual void BeginBatch() {}
  virtual void EndBatch() {}
};

// Holds a batch open for one scope.
class ProfileBatch {
 public:
  explicit ProfileBatch(ProfileStore& store) : store_(store) { store_.BeginBatch(); }
  ~ProfileBatch() { store_.EndBatch(); }
  ProfileBatch(const ProfileBatch&) = delete;
  ProfileBatch& operator=(const ProfileBatch&) = delete;

 private:
  ProfileStore& store_;
};

}  // namespace mb::platform
