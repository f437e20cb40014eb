#include "install/install_journal.h"

#include <array>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <utility>

#include "install/pending_list.h"
#include "rules/agent_files.h"

namespace mb {
namespace {

constexpr std::string_view kHeader = "MAILBEACON-INSTALL-JOURNAL 1";
constexpr std::string_view kEnd = "END";
constexpr char kSeparator = '\t';

constexpr std::array<std::pair<JournalState, std::string_view>, 5> kStateNames{{
    {JournalState::kIdle, "idle"},
    {JournalState::kStaging, "staging"},
    {JournalState::kCommitting, "committing"},
    {JournalState::kRollingBack, "rolling-back"},
    {JournalState::kCommitted, "committed"},
}};

// Every field on one line: "%", control characters (the separator and line
// breaks among them) and DEL as %XX; other bytes as they are.
std::string Escape(std::string_view field) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : field) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '%' || byte < 0x20 || byte == 0x7F) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> Unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      out += field[i];
      continue;
    }
    if (i + 2 >= field.size()) return std::nullopt;
    const int hi = HexValue(field[i + 1]);
    const int lo = HexValue(field[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

std::optional<std::vector<std::string>> Fields(std::string_view rest) {
  std::vector<std::string> fields;
  while (true) {
    const std::size_t tab = rest.find(kSeparator);
    std::optional<std::string> field = Unescape(rest.substr(0, tab));
    if (!field) return std::nullopt;
    fields.push_back(std::move(*field));
    if (tab == std::string_view::npos) return fields;
    rest.remove_prefix(tab + 1);
  }
}

std::string Line(std::string_view word, std::initializer_list<std::string_view> fields) {
  std::string line(word);
  for (std::string_view f : fields) line.append(1, kSeparator).append(Escape(f));
  return line + "\n";
}

std::string_view StateName(JournalState state) {
  for (const auto& [s, name] : kStateNames) {
    if (s == state) return name;
  }
  return "idle";
}

std::optional<JournalState> StateOf(std::string_view name) {
  for (const auto& [s, n] : kStateNames) {
    if (n == name) return s;
  }
  return std::nullopt;
}

// One line after the header into the journal; false for a line that is
// not one of its own.
bool ReadLine(std::string_view word, const std::vector<std::string>& f, InstallJournal& j) {
  if (word == "STATE" && f.size() == 1) {
    const std::optional<JournalState> state = StateOf(f[0]);
    if (state) j.state = *state;
    return state.has_value();
  }
  if (word == "COMPONENT" && f.size() == 2) {
    j.component = f[0];
    j.release = f[1];
    return true;
  }
  if (word == "SWAP" && f.size() == 5 && (f[0] == "0" || f[0] == "1")) {
    j.swaps.push_back({f[2], f[3], f[4], f[1], f[0] == "1"});
    return true;
  }
  if (word == "RECORD" && f.size() == 3) {
    j.record.push_back({f[0], f[1], f[2]});
    return true;
  }
  if (word == "LEFTOVER" && f.size() == 1) {
    j.leftovers.push_back(f[0]);
    return true;
  }
  return false;
}

std::optional<InstallJournal> ReadJournal(platform::FileSystem& fs, const std::string& path) {
  std::string bytes;
  auto in = fs.OpenRead(path);
  char buf[16 * 1024];
  while (const std::size_t n = in->Read(buf, sizeof buf)) bytes.append(buf, n);
  return ParseJournal(bytes);
}

std::string Quoted(const std::string& component, const std::string& release) {
  return "[" + component + "] " + release;
}

}  // namespace

std::string FormatJournal(const InstallJournal& j) {
  std::string out = std::string(kHeader) + "\n";
  out += Line("STATE", {StateName(j.state)});
  out += Line("COMPONENT", {j.component, j.release});
  for (const FileSwap& s : j.swaps) {
    out += Line("SWAP", {s.existed ? "1" : "0", s.tag, s.dir, s.name, s.source});
  }
  for (const RecordWrite& w : j.record) out += Line("RECORD", {w.section, w.key, w.value});
  for (const std::string& path : j.leftovers) out += Line("LEFTOVER", {path});
  return out + std::string(kEnd) + "\n";
}

std::optional<InstallJournal> ParseJournal(std::string_view text) {
  InstallJournal j;
  bool header = false;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    if (nl == std::string_view::npos) return std::nullopt;  // cut off
    const std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl + 1);
    if (!header) {
      if (line != kHeader) return std::nullopt;
      header = true;
      continue;
    }
    if (line == kEnd) return text.empty() ? std::optional(j) : std::nullopt;
    const std::size_t tab = line.find(kSeparator);
    if (tab == std::string_view::npos) return std::nullopt;
    const std::optional<std::vector<std::string>> fields = Fields(line.substr(tab + 1));
    if (!fields || !ReadLine(line.substr(0, tab), *fields, j)) return std::nullopt;
  }
  return std::nullopt;  // no end line
}

