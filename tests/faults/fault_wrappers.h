// Forwarding wrappers over the real backends that let a test fail one call
// the way the OS would (a full disk, a locked file, a vanished folder),
// in the manner of leveldb's EnvWrapper. Everything not failed goes to the
// real backend.
#pragma once

#include <cerrno>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/filesystem.h"
#include "platform/network.h"
#include "platform/posix/posix_filesystem.h"
#include "platform/profile.h"

namespace mb::test {

// Calls of the file system, by name, for a test's rule.
enum class FsCall {
  kCreateDirectory,
  kDeleteFile,
  kCopyFile,
  kRename,
  kAppend,
  kMakeExecutable,
  kWriteWhole,
};

class FaultyFileSystem : public platform::FileSystem {
 public:
  explicit FaultyFileSystem(platform::FileSystem& real) : real_(real) {}
  // Returns the errno to fail a call on `path` (the destination of a copy or
  // rename) with, or 0 to let it through.
  std::function<int(FsCall, const std::string& path)> rule = [](FsCall, const std::string&) {
    return 0;
  };

  bool IsOrdinaryFile(const std::string& path) override { return real_.IsOrdinaryFile(path); }
  bool Exists(const std::string& path) override { return real_.Exists(path); }
  std::optional<std::size_t> RootLength(const std::string& path) override {
    return real_.RootLength(path);
  }
  void CreateDirectory(const std::string& path) override {
    Check(FsCall::kCreateDirectory, path);
    real_.CreateDirectory(path);
  }
  void DeleteFile(const std::string& path) override {
    Check(FsCall::kDeleteFile, path);
    real_.DeleteFile(path);
  }
  void CopyFile(const std::string& from, const std::string& to) override {
    Check(FsCall::kCopyFile, to);
    real_.CopyFile(from, to);
  }
  void Rename(const std::string& from, const std::string& to) override {
    Check(FsCall::kRename, to);
    real_.Rename(from, to);
  }
  std::unique_ptr<platform::InputFile> OpenRead(const std::string& path) override {
    return real_.OpenRead(path);
  }
  void Append(const std::string& path, const std::string& bytes) override {
    Check(FsCall::kAppend, path);
    real_.Append(path, bytes);
  }
  void MakeExecutable(const std::string& path) override {
    Check(FsCall::kMakeExecutable, path);
    real_.MakeExecutable(path);
  }
  std::vector<platform::FolderEntry> ListFolder(const std::string& path) override {
    return real_.ListFolder(path);
  }
  bool IsLink(const std::string& path) override { return real_.IsLink(path); }
  void RemoveLink(const std::string& path) override { real_.RemoveLink(path); }
  void WriteWhole(const std::string& path, const std::string& bytes) override {
    Check(FsCall::kWriteWhole, path);
    real_.WriteWhole(path, bytes);
  }
  // What CanReplace and CanWriteIn answer for a path, where the test says
  // (a file held by another program, a folder this user may not write).
  std::function<std::optional<platform::AccessCheck>(const std::string& path)> access_rule =
      [](const std::string&) { return std::nullopt; };
  platform::AccessCheck CanReplace(const std::string& path) override {
    if (auto ruled = access_rule(path)) return *ruled;
    return real_.CanReplace(path);
  }
  platform::AccessCheck CanWriteIn(const std::string& dir) override {
    if (auto ruled = access_rule(dir)) return *ruled;
    return real_.CanWriteIn(dir);
  }

 private:
  void Check(FsCall call, const std::string& path) {
    if (const int err = rule(call, path)) posix::ThrowPosixError(err);
  }
  platform::FileSystem& real_;
};

// The network, with a hook before and after each download, and a guard
// that keeps tests off every host but loopback (a broken registry makes the
// agent fall back to the vendor's real server).
class FaultyNetwork : public platform::Network {
 public:
  explicit FaultyNetwork(platform::Network& real) : real_(real) {}
  // Runs before a download; a non-zero result fails it with that result.
  std::function<long(const std::string& url, const std::string& path)> before = [](auto&, auto&) {
    return 0L;
  };
  std::function<void(const std::string& url, const std::string& path)> after = [](auto&, auto&) {};
  std::vector<std::string> refused;  // URLs off loopback, never fetched

  bool IsConnected() override { return real_.IsConnected(); }
  long Download(const std::string& url, const std::string& path,
                const platform::DownloadOptions& o) override {
    if (url.rfind("http://127.0.0.1:", 0) != 0) {
      refused.push_back(url);
      return platform::kDownloadTransportError;
    }
    if (const long failed = before(url, path)) return failed;
    const long result = real_.Download(url, path, o);
    after(url, path);
    return result;
  }

 private:
  platform::Network& real_;
};

// The profile store, with a hook after each read and a rule that fails writes.
class FaultyProfiles : public platform::ProfileStore {
 public:
  explicit FaultyProfiles(platform::ProfileStore& real) : real_(real) {}
  std::function<void(const std::string& section, const std::string& key)> after_read = [](auto&,
                                                                                          auto&) {};
  std::function<bool(const std::string& file)> fail_write = [](const std::string&) {
    return false;
  };

  std::uint32_t GetString(const std::string& section, const std::string& key,
                          const std::string& def, char* buf, std::uint32_t size,
                          const std::string& file) override {
    const std::uint32_t n = real_.GetString(section, key, def, buf, size, file);
    after_read(section, key);
    return n;
  }
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override {
    if (fail_write(file)) return false;
    return real_.WriteString(section, key, value, file);
  }
  void BeginBatch() override { real_.BeginBatch(); }
  void EndBatch() override { real_.EndBatch(); }

 private:
  platform::ProfileStore& real_;
};

}  // namespace mb::test
