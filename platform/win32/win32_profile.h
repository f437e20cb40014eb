// Private-profile files through GetPrivateProfileStringA and
// WritePrivateProfileStringA, with one thing of our own: a file that other
// programs read (the pending-install list, the install record) is never
// seen half written. Windows rewrites a profile file in place at each
// value, so a crash or a reader in between finds part of it; here the
// writes of a batch (and each write outside one) go to a copy beside the
// file, which replaces it when the batch ends (MoveFileEx, written through).
// Reads inside a batch see its writes.
//
// A file path that the ANSI code page cannot spell (a Korean folder name on
// a Western system) would reach the A functions as "?" and miss its file;
// such a path goes to the W functions instead, with the ANSI names and
// values converted exactly as the A functions convert them.
#pragma once

#include <map>
#include <string>

#include "platform/profile.h"

namespace mb::win32 {

class Win32ProfileStore : public platform::ProfileStore {
 public:
  ~Win32ProfileStore() override;
  std::uint32_t GetString(const std::string& section, const std::string& key,
                          const std::string& def, char* buf, std::uint32_t size,
                          const std::string& file) override;
  // False when the value could not be written; a batch whose copy cannot
  // replace the file at its end loses its writes, the file stays as it was.
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override;
  void BeginBatch() override;
  void EndBatch() override;

 private:
  // The copy a batch writes instead of `file`, made on its first write;
  // empty when it cannot be made.
  std::string CopyFor(const std::string& file);
  void ReplaceAll();

  int batch_depth_ = 0;
  std::map<std::string, std::string> copies_;  // file -> its copy (UTF-8 paths)
};

}  // namespace mb::win32
