// The POSIX front end's word on a server it cannot use: after a run in which
// a download failed on the server's side (unreachable, an error status, a
// hostile answer), one line on stderr with the first such URL and the
// reason: "Mailbeacon: cannot fetch URL: reason", or "Mailbeacon: refused
// URL: reason" for an answer the agent would not trust (a signed release
// whose signature or digest does not hold). Once per run, however many requests of the run failed.
// The update log and the message boxes keep their design and never see it.
#pragma once

#include <cstdio>

#include "platform/posix/posix_network.h"

namespace mb::posix {

// Prints the run's failure, if any, and forgets it. On a terminal the line
// starts below the progress line that holds the cursor.
void PrintRunFailure(CurlNetwork& net, std::FILE* err, bool is_tty);

}  // namespace mb::posix
