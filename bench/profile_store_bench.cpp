// The INI store must stay linear on large files: parsing and a batch of N
// writes grow with N, while a cached read and adding one section to a file
// of N sections cost the same whatever N is. The reported complexities show
// whether that holds.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "formats/profile_document.h"
#include "platform/posix/posix_profile_store.h"

namespace {

// N pending-file sections of six keys, as the pending-install list holds them.
std::string PendingList(std::int64_t sections) {
  std::string out = "[OUTLOOK_DOWNLOAD]\r\nTOTAL_FILES=" + std::to_string(sections) + "\r\n";
  for (std::int64_t i = 1; i <= sections; ++i) {
    const std::string n = std::to_string(i);
    out += "[OUTLOOK_FILE_" + n + "]\r\nNAME=file" + n + ".dll\r\nVERSION=1.0." + n +
           "\r\nORG_NAME=file" + n + ".dll\r\nTARGET_DIR=C:\\Program Files\\Mailbeacon\r\n" +
           "SELF_REGISTER=NO\r\nBACK_UP=NO\r\n";
  }
  return out;
}

class BenchDir {
 public:
  BenchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "mb-ini-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
  }
  ~BenchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void WriteBytes(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// Heap bytes in use (glibc), to report what one parsed document holds.
std::size_t HeapInUse() { return mallinfo2().uordblks; }

void BM_ProfileParse(benchmark::State& state) {
  const std::string bytes = PendingList(state.range(0));
  for (auto _ : state) {
    mb::formats::ProfileDocument doc(bytes);
    benchmark::DoNotOptimize(&doc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
  const std::size_t heap_before = HeapInUse();
  {
    mb::formats::ProfileDocument doc(bytes);
    state.counters["doc_bytes"] = static_cast<double>(HeapInUse() - heap_before);
    state.counters["file_bytes"] = static_cast<double>(bytes.size());
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ProfileParse)->RangeMultiplier(10)->Range(100, 100000)->Complexity(benchmark::oN);

// One new section (and key) added to a document that already holds N.
void BM_ProfileAddSection(benchmark::State& state) {
  mb::formats::ProfileDocument doc(PendingList(state.range(0)));
  std::int64_t i = 0;
  for (auto _ : state) {
    doc.Set("EXPRESS_FILE_" + std::to_string(++i), "NAME", "x.dll");
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ProfileAddSection)->RangeMultiplier(10)->Range(100, 100000)->Complexity(benchmark::o1);

// A read through the store of a file it has cached (one stat per read).
void BM_ProfileCachedRead(benchmark::State& state) {
  BenchDir dir;
  const std::string file = dir.File("list.ini");
  WriteBytes(file, PendingList(state.range(0)));
  mb::posix::PosixProfileStore store(std::chrono::milliseconds(0));
  const std::string section = "OUTLOOK_FILE_" + std::to_string(state.range(0) / 2 + 1);
  char buf[1024];
  for (auto _ : state) {
    benchmark::DoNotOptimize(store.GetString(section, "VERSION", "", buf, sizeof buf, file));
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ProfileCachedRead)->RangeMultiplier(10)->Range(100, 100000)->Complexity(benchmark::o1);

// A whole pending-install list of N files written in one batch, on disk.
void BM_ProfileBatchWrite(benchmark::State& state) {
  BenchDir dir;
  const std::string file = dir.File("batch.ini");
  mb::posix::PosixProfileStore store;
  for (auto _ : state) {
    state.PauseTiming();
    unlink(file.c_str());
    state.ResumeTiming();
    mb::platform::ProfileBatch batch(store);
    for (std::int64_t i = 1; i <= state.range(0); ++i) {
      const std::string section = "OUTLOOK_FILE_" + std::to_string(i);
      store.WriteString(section, "NAME", "file.dll", file);
      store.WriteString(section, "VERSION", "1.0", file);
      store.WriteString(section, "BACK_UP", "NO", file);
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ProfileBatchWrite)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
