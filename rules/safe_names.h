// The names a release may give its files. The agent checks its plan by
// them before it fetches anything, the updater checks its list by them
// before it touches anything, and the server publishes nothing that breaks
// them: one set of rules, so that no side accepts what another refuses.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mb {

// False exactly for an empty name, "." or "..", and a name holding "\", "/",
// ":" or NUL (which covers every absolute, drive or stream name). Dots inside
// a name ("a..b.dll") are harmless: only a whole ".." climbs out of a folder.
bool IsSafeFileName(const std::string& name);

// Why Windows cannot make a file or folder of this name (one level): a
// control character or one of < > : " / \ | ? *; a trailing space or dot,
// which Windows drops ("a.dll." and "a.dll" are one file); a device name
// (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$), also with an
// extension ("nul.txt"). Nothing when it can. "", "." and ".." are left to
// the caller.
std::optional<std::string> WindowsNameProblem(std::string_view name);

// Why a file of a release (its NAME or its ORG_NAME) can be neither
// published, listed nor installed; nothing when it can. Besides a name that
// is not safe or that Windows cannot make: a name that begins with a dot,
// which POSIX hides (the agent would take the file for missing and fetch it
// on every run) and which only the temporary files beside a download or a
// copy may have; and one that begins with a space, which the agent trims
// off before it asks the server for the file.
std::optional<std::string> FileNameProblem(std::string_view name);

// One spelling for the paths that Windows takes for one file: "\" and "/"
// alike, runs of them as one (a leading "\\" of a share kept), "." levels
// dropped and ".." levels applied, trailing dots and spaces of each level
// dropped, no trailing separator, ASCII letters folded. The agent and the
// updater refuse a list that names one file twice by this measure.
std::string FoldedPath(std::string_view path);

}  // namespace mb
