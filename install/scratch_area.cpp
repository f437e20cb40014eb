#include "install/scratch_area.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <map>
#include <memory>
#include <set>

#include "platform/filesystem.h"

namespace mb {
namespace {

enum class Role { kPartial, kKept, kRecord, kOther };

bool EndsWith(std::string_view s, std::string_view end) {
  return s.size() > end.size() && s.substr(s.size() - end.size()) == end;
}

Role RoleOf(std::string_view name) {
  if (EndsWith(name, kRecordSuffix)) {
    const std::string_view data = name.substr(0, name.size() - kRecordSuffix.size());
    return RoleOf(data) == Role::kOther || RoleOf(data) == Role::kRecord ? Role::kOther
                                                                         : Role::kRecord;
  }
  if (EndsWith(name, kPartialSuffix)) return Role::kPartial;
  if (EndsWith(name, kKeptSuffix)) return Role::kKept;
  return Role::kOther;
}

static_assert(kPartialSuffix.size() == kKeptSuffix.size());

// The release file's NAME a partial or kept copy belongs to.
std::string NameOf(std::string_view data) {
  return std::string(data.substr(0, data.size() - kPartialSuffix.size()));
}

std::optional<std::int64_t> Number(std::string_view text) {
  std::int64_t n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

// Whether a pair with a readable record may stay, whatever the plan.
bool Sound(const ScratchFile& f, const ScratchRecord& r) {
  if (f.age_seconds > kScratchMaxAgeSeconds || r.digest.empty()) return false;
  if (RoleOf(f.name) == Role::kKept) return f.size == r.total;
  return !r.url.empty() && (r.total < 0 || f.size <= r.total);
}

// A name the area does not make, a record without its file, or a file
// without its record.
bool Unpaired(const std::string& name, Role role, const std::set<std::string>& present) {
  if (role == Role::kOther) return true;
  if (role == Role::kRecord)
    return present.count(name.substr(0, name.size() - kRecordSuffix.size())) == 0;
  return present.count(RecordPath(name)) == 0;
}

class Removals {
 public:
  void Pair(const std::string& data) {
    names_.insert(data);
    names_.insert(data + std::string(kRecordSuffix));
  }
  void One(const std::string& name) { names_.insert(name); }
  std::vector<std::string> Names(const std::set<std::string>& present) const {
    std::vector<std::string> out;
    for (const std::string& n : names_)
      if (present.count(n) != 0) out.push_back(n);
    return out;
  }

 private:
  std::set<std::string> names_;
};

// Records are a few hundred bytes; anything longer is no record.
constexpr std::size_t kRecordMaxBytes = 8192;

std::vector<ScratchFile> FilesOf(platform::FileSystem& fs, const std::string& dir) {
  std::vector<ScratchFile> files;
  try {
    for (const platform::FolderEntry& e : fs.ListFolder(dir))
      if (e.is_file) files.push_back({e.name, e.size, e.age_seconds});
  } catch (const std::exception&) {
    files.clear();  // no area yet, or one that cannot be read: nothing to judge
  }
  return files;
}

void RemoveAll(platform::FileSystem& fs, const std::string& dir,
               const std::vector<std::string>& names) {
  const std::string prefix = dir + "\\";
  for (const std::string& name : names) {
    try {
      fs.DeleteFile(prefix + name);
    } catch (const std::exception&) {
      // in use, say: judged again at the next run
    }
  }
}

RecordReader ReaderIn(platform::FileSystem& fs, const std::string& dir) {
  return [&fs, dir](const std::string& data) { return ReadRecord(fs, dir + "\\" + data); };
}

}  // namespace

std::string ScratchDir(const std::string& update_dir) {
  return update_dir + "\\" + std::string(kScratchFolder);
}

std::string PartialPath(const std::string& update_dir, const std::string& name) {
  return ScratchDir(update_dir) + "\\" + name + std::string(kPartialSuffix);
}

std::string KeptPath(const std::string& update_dir, const std::string& name) {
  return ScratchDir(update_dir) + "\\" + name + std::string(kKeptSuffix);
}

std::string RecordPath(const std::string& path) { return path + std::string(kRecordSuffix); }

std::string FormatRecord(const ScratchRecord& r) {
  return "kind=" + std::to_string(r.kind) + "\nurl=" + r.url + "\ndigest=" + r.digest +
         "\nvalidator=" + r.validator + "\ntotal=" + std::to_string(r.total) + "\n";
}

std::optional<ScratchRecord> ParseRecord(std::string_view text) {
  std::map<std::string, std::string, std::less<>> values;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // cut short
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    if (!values.emplace(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1))).second)
      return std::nullopt;
  }
  for (const char* key : {"kind", "url", "digest", "validator", "total"})
    if (values.count(key) == 0) return std::nullopt;
  if (values.size() != 5) return std::nullopt;
  ScratchRecord r;
  const std::optional<std::int64_t> kind = Number(values["kind"]);
  const std::optional<std::int64_t> total = Number(values["total"]);
  if (!kind || !total || *kind < 0 || *kind > 2 || *total < -1) return std::nullopt;
  r.kind = static_cast<int>(*kind);
  r.url = values["url"];
  r.digest = values["digest"];
  r.validator = values["validator"];
  r.total = *total;
  return r;
}

