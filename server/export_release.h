// The answers of a release snapshot as files, in the layout the static
// export's nginx configuration looks for (nginx_config.h):
//
//   pause.txt, notice/ORG.txt, notice/MIRROR.txt
//   ORG/express/manifest.txt, ORG/express/p/PROGRAM (one per file)
//   ORG/outlook/v/LABEL/manifest.txt, ...        a version folder
//   root/N.txt                                   a root of trust (keys/root.N.ini)
//
// nginx matches a version label as sent, mailbeacon-server without regard
// to case: a label with letters gets a link for each other spelling.
#pragma once

#include <filesystem>

#include "server/release_snapshot.h"

namespace mb::server {

// Why the release cannot be exported (a refused answer, a version folder
// name with too many letters to spell every way); nothing when it can.
std::optional<std::string> ExportProblem(const ReleaseSnapshot& release);

// Writes every answer into dir, which must not exist; the number of
// answers written. Throws std::runtime_error (a file that changed since
// its digest was taken, a write that failed).
int WriteExportedRelease(const ReleaseSnapshot& release, const std::filesystem::path& dir);

}  // namespace mb::server
