// What `publish` finds out about a release folder before it puts it in
// place: what the server would make of it there (the same reading, the
// same refusals: names, install targets, a signature that no longer fits),
// and what the vendor should hear although the server would serve it:
//   - a component agents could never record as installed (no file, only
//     the updater's own file, or only files published under their own
//     name, which agents fetch only where missing);
//   - signing: an unsigned release in a signed root, or one signed earlier
//     than the release it replaces (agents with keys refuse both);
//   - a place the server as a service cannot read (the systemd unit hides
//     /home and /tmp; a folder other users cannot pass).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "server/release_folder.h"

namespace mb::server {

struct PublishPlace {
  std::filesystem::path root;  // the release root the server serves
  std::string folder;          // "ORG" or "MIRROR"
  Component component;

  std::string Name() const;  // "ORG/express"
  std::filesystem::path Target() const { return root / Name(); }
};

struct ReleaseCheck {
  std::vector<std::string> problems;  // the server would not publish it: nothing is done
  std::vector<std::string> warnings;  // it would, but not as the vendor may think
  std::string summary;                // "LAST_VERSION 1.1, 3 files, signed 2026-..."
};

ReleaseCheck CheckRelease(const std::filesystem::path& release, const PublishPlace& place,
                          int code_page);

}  // namespace mb::server
