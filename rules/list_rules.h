// What a pending-install list may name: the rules by which the agent checks
// a planned pass before it fetches anything, the updater checks the list
// before it touches anything, and the server checks a component before it
// publishes it. A list that breaks them would fail at every start, or
// install one file over another, over a backup or over the agent's own
// records.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace mb {

// One file of a list: the copy in the update folder (NAME), the name it is
// installed under (ORG_NAME) and its target folder, resolved (absolute).
struct ListedFile {
  std::string name;
  std::string org_name;
  std::string target_dir;

  std::string Target() const;  // target_dir\org_name
};

// Why `f` may not be listed, whatever else the list holds; nothing when it
// may. Its NAME and ORG_NAME must be file names a release may use
// (FileNameProblem); its NAME none of the agent's own files (a copy of that
// name would overwrite one of them, or be taken for it) and no backup's
// ("..._old": the update folder keeps those, so a copy of that name would
// stay for ever); and its target
// folder outside `update_dir`: a file installed there would be the copy
// the updater removes once it is done, or in its way.
std::optional<std::string> ListedFileProblem(const ListedFile& f, const std::string& update_dir);

// How a file meets one already in the list.
enum class Clash {
  kSameCopy,    // both are downloaded to one copy in the update folder
  kSameTarget,  // both are installed as one file
  kOnBackup,    // it is installed as the other's backup ("<target>_old")
  kHasBackupOn  // its backup would be the other's target
};

// The files of one list so far, compared as Windows compares paths
// (FoldedPath), each with a label for messages (a section, a file name).
class ListedFiles {
 public:
  struct Met {
    Clash clash;
    std::string with;  // the label of the file it meets
  };
  // How `f` meets a file added earlier, if it does.
  std::optional<Met> Meets(const ListedFile& f) const;
  void Add(const ListedFile& f, const std::string& label);
  // Whether a file added so far is downloaded to the copy `name`.
  bool HasCopy(const std::string& name) const;
  bool empty() const { return copies_.empty(); }
  void clear();

 private:
  std::map<std::string, std::string> copies_;   // folded NAME -> label
  std::map<std::string, std::string> targets_;  // folded target -> label
};

// A phrase for a clash: "file listed twice", "target listed twice", ...
const char* ClashText(Clash clash);

}  // namespace mb
