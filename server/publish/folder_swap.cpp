#include "server/publish/folder_swap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "trust/timestamp.h"

namespace mb::server {
namespace fs = std::filesystem;
namespace {

[[noreturn]] void Fail(const std::string& what, int error) {
  throw std::runtime_error("cannot " + what + ": " + std::strerror(error));
}

enum class Entry { kNone, kLink, kFolder, kOther };

Entry EntryAt(const fs::path& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return Entry::kNone;
  if (S_ISLNK(st.st_mode)) return Entry::kLink;
  return S_ISDIR(st.st_mode) ? Entry::kFolder : Entry::kOther;
}

// The refusals that mean "this file system cannot exchange names", as
// opposed to a failure of this exchange.
bool ExchangeUnsupported(int error) {
  return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;  // ENOTSUP on Linux too
}

fs::path Beside(const fs::path& target, const std::string& suffix) {
  return target.parent_path() / (target.filename().string() + suffix);
}

// A link of our own that no one else names: made fresh, renamed away.
fs::path NewLink(const fs::path& target, const fs::path& leads_to, const std::string& purpose) {
  fs::path link = target.parent_path() / ("." + target.filename().string() + "." + purpose + "-" +
                                          std::to_string(getpid()));
  if (EntryAt(link) == Entry::kLink) unlink(link.c_str());  // left by a killed run
  if (symlink(leads_to.c_str(), link.c_str()) != 0) Fail("make the link " + link.string(), errno);
  return link;
}

void Rename(const fs::path& from, const fs::path& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0)
    Fail("rename " + from.string() + " to " + to.string(), errno);
}

// COMPONENT.replaced-<now>, a name no earlier publish used.
fs::path StoredName(const fs::path& target) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  std::string stamp =
      trust::FormatUtcTime(std::chrono::duration_cast<std::chrono::seconds>(now).count());
  std::erase(stamp, '-');
  std::erase(stamp, ':');
  fs::path stored = Beside(target, ".replaced-" + stamp);
  for (int n = 2; EntryAt(stored) != Entry::kNone; ++n)
    stored = Beside(target, ".replaced-" + stamp + "-" + std::to_string(n));
  return stored;
}

// .previous is ours to replace only when it is a link; anything else of
// that name is moved to a stored name first.
void MakePrevious(const fs::path& target, const fs::path& link) {
  const fs::path previous = PreviousLink(target);
  if (const Entry e = EntryAt(previous); e != Entry::kNone && e != Entry::kLink)
    Rename(previous, StoredName(target));
  Rename(link, previous);
}

// What the exchange left at `replaced` (the old entry) becomes .previous.
fs::path Keep(const fs::path& target, const fs::path& replaced) {
  if (EntryAt(replaced) == Entry::kLink) {
    MakePrevious(target, replaced);
  } else {
    const fs::path stored = StoredName(target);
    Rename(replaced, stored);
    MakePrevious(target, NewLink(target, stored, "previous"));
  }
  return PreviousLink(target);
}

void Drop(const fs::path& link) {
  if (EntryAt(link) == Entry::kLink) unlink(link.c_str());
}

// Without an exchange: a link is copied to .previous and replaced in one
// rename; a real folder is moved aside first. On a failure target is as
// it was, and fresh is gone.
SwapResult PutInPlaceByRenames(const fs::path& target, const fs::path& fresh) {
  try {
    if (EntryAt(target) == Entry::kLink) {
      std::error_code ec;
      const fs::path old = fs::read_symlink(target, ec);
      if (ec) Fail("read the link " + target.string(), ec.value());
      MakePrevious(target, NewLink(target, old, "previous"));
      Rename(fresh, target);
      return {true, PreviousLink(target)};
    }
    const fs::path stored = StoredName(target);
    Rename(target, stored);
    if (std::rename(fresh.c_str(), target.c_str()) != 0) {
      const int error = errno;
      std::rename(stored.c_str(), target.c_str());
      Fail("rename " + fresh.string() + " to " + target.string(), error);
    }
    MakePrevious(target, NewLink(target, stored, "previous"));
    return {false, PreviousLink(target)};
  } catch (...) {
    Drop(fresh);
    throw;
  }
}

}  // namespace

int ExchangeNamesOfTheSystem(const char* a, const char* b) {
#ifdef RENAME_EXCHANGE
  return renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE);
#else
  (void)a;
  (void)b;
  errno = ENOSYS;
  return -1;
#endif
}

fs::path PreviousLink(const fs::path& target) { return Beside(target, ".previous"); }

SwapResult PutInPlace(const fs::path& release, const fs::path& target, ExchangeNames exchange) {
  const Entry there = EntryAt(target);
  if (there == Entry::kOther)
    throw std::runtime_error(target.string() + " is neither a folder nor a link");
  const fs::path fresh = NewLink(target, release, "publish");
  if (there == Entry::kNone) {
    if (std::rename(fresh.c_str(), target.c_str()) != 0) {
      const int error = errno;
      Drop(fresh);
      Fail("rename " + fresh.string() + " to " + target.string(), error);
    }
    return {true, std::nullopt};
  }
  if (exchange(fresh.c_str(), target.c_str()) != 0) {
    const int error = errno;
    if (ExchangeUnsupported(error)) return PutInPlaceByRenames(target, fresh);
    Drop(fresh);
    Fail("exchange " + fresh.string() + " with " + target.string(), error);
  }
  // Published; what it replaced now has fresh's name until it is kept.
  try {
    return {true, Keep(target, fresh)};
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string(e.what()) + " (published; the release it replaced is " +
                             fresh.string() + ")");
  }
}

}  // namespace mb::server
