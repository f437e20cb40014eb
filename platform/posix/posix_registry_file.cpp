#include "platform/posix/posix_registry_file.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <iostream>
#include <utility>

#include "formats/registry_text.h"
#include "formats/registry_values.h"
#include "platform/posix/posix_registry_io.h"

namespace mb::posix {
namespace {

using formats::AnsiValueData;
using formats::FoldCase;
using formats::FoldKeyPath;
using formats::FormatValueLine;
using formats::ParseRegistryFile;
using formats::RegDocument;
using formats::RegKeyPath;
using formats::RegParseResult;
using formats::RegValueData;
using formats::RegValueEntry;
using formats::SpliceValueLine;
using formats::StoredValueData;
using formats::Utf8ToUtf16le;

using platform::kErrorBadRegistry;
using platform::kErrorFileNotFound;
using platform::kErrorInvalidHandle;
using platform::kErrorMoreData;
using platform::kErrorSuccess;

constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorDiskFull = 112;
constexpr long kErrorRegistryIoFailed = 1016;

// The predefined roots by handle, as the .reg sections spell them.
const char* RootName(platform::RegKey handle) {
  switch (handle) {
    case platform::kHkeyClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case platform::kHkeyCurrentUser:
      return "HKEY_CURRENT_USER";
    case platform::kHkeyLocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case 0x80000003u:
      return "HKEY_USERS";
    case 0x80000005u:
      return "HKEY_CURRENT_CONFIG";
    default:
      return nullptr;
  }
}

// A write failure as the Windows code RegSetValueEx would give.
long WriteError(int error) {
  if (error == EACCES || error == EPERM || error == EROFS) return platform::kErrorAccessDenied;
  if (error == ENOSPC || error == EDQUOT) return kErrorDiskFull;
  return kErrorRegistryIoFailed;
}

// `base` extended by a backslash-separated sub-key; empty parts dropped.
std::string JoinKeyPath(std::string base, const std::string& sub_key) {
  std::size_t start = 0;
  while (start <= sub_key.size()) {
    std::size_t end = sub_key.find('\\', start);
    if (end == std::string::npos) end = sub_key.size();
    if (end > start) base += '\\' + sub_key.substr(start, end - start);
    start = end + 1;
  }
  return base;
}

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// $HOME, else the account's home folder.
std::string HomeDir() {
  std::string home = EnvOrEmpty("HOME");
  if (home.empty()) {
    if (const passwd* account = ::getpwuid(::getuid())) home = account->pw_dir;
  }
  return home;
}

}  // namespace

std::string DefaultRegistryPath() {
  if (std::string path = EnvOrEmpty("MAILBEACON_REGISTRY"); !path.empty()) return path;
  std::string config = EnvOrEmpty("XDG_CONFIG_HOME");
  if (config.empty()) config = HomeDir() + "/.config";
  return config + "/mailbeacon/registry.reg";
}

RegistryFile::RegistryFile(std::string path, const platform::CodePage& code_page)
    : path_(std::move(path)), code_page_(code_page) {}

long RegistryFile::OpenKey(std::uint32_t root, const std::string& ansi_sub_key,
                           std::uint32_t /*access*/, platform::RegKey* key) {
  if (key == nullptr) return kErrorInvalidParameter;
  std::lock_guard<std::mutex> hold(mutex_);
  const auto base = KeyFor(root);
  if (!base) return kErrorInvalidHandle;
  const std::string display = JoinKeyPath(base->display, code_page_.FromAnsi(ansi_sub_key));
  const RegKeyPath path{FoldKeyPath(display).value_or(""), display};
  const Loaded loaded = Load(path_);
  if (loaded.status != kErrorSuccess) return loaded.status;
  if (!KeyExists(loaded.document ? &*loaded.document : nullptr, path)) return kErrorFileNotFound;
  *key = next_handle_++;
  open_keys_.emplace(*key, path);
  return kErrorSuccess;
}

long RegistryFile::QueryValue(platform::RegKey key, const std::string& ansi_name,
                              std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
  std::lock_guard<std::mutex> hold(mutex_);
  const auto path = KeyFor(key);
  if (!path) return kErrorInvalidHandle;
  if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
  const Loaded loaded = Load(path_);
  if (loaded.status != kErrorSuccess) return loaded.status;
  if (!loaded.document) return kErrorFileNotFound;
  const RegValueEntry* entry =
      loaded.document->FindValue(path->folded, FoldCase(code_page_.FromAnsi(ansi_name)));
  if (entry == nullptr) return kErrorFileNotFound;
  const std::string bytes = AnsiValueData(entry->data, loaded.document->unicode, code_page_);
  const auto needed = static_cast<std::uint32_t>(bytes.size());
  if (type != nullptr) *type = entry->data.type;
  if (size == nullptr) return kErrorSuccess;
  const std::uint32_t room = *size;
  *size = needed;
  if (data == nullptr) return kErrorSuccess;
  if (needed > room) return kErrorMoreData;
  std::copy(bytes.begin(), bytes.end(), data);  // value bytes, terminator included
  return kErrorSuccess;
}

long RegistryFile::SetValue(platform::RegKey key, const std::string& ansi_name, std::uint32_t type,
                            const std::uint8_t* data, std::uint32_t size) {
  std::lock_guard<std::mutex> hold(mutex_);
  const auto path = KeyFor(key);
  if (!path) return kErrorInvalidHandle;
  if (data == nullptr && size != 0) return kErrorInvalidParameter;
  // A .reg file cannot hold a line break in a value name: it would split the
  // value's line and leave a file that no longer parses.
  if (ansi_name.find_first_of("\r\n") != std::string::npos) return kErrorInvalidParameter;
  const std::string bytes = size != 0 ? std::string(reinterpret_cast<const char*>(data), size) : "";
  return WriteValue(*path, code_page_.FromAnsi(ansi_name), type, bytes);
}

long RegistryFile::CloseKey(platform::RegKey key) {
  std::lock_guard<std::mutex> hold(mutex_);
  return open_keys_.erase(key) != 0 ? kErrorSuccess : kErrorInvalidHandle;
}

long RegistryFile::WriteValue(const RegKeyPath& key, const std::string& name, std::uint32_t type,
                              const std::string& ansi_data) {
  const std::string target = ResolveRegistryTarget(path_);
  const RegFileLock lock(target);
  if (lock.error() == ENOENT || lock.error() == ENOTDIR) return kErrorFileNotFound;  // no folder
  if (lock.error() != 0) return WriteError(lock.error());
  const Loaded loaded = Load(target);  // under the lock: no update is lost
  if (loaded.status != kErrorSuccess) return loaded.status;
  const RegDocument* document = loaded.document ? &*loaded.document : nullptr;
  if (document == nullptr || !KeyExists(document, key)) return kErrorFileNotFound;
  const std::string folded_name = FoldCase(name);
  const RegValueEntry* old = document->FindValue(key.folded, folded_name);
  const RegValueData stored = StoredValueData(type, ansi_data, document->unicode, code_page_);
  const std::string line = FormatValueLine(old ? old->name : name, stored, document->eol);
  std::string text = SpliceValueLine(*document, key, folded_name, line);
  // A file keeps its encoding: regedit reads a UTF-16 file's text as
  // Unicode, but a UTF-8 file's text as ANSI.
  if (loaded.utf16) text = "\xFF\xFE" + Utf8ToUtf16le(text);
  const int error = ReplaceFileAtomically(target, text);
  return error == 0 ? kErrorSuccess : WriteError(error);
}

RegistryFile::Loaded RegistryFile::Load(const std::string& path) {
  const RegFileRead read = ReadRegistryFile(path);
  if (read.status == RegFileRead::Status::kMissing) return {};
  if (read.status == RegFileRead::Status::kError) {
    WarnOnce("cannot be read (" + std::string(std::strerror(read.error)) + ")");
    return {kErrorBadRegistry, std::nullopt};
  }
  RegParseResult parsed = ParseRegistryFile(read.bytes);
  if (!parsed.document) {
    WarnOnce("is malformed at line " + std::to_string(parsed.bad_line));
    return {kErrorBadRegistry, std::nullopt};
  }
  const bool utf16 = read.bytes.size() >= 2 && read.bytes[0] == '\xFF' && read.bytes[1] == '\xFE';
  return {kErrorSuccess, std::move(parsed.document), utf16};
}

void RegistryFile::WarnOnce(const std::string& problem) {
  if (warned_) return;
  warned_ = true;
  std::cerr << "mailbeacon: registry file " << path_ << ' ' << problem << "; using defaults\n";
}

std::optional<RegKeyPath> RegistryFile::KeyFor(platform::RegKey handle) const {
  if (const char* root = RootName(handle)) return RegKeyPath{root, root};
  const auto open = open_keys_.find(handle);
  if (open == open_keys_.end()) return std::nullopt;
  return open->second;
}

bool RegistryFile::KeyExists(const RegDocument* document, const RegKeyPath& key) {
  if (document == nullptr) return false;
  return key.folded.find('\\') == std::string::npos || document->HasKey(key.folded);
}

}  // namespace mb::posix