std::string JournalPath(const std::string& update_dir) {
  return update_dir + "\\" + files::kInstallJournal;
}

void WriteJournal(platform::FileSystem& fs, const std::string& update_dir,
                  const InstallJournal& journal) {
  const std::string path = JournalPath(update_dir);
  if (journal.state == JournalState::kIdle && journal.leftovers.empty()) {
    if (fs.Exists(path)) fs.DeleteFile(path);
    return;
  }
  fs.WriteWhole(path, FormatJournal(journal));
}

std::vector<std::string> JournalLeftovers(platform::FileSystem& fs, const std::string& update_dir) {
  const std::string path = JournalPath(update_dir);
  if (!fs.Exists(path)) return {};
  try {
    if (std::optional<InstallJournal> j = ReadJournal(fs, path)) return j->leftovers;
  } catch (const std::exception&) {
    // Nothing known: the next start looks again.
  }
  return {};
}

bool WriteInstallRecord(platform::ProfileStore& profiles, const std::string& record_path,
                        const std::vector<RecordWrite>& writes) {
  bool written = true;
  {
    platform::ProfileBatch batch(profiles);  // one write of the record, however many values
    for (const RecordWrite& w : writes) {
      written = profiles.WriteString(w.section, w.key, w.value, record_path) && written;
    }
  }
  // The batch's writes reach the disk as it ends, and a write that fails
  // there is lost without a word: read them back.
  for (const RecordWrite& w : writes) {
    written = written && ReadProfileValue(profiles, w.section, w.key, record_path) == w.value;
  }
  return written;
}

std::vector<std::string> RecoverInstall(platform::FileSystem& fs, platform::ProfileStore& profiles,
                                        const std::string& update_dir) {
  std::vector<std::string> log;
  const std::string path = JournalPath(update_dir);
  if (!fs.Exists(path)) return log;
  std::optional<InstallJournal> read;
  try {
    read = ReadJournal(fs, path);
  } catch (const std::exception& e) {
    log.push_back(std::string("Install journal unreadable : ") + e.what());
    return log;
  }
  if (!read) {
    // Written whole, so only a hand (or a disk) can have broken it: there is
    // nothing left to know what it held.
    log.push_back("Install journal malformed : removed");
    RemoveLeftover(fs, path);
    return log;
  }
  InstallJournal j = std::move(*read);
  const std::string what = Quoted(j.component, j.release);
  try {
    switch (j.state) {
      case JournalState::kIdle:
        break;
      case JournalState::kStaging:
        for (const FileSwap& s : j.swaps) DiscardStaged(fs, s);
        log.push_back("Install of " + what + " was cut off before any file changed");
        break;
      case JournalState::kCommitting:
      case JournalState::kRollingBack:
        j.state = JournalState::kRollingBack;
        WriteJournal(fs, update_dir, j);
        for (auto it = j.swaps.rbegin(); it != j.swaps.rend(); ++it) UndoSwap(fs, *it);
        log.push_back("Install of " + what + " was cut off : every file was put back");
        break;
      case JournalState::kCommitted: {
        const std::string record = update_dir + "\\" + files::kInstallRecord;
        if (!WriteInstallRecord(profiles, record, j.record)) {
          log.push_back("Install of " + what + " : the install record did not keep the release");
          return log;
        }
        for (const FileSwap& s : j.swaps) {
          if (s.existed && !RemoveLeftover(fs, s.Aside())) j.leftovers.push_back(s.Aside());
        }
        log.push_back("Install of " + what + " completed");
        break;
      }
    }
    j.state = JournalState::kIdle;
    j.swaps.clear();
    j.record.clear();
    std::vector<std::string> held;
    for (const std::string& leftover : j.leftovers) {
      if (!RemoveLeftover(fs, leftover)) held.push_back(leftover);
    }
    j.leftovers = held;
    WriteJournal(fs, update_dir, j);
  } catch (const std::exception& e) {
    log.push_back("Install of " + what + " could not be made whole yet : " + e.what());
  }
  return log;
}

}  // namespace mb