std::vector<std::string> ScratchLeftovers(const std::vector<ScratchFile>& files,
                                          const RecordReader& record_of, std::int64_t cap_bytes) {
  std::set<std::string> present;
  for (const ScratchFile& f : files) present.insert(f.name);
  Removals out;
  std::vector<const ScratchFile*> kept;
  for (const ScratchFile& f : files) {
    const Role role = RoleOf(f.name);
    if (Unpaired(f.name, role, present)) {
      out.One(f.name);
    } else if (role == Role::kRecord) {
      continue;  // judged with its file
    } else if (const std::optional<ScratchRecord> r = record_of(f.name); !r || !Sound(f, *r)) {
      out.Pair(f.name);
    } else {
      kept.push_back(&f);
    }
  }
  // Over the cap, the oldest go first.
  std::sort(kept.begin(), kept.end(), [](const ScratchFile* a, const ScratchFile* b) {
    return a->age_seconds > b->age_seconds;
  });
  std::int64_t bytes = 0;
  for (const ScratchFile* f : kept) bytes += f->size;
  for (const ScratchFile* f : kept) {
    if (bytes <= cap_bytes) break;
    out.Pair(f->name);
    bytes -= f->size;
  }
  return out.Names(present);
}

std::vector<std::string> ForgottenByPlan(const std::vector<ScratchFile>& files,
                                         const RecordReader& record_of, int kind,
                                         const std::vector<PlannedFile>& plan) {
  std::set<std::string> present;
  for (const ScratchFile& f : files) present.insert(f.name);
  Removals out;
  for (const ScratchFile& f : files) {
    const Role role = RoleOf(f.name);
    if (role != Role::kPartial && role != Role::kKept) continue;
    const std::optional<ScratchRecord> r = record_of(f.name);
    if (!r || r->kind != kind) continue;
    const std::string name = NameOf(f.name);
    const bool wanted = std::any_of(plan.begin(), plan.end(), [&](const PlannedFile& p) {
      return p.name == name && p.digest == r->digest && (role == Role::kKept || p.url == r->url);
    });
    if (!wanted) out.Pair(f.name);
  }
  return out.Names(present);
}

void ClearScratchArea(platform::FileSystem& fs, const std::string& update_dir,
                      std::int64_t cap_bytes) {
  const std::string dir = ScratchDir(update_dir);
  RemoveAll(fs, dir, ScratchLeftovers(FilesOf(fs, dir), ReaderIn(fs, dir), cap_bytes));
}

void ForgetUnplanned(platform::FileSystem& fs, const std::string& update_dir, int kind,
                     const std::vector<PlannedFile>& plan) {
  const std::string dir = ScratchDir(update_dir);
  RemoveAll(fs, dir, ForgottenByPlan(FilesOf(fs, dir), ReaderIn(fs, dir), kind, plan));
}

std::optional<ScratchRecord> ReadRecord(platform::FileSystem& fs, const std::string& data_path) {
  try {
    const std::unique_ptr<platform::InputFile> in = fs.OpenRead(RecordPath(data_path));
    std::string text(kRecordMaxBytes + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
      const std::size_t n = in->Read(text.data() + got, text.size() - got);
      if (n == 0) break;
      got += n;
    }
    if (got > kRecordMaxBytes) return std::nullopt;
    text.resize(got);
    return ParseRecord(text);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool WriteRecord(platform::FileSystem& fs, const std::string& data_path,
                 const ScratchRecord& record) {
  const std::string path = RecordPath(data_path);
  const std::string temporary = path + ".tmp";
  try {
    if (fs.Exists(temporary)) fs.DeleteFile(temporary);
    fs.Append(temporary, FormatRecord(record));
    fs.Rename(temporary, path);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace mb
