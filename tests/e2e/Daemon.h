#ifndef ZORVEX_E2E_DAEMON_H
#define ZORVEX_E2E_DAEMON_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace e2e {

// A server program run for one test: started with fork and exec in a process group of its own,
// its output (both streams) appended to `logFile`. When the object goes, the group gets SIGTERM,
// then SIGKILL if the program is still there after five seconds, and the program is reaped.
class Daemon {
 public:
  Daemon(const std::vector<std::string>& command, const std::string& logFile);
  ~Daemon();
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

 private:
  pid_t pid_ = -1;
};

// A TCP port on the loopback `address` that nothing is bound to at the moment of the call.
int FreePort(const std::string& address);

// Waits up to `seconds` for a listener at `address`:`port`; false when none came.
bool WaitForListener(const std::string& address, int port, int seconds);

}  // namespace e2e

#endif  // ZORVEX_E2E_DAEMON_H
