// The roots of trust a release publishes (trust/root.h), made by
// `mailbeacon-server sign-root` and kept in the release folder's keys/
// folder as root.1.ini, root.2.ini, ...: served as
// <vdir>/download/root.aspx?version=N, byte for byte, for agents pinned to
// root 1 to walk from the root they have to the newest. Each root is checked
// as an agent checks it - root 1 against its own keys, root N+1 against
// root N and its own - and what an agent would refuse is said in the
// warnings; it is served all the same, since agents judge it themselves.
#pragma once

#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace mb::server {

struct PublishedRoot {
  std::string text;
  std::time_t modified = 0;
};

// The roots of `keys_dir` by version (missing folder: none); findings go
// to `warnings`.
std::map<int, PublishedRoot> ReadPublishedRoots(const std::filesystem::path& keys_dir,
                                                std::vector<std::string>& warnings);

// "root.N.ini" with N a version; 0 for any other name.
int RootFileVersion(const std::string& name);
// A version as root.aspx?version= and the file names give it: 1, 2, ...
// (decimal digits, no leading zero, at most nine); 0 for anything else.
int RootVersion(std::string_view digits);

}  // namespace mb::server
