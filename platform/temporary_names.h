// The temporary files written beside a file while it is made or replaced,
// named by one rule in both builds so that what a crash leaves of them can
// be told apart and removed:
//   ".<name>.part-<tag>"   the body of a download of <name>
//   ".<name>.<tag>"        a copy being made of <name>
//   ".<name>.stage-<tag>"  the new <name>, staged beside it by the updater
//                          before anything is replaced
//   ".<name>.aside-<tag>"  the old <name>, renamed away while the new one
//                          moves in; removed once no program holds it
// <name> is the destination's name cut to 200 bytes (never inside a UTF-8
// character), <tag> six letters or digits. The leading dot hides them on
// POSIX, and no file of a release may begin with one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <random>
#include <string>
#include <string_view>
#include <utility>

namespace mb::platform {

inline constexpr std::size_t kTemporaryNameBytes = 200;
inline constexpr std::size_t kTemporaryTagLength = 6;
inline constexpr std::string_view kDownloadMark = "part-";
inline constexpr std::string_view kStageMark = "stage-";
inline constexpr std::string_view kAsideMark = "aside-";

enum class TemporaryKind { kDownload, kCopy, kStage, kAside };

// The destination's name as the temporary name carries it.
inline std::string_view TemporaryNameStem(std::string_view name) {
  if (name.size() <= kTemporaryNameBytes) return name;
  std::size_t cut = kTemporaryNameBytes;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

inline std::string TemporaryName(std::string_view name, TemporaryKind kind, std::string_view tag) {
  std::string out = ".";
  out.append(TemporaryNameStem(name)).append(".");
  if (kind == TemporaryKind::kDownload) out.append(kDownloadMark);
  if (kind == TemporaryKind::kStage) out.append(kStageMark);
  if (kind == TemporaryKind::kAside) out.append(kAsideMark);
  return out.append(tag);
}

// Six letters or digits, for a temporary name not yet taken.
inline std::string RandomTemporaryTag() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 engine{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof(kChars) - 2);
  std::string tag(kTemporaryTagLength, 'X');
  for (char& c : tag) c = kChars[pick(engine)];
  return tag;
}

// Whether `entry` (a name in the destination's folder) is a temporary of
// the file `name`: of the given kinds, or of any kind.
inline bool IsTemporaryNameOf(std::string_view entry, std::string_view name,
                              std::initializer_list<TemporaryKind> kinds = {
                                  TemporaryKind::kDownload, TemporaryKind::kCopy,
                                  TemporaryKind::kStage, TemporaryKind::kAside}) {
  const std::string prefix = "." + std::string(TemporaryNameStem(name)) + ".";
  if (entry.size() <= prefix.size() || entry.substr(0, prefix.size()) != prefix) return false;
  std::string_view tag = entry.substr(prefix.size());
  TemporaryKind kind = TemporaryKind::kCopy;
  for (auto [mark, marked] : {std::pair{kDownloadMark, TemporaryKind::kDownload},
                              std::pair{kStageMark, TemporaryKind::kStage},
                              std::pair{kAsideMark, TemporaryKind::kAside}}) {
    if (tag.substr(0, mark.size()) == mark) {
      tag.remove_prefix(mark.size());
      kind = marked;
      break;
    }
  }
  if (std::find(kinds.begin(), kinds.end(), kind) == kinds.end()) return false;
  if (tag.size() != kTemporaryTagLength) return false;
  for (char c : tag) {
    const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!alnum) return false;
  }
  return true;
}

}  // namespace mb::platform
