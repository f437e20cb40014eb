// A time limit on a request's headers. libmicrohttpd's own time-out is an
// idle one: a client that sends a header line now and then (one every 10 s
// against a 15 s time-out) holds its connection for ever, and enough such
// clients fill every slot. Here a connection that waits for a request -
// from the moment it opens, and again from the end of each answer - must
// bring that request's headers within the limit, or it is shut down; the
// library then closes it as a connection the peer ended.
//
// The library tells each step (Opened, HeadersIn, AnswerDone, Closed), from
// whichever thread serves the connection; a watchdog thread of its own
// looks for overdue connections a few times a second. A connection's socket
// is shut down only while it is registered, under the lock its Closed waits
// for, and the library closes a socket only after telling Closed: a socket
// number taken over by a newer connection is never hit.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

struct MHD_Connection;

namespace mb::server {

// The socket of a libmicrohttpd connection, -1 when it cannot be told.
int ConnectionSocket(MHD_Connection* connection);

class HeaderDeadline {
 public:
  explicit HeaderDeadline(std::chrono::milliseconds limit) : limit_(limit) {}
  ~HeaderDeadline() { Stop(); }
  HeaderDeadline(const HeaderDeadline&) = delete;
  HeaderDeadline& operator=(const HeaderDeadline&) = delete;

  void Start();
  void Stop();

  // connection: the library's handle, as a key; socket: its descriptor.
  void Opened(const void* connection, int socket);
  void HeadersIn(const void* connection);
  void AnswerDone(const void* connection);
  void Closed(const void* connection);

 private:
  using Clock = std::chrono::steady_clock;
  struct Waiting {
    int socket = -1;
    bool busy = false;  // between the headers and the end of the answer
    bool cut = false;   // shut down already
    Clock::time_point since;
  };
  void Watch();

  std::chrono::milliseconds limit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::map<const void*, Waiting> connections_;
  std::thread watchdog_;
};

}  // namespace mb::server
