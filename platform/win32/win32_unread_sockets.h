// Letting go of an answer the agent gave up on. Wine's WinINet, closing a
// request whose body is still coming, first reads what is left for as long
// as bytes keep arriving, to keep the connection: a server that sends
// without end, or far beyond a file's cap, held the agent there for ever,
// fetching what it will never keep. Shutting down the socket that holds
// unread bytes ends that drain at once.
#pragma once

namespace mb::win32 {

// Shuts down every connected socket of this process that holds bytes no one
// has read: the one of an answer just given up on (a connection kept for
// the next request holds none). WinINet gives no access to its sockets, so
// they are found among the process's handles.
void ShutDownUnreadSockets();

}  // namespace mb::win32
