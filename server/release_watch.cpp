#include "server/release_watch.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

namespace mb::server {
namespace fs = std::filesystem;
namespace {

// How deep answers reach below ORG and MIRROR: component, version folder, file.
constexpr int kDepth = 3;

void AddEntry(const fs::path& path, std::vector<std::string>& stamp) {
  struct stat st {};
  std::string line = path.string();
  if (stat(path.c_str(), &st) == 0) {
    line += " " + std::to_string(st.st_ino) + " " + std::to_string(st.st_size) + " " +
            std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + " " +
            std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec);
  }
  stamp.push_back(std::move(line));
}

void AddTree(const fs::path& dir, int depth, std::vector<std::string>& stamp) {
  AddEntry(dir, stamp);
  std::error_code ec;
  if (depth == 0 || !fs::is_directory(dir, ec)) return;
  std::vector<fs::path> children;
  for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) children.push_back(e.path());
  std::sort(children.begin(), children.end());
  for (const fs::path& child : children) AddTree(child, depth - 1, stamp);
}

}  // namespace

ReleaseWatch::ReleaseWatch(ReleaseFolder release, int code_page, CachePolicy policy, Report report)
    : release_(std::move(release)),
      code_page_(code_page),
      policy_(policy),
      report_(std::move(report)) {}

ReleaseWatch::~ReleaseWatch() { Stop(); }

ReleaseWatch::Stamp ReleaseWatch::TakeStamp() const {
  const fs::path& root = release_.Root();
  Stamp stamp;
  AddEntry(root, stamp);
  AddEntry(root / "pause.txt", stamp);
  AddEntry(root / "notice.txt", stamp);
  AddTree(root / "notice", 1, stamp);
  AddTree(root / "ORG", kDepth, stamp);
  AddTree(root / "MIRROR", kDepth, stamp);
  return stamp;
}

bool ReleaseWatch::TryBuild(const Stamp& stamp) {
  std::shared_ptr<const ReleaseSnapshot> snapshot =
      ReleaseSnapshot::Build(release_, code_page_, policy_);
  if (TakeStamp() != stamp) return false;  // changed while it was read
  {
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = snapshot;
    installed_ = stamp;
  }
  if (report_) report_(snapshot->Warnings());
  return true;
}

void ReleaseWatch::Rebuild() {
  for (int attempt = 0; attempt < 5; ++attempt)
    if (TryBuild(TakeStamp())) return;
  // A folder that never holds still still gets a snapshot.
  std::shared_ptr<const ReleaseSnapshot> snapshot =
      ReleaseSnapshot::Build(release_, code_page_, policy_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = snapshot;
  }
  if (report_) report_(snapshot->Warnings());
}

void ReleaseWatch::Start(std::chrono::milliseconds interval) {
  Rebuild();
  stopping_ = false;
  thread_ = std::thread([this, interval] { Watch(interval); });
}

void ReleaseWatch::Watch(std::chrono::milliseconds interval) {
  Stamp last_seen;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_for(lock, interval, [this] { return stopping_ || poked_; });
      if (stopping_) return;
      poked_ = false;
    }
    Stamp stamp = TakeStamp();
    bool installed;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      installed = stamp == installed_;
    }
    if (installed) continue;
    // Build only once the folder held still for one interval.
    if (stamp == last_seen) TryBuild(stamp);
    last_seen = stamp;
  }
}

void ReleaseWatch::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::shared_ptr<const ReleaseSnapshot> ReleaseWatch::Current() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return current_;
}

void ReleaseWatch::Poke() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    poked_ = true;
  }
  wake_.notify_all();
}

}  // namespace mb::server
