#include "platform/win32/win32_call_thread.h"

#include <condition_variable>
#include <mutex>
#include <utility>

namespace mb::win32 {

// What the caller and the thread share; the thread keeps its own reference,
// so a thread left behind never touches memory that is gone.
struct CallThread::Shared {
  std::mutex mutex;
  std::condition_variable wake;
  std::function<void()> call;  // set while a call waits to start
  bool busy = false;           // a call was handed over and has not returned
  bool quit = false;

  void Serve() {
    std::unique_lock lock(mutex);
    for (;;) {
      wake.wait(lock, [this] { return call || quit; });
      if (!call) return;
      std::function<void()> next = std::move(call);
      call = nullptr;
      lock.unlock();
      next();
      lock.lock();
      busy = false;
      wake.notify_all();
    }
  }
};

CallThread::~CallThread() {
  if (!shared_) return;
  bool busy = false;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->quit = true;
    busy = shared_->busy;
  }
  shared_->wake.notify_all();
  if (busy) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void CallThread::Start() {
  shared_ = std::make_shared<Shared>();
  thread_ = std::thread([shared = shared_] { shared->Serve(); });
}

// The thread finishes its call on its own and then ends.
void CallThread::Abandon() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->quit = true;
  }
  shared_->wake.notify_all();
  thread_.detach();
  shared_.reset();
}

bool CallThread::Run(std::function<void()> call, const std::function<bool()>& keep_waiting,
                     std::chrono::milliseconds every) {
  if (!shared_) Start();
  std::unique_lock lock(shared_->mutex);
  shared_->call = std::move(call);
  shared_->busy = true;
  shared_->wake.notify_all();
  while (!shared_->wake.wait_for(lock, every, [this] { return !shared_->busy; })) {
    lock.unlock();
    bool keep = false;
    try {
      keep = keep_waiting();
    } catch (...) {
      Abandon();
      throw;
    }
    if (!keep) {
      Abandon();
      return false;
    }
    lock.lock();
  }
  return true;
}

}  // namespace mb::win32
