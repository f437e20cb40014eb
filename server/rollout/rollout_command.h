// "mailbeacon-server rollout": who takes the release published in a
// component folder now, without the offline key (rollout_state.h):
//
//   mailbeacon-server rollout --root ROOT --component FOLDER/COMPONENT
//                             [--share P] [--halt-above PCT --halt-min N]
//                             [--no-halt]
//   mailbeacon-server rollout --root ROOT [--component FOLDER/COMPONENT]
//                                           (prints the state)
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace mb::server {

// What `rollout --help` prints.
extern const char* const kRolloutUsage;

// Runs the rollout command on its arguments (after "rollout"); the exit
// status: 0 done, 1 not done (nothing published there, the state could
// not be written), 2 a bad command line.
int RunRollout(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mb::server
