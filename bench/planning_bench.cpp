// Planning at scale, through the agent object over the real POSIX backends
// on a temporary install directory.
//
// BuildDownloadList: a manifest of N files that are all present and current.
// Every file is renamed on install (NAME differs from ORG_NAME) and its
// recorded VERSION equals the manifest's, so each one costs six manifest
// reads, a stat of the installed file and a read of the install record: the
// plan with the most INI reads, and an empty download list. The manifest is
// written afresh before every pass (the pass deletes it), so it is as young
// as one just downloaded; the install record is older, as one left by an
// earlier run.
//
// RecordInstalledFiles: a list of N pending files written to the
// pending-install list, a log line each, and the release in the install
// record.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "bench/bench_platform.h"
#include "planning/ini_formats.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kHash = "0123456789abcdef0123456789abcdef";

std::string FileName(std::int64_t i) { return "file" + std::to_string(i) + ".dll"; }

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string Manifest(std::int64_t files) {
  std::string out =
      "[DOWNLOAD]\r\nTOTAL_FILES=" + std::to_string(files) + "\r\nLAST_VERSION=2.0.0\r\n";
  for (std::int64_t i = 1; i <= files; ++i) {
    out += "[FILE_" + std::to_string(i) + "]\r\nNAME=" + FileName(i) + ".new\r\nVERSION=1.0." +
           std::to_string(i) + "\r\nORG_NAME=" + FileName(i) +
           "\r\nTARGET_DIR=.\r\nSELF_REGISTER=NO\r\nHASH=" + kHash + "\r\n";
  }
  return out;
}

std::string InstallRecord(std::int64_t files) {
  std::string out = "[EXPRESS]\r\nINSTALL_VERSION=1.0.0\r\nLAST_VERSION=1.0.0\r\n";
  for (std::int64_t i = 1; i <= files; ++i) {
    out += "[" + FileName(i) + "]\r\nVERSION=1.0." + std::to_string(i) + "\r\n";
  }
  return out;
}

// An install directory of N installed files and their install record, and
// the agent object over it.
class Installation {
 public:
  explicit Installation(std::int64_t files) {
    std::string tmpl = (fs::temp_directory_path() / "mb-plan-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = tmpl;
    install_ = (root_ / "inst").string();
    fs::create_directories(fs::path(install_) / "update");
    for (std::int64_t i = 1; i <= files; ++i) WriteBytes(fs::path(install_) / FileName(i), "x");
    WriteBytes(UpdatePath(mb::ini::kInstallRecordFile), InstallRecord(files));
    platform_ = std::make_unique<mb::bench::BenchPlatform>(install_);
    tray_ = std::make_unique<mb::frmTray>(platform_->p);
    auto& s = tray_->State();
    s.ServerUrl = "http://127.0.0.1:1";
    s.VirtualDir = "/mailbeaconhome";
    s.FolderParam = "&Folder=ORG";
    s.UpdateDir = install_ + "\\update";
    s.InstallIniPath = s.UpdateDir + "\\" + mb::ini::kInstallRecordFile;
    s.DownloadIniPath = s.UpdateDir + "\\" + mb::ini::kPendingListFile;
    // An install record from an earlier run has long settled on disk.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  }
  ~Installation() {
    tray_.reset();
    platform_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  fs::path UpdatePath(const std::string& name) const {
    return fs::path(install_) / "update" / name;
  }
  mb::frmTray& tray() { return *tray_; }

 private:
  fs::path root_;
  std::string install_;
  std::unique_ptr<mb::bench::BenchPlatform> platform_;
  std::unique_ptr<mb::frmTray> tray_;
};

void BM_BuildDownloadList(benchmark::State& state) {
  const std::int64_t files = state.range(0);
  Installation inst(files);
  const std::string manifest = Manifest(files);
  const fs::path manifest_path = inst.UpdatePath("express_plugin.ini");
  for (auto _ : state) {
    state.PauseTiming();
    WriteBytes(manifest_path, manifest);
    mb::DownloadList list;
    state.ResumeTiming();
    const std::int16_t count = inst.tray().BuildDownloadList(mb::kExpressPlugin, list);
    if (count != 0 || !list.empty() || fs::exists(manifest_path)) {
      state.SkipWithError("the plan is not empty: every file should be current");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * files);
  state.SetComplexityN(files);
}
BENCHMARK(BM_BuildDownloadList)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

mb::DownloadList PendingFiles(std::int64_t files) {
  mb::DownloadList list;
  for (std::int64_t i = 1; i <= files; ++i) {
    mb::FileRecord r;
    r.Name = FileName(i) + ".new";
    r.Version = "1.0." + std::to_string(i);
    r.OrgName = FileName(i);
    r.TargetDir = "C:\\Program Files\\Mailbeacon";
    r.SelfRegister = "NO";
    r.BackUp = "YES";
    r.LastVersion = "2.0.0";
    list.push_back(std::move(r));
  }
  return list;
}

void BM_RecordInstalledFiles(benchmark::State& state) {
  const std::int64_t files = state.range(0);
  Installation inst(files);
  const mb::DownloadList list = PendingFiles(files);
  const fs::path pending = inst.UpdatePath(mb::ini::kPendingListFile);
  const fs::path log = inst.UpdatePath(mb::ini::kUpdateLogFile);
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(pending);
    fs::remove(log);
    state.ResumeTiming();
    inst.tray().RecordInstalledFiles(mb::kExpressPlugin, list, "2.0.0");
    state.PauseTiming();
    const std::string total = inst.tray().GetVal("EXPRESS_DOWNLOAD", "TOTAL_FILES", pending);
    state.ResumeTiming();
    if (total != std::to_string(files)) {
      state.SkipWithError("the pending-install list was not written");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * files);
  state.SetComplexityN(files);
}
BENCHMARK(BM_RecordInstalledFiles)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
