#include "UntrustedChild.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Reads until end of file; false with `reason` when the deadline or the limit comes first.
bool ReadBounded(int fd, Clock::time_point deadline, size_t limit, std::string& text,
                 std::string& reason) {
  char buffer[65536];
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    const int polled = poll(&ready, 1, MillisecondsLeft(deadline));
    if (polled < 0 && errno == EINTR) {
      continue;
    }
    if (polled <= 0) {
      reason = "timed out";
      return false;
    }
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got == 0) {
      return true;
    }
    if (got < 0) {
      reason = std::string("read failed: ") + std::strerror(errno);
      return false;
    }
    if (text.size() + static_cast<size_t>(got) > limit) {
      reason = "answered more than " + std::to_string(limit) + " bytes";
      return false;
    }
    text.append(buffer, static_cast<size_t>(got));
  }
}

// Waits for `child` until `deadline`; -1 when it has not ended by then.
int WaitUntil(pid_t child, Clock::time_point deadline) {
  for (;;) {
    int status = 0;
    const pid_t ended = waitpid(child, &status, WNOHANG);
    if (ended == child) {
      return status;
    }
    if (ended < 0 && errno != EINTR) {
      return -1;
    }
    if (Clock::now() >= deadline) {
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string Describe(int status) {
  if (WIFEXITED(status)) {
    return "ended with status " + std::to_string(WEXITSTATUS(status));
  }
  return std::string("ended by signal ") + strsignal(WTERMSIG(status));
}

}  // namespace

ChildAnswer RunUntrustedChild(const std::function<int(int out)>& body, Clock::time_point deadline,
                              size_t limit) {
  ChildAnswer answer;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    answer.reason = std::string("cannot make a pipe: ") + std::strerror(errno);
    return answer;
  }
  const pid_t child = fork();
  if (child == 0) {
    setpgid(0, 0);
    close(ends[0]);
    _exit(body(ends[1]));
  }
  close(ends[1]);
  if (child < 0) {
    close(ends[0]);
    answer.reason = std::string("cannot fork: ") + std::strerror(errno);
    return answer;
  }
  setpgid(child, child);  // both sides set it: whichever runs first, the group exists to kill
  const bool read = ReadBounded(ends[0], deadline, limit, answer.text, answer.reason);
  close(ends[0]);
  const int status = read ? WaitUntil(child, deadline) : -1;
  if (status == -1) {
    kill(-child, SIGKILL);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    if (read) {
      answer.reason = "timed out";
    }
  } else if (status != 0) {
    answer.reason = Describe(status);
  }
  answer.ok = answer.reason.empty();
  if (!answer.ok) {
    answer.text.clear();
  }
  return answer;
}
