// Keeps the current release snapshot. A thread looks at the release folder
// every interval: it stats the files and folders that answers come from
// (pause.txt, the notices, ORG and MIRROR down to the files of every
// component and version folder), a few hundred system calls for a large
// release and nothing read. When that picture changes it waits one more
// interval for the folder to settle, builds a new snapshot, and installs it
// only if the folder did not change while it was being built; otherwise it
// tries again on the next check. Requests keep the snapshot they started
// with, so an answer is never a mix of two releases.
//
// Polling rather than inotify: it also sees folders replaced by a rename or
// a symbolic link swapped to a new release, and network file systems.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/release_snapshot.h"

namespace mb::server {

class ReleaseWatch {
 public:
  // report gets the warnings of every snapshot that is installed.
  using Report = std::function<void(const std::vector<std::string>&)>;

  ReleaseWatch(ReleaseFolder release, int code_page, CachePolicy policy, Report report);
  ~ReleaseWatch();
  ReleaseWatch(const ReleaseWatch&) = delete;
  ReleaseWatch& operator=(const ReleaseWatch&) = delete;

  // Builds the first snapshot here, then watches on a thread.
  void Start(std::chrono::milliseconds interval);
  void Stop();
  std::shared_ptr<const ReleaseSnapshot> Current() const;
  // Asks for a check now (a served file was found changed).
  void Poke();
  // Builds and installs a snapshot of the folder as it is now, without
  // waiting for it to settle (tests, SIGHUP).
  void Rebuild();

 private:
  using Stamp = std::vector<std::string>;
  Stamp TakeStamp() const;
  bool TryBuild(const Stamp& stamp);
  void Watch(std::chrono::milliseconds interval);

  ReleaseFolder release_;
  AnsiCodePage code_page_;
  CachePolicy policy_;
  Report report_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool poked_ = false;
  std::shared_ptr<const ReleaseSnapshot> current_;
  Stamp installed_;
  std::thread thread_;
};

}  // namespace mb::server
