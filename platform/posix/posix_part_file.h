// The temporary file that receives a download's body: a hidden
// ".<name>.part-XXXXXX" file beside the destination (platform/
// temporary_names.h), removed unless Commit() renamed it over the
// destination, so a failed transfer never disturbs the file already there.
#pragma once

#include <cstddef>
#include <string>

namespace mb::posix {

class PartFile {
 public:
  explicit PartFile(const std::string& destination);  // a POSIX path
  ~PartFile();
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  bool created() const { return fd_ >= 0 || closed_; }
  int fd() const { return fd_; }
  // Closes the file and renames it over the destination.
  bool Commit();

 private:
  std::string destination_;
  std::string temp_path_;
  int fd_ = -1;
  bool closed_ = false;
  bool committed_ = false;
};

// Writes all of data to fd, going on after interruptions.
bool WriteAll(int fd, const char* data, std::size_t size);

}  // namespace mb::posix
