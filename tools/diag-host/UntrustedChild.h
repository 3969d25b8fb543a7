#ifndef DIAG_HOST_UNTRUSTED_CHILD_H
#define DIAG_HOST_UNTRUSTED_CHILD_H

#include <chrono>
#include <functional>
#include <string>

// What a child handed back, or why it handed back nothing usable.
struct ChildAnswer {
  bool ok = false;
  std::string text;
  std::string reason;  // when not ok: "timed out after 10 s", "ended with status 3", ...
};

// Runs `body` in a forked child in a process group of its own; `body` writes its answer to the
// descriptor it is given and returns the child's exit status. The answer counts only when the
// child exits with 0 by `deadline` having written at most `limit` bytes; otherwise the whole group
// is killed and the reason given. The parent never blocks past `deadline`.
ChildAnswer RunUntrustedChild(const std::function<int(int out)>& body,
                              std::chrono::steady_clock::time_point deadline, size_t limit);

#endif  // DIAG_HOST_UNTRUSTED_CHILD_H
