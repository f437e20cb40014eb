// How `publish` puts a release in place: the component folder's name
// (ROOT/ORG/express) becomes a symbolic link to the release folder in one
// step, whatever was there (nothing, a real folder, a link), so the server
// and the export always see the old release or the new one. The step is
// renameat2's RENAME_EXCHANGE, which swaps two names of any kind; where the
// file system refuses it, a link is still replaced in one rename, but a
// real folder has to be moved aside first, and for that moment there is no
// component (said in the result).
//
// What was replaced is kept, and named by one link beside it,
// COMPONENT.previous (ORG/express.previous): a replaced link is that link
// itself (it leads where it led); a replaced real folder is moved to a name
// of its own, COMPONENT.replaced-YYYYMMDDTHHMMSSZ, which .previous leads
// to. Publishing .previous again is the way back. Nothing is ever deleted:
// only links are replaced.
#pragma once

#include <filesystem>
#include <optional>

namespace mb::server {

// Swaps the names a and b (renameat2 RENAME_EXCHANGE): 0, or -1 with errno.
using ExchangeNames = int (*)(const char* a, const char* b);
int ExchangeNamesOfTheSystem(const char* a, const char* b);

struct SwapResult {
  bool in_one_step = true;                    // false: the component was missing for a moment
  std::optional<std::filesystem::path> kept;  // COMPONENT.previous, when something was replaced
};

// Makes target a link to release (an absolute path). Throws std::runtime_error
// when a step fails; what was there is then still there, or kept.
SwapResult PutInPlace(const std::filesystem::path& release, const std::filesystem::path& target,
                      ExchangeNames exchange = ExchangeNamesOfTheSystem);

// COMPONENT.previous beside target.
std::filesystem::path PreviousLink(const std::filesystem::path& target);

}  // namespace mb::server
