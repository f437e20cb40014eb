// Blocking WinINet calls on a thread of their own, so that the caller keeps
// its window pumped and enforces its own limits while a call waits on the
// network.
//
// Why a thread: WinINet's receive time-outs set on the session are ignored
// by Wine, and closing a request handle, which cancels a pending call on
// Windows, does not wake a call blocked in Wine (it holds a reference to the
// handle until its socket read returns). So the caller never waits on a call
// itself: when it gives up, it stops waiting, closes the handle (which ends
// the call at once on Windows) and leaves the call to end on its own (under
// Wine, at the request's own receive time-out); the next call gets a fresh
// thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace mb::win32 {

class CallThread {
 public:
  CallThread() = default;
  ~CallThread();
  CallThread(const CallThread&) = delete;
  CallThread& operator=(const CallThread&) = delete;

  // Runs `call` on the thread and waits for it, calling `keep_waiting` every
  // `every` while it runs. Returns true when the call returned, false when
  // keep_waiting said to give up. An exception from keep_waiting gives up as
  // well and propagates. `call` must own or share everything it touches: a
  // call given up runs on after Run returns.
  bool Run(std::function<void()> call, const std::function<bool()>& keep_waiting,
           std::chrono::milliseconds every);

 private:
  struct Shared;
  void Start();
  void Abandon();

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace mb::win32
