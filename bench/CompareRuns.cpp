// Times two programs alternately, round after round, and prints each one's median wall time and
// the ratio of the medians. Both inherit this program's environment; their output is discarded.
// With BEFORE_EACH set, "/bin/sh -c $BEFORE_EACH" runs, untimed, before every timed run (to empty
// the page cache, say).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Runs `argv` to its end with standard output on /dev/null; returns the wall time in ms, or a
// negative value when it cannot be started or is killed (any exit code counts: the check's
// status codes are results, not failures).
double TimeOnce(const std::vector<char*>& argv) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const Clock::time_point start = Clock::now();
  pid_t child = 0;
  const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    return -1;
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Splits "A... -- B..." into two null-terminated argument vectors.
bool SplitCommands(int argc, char** argv, std::vector<char*>& first, std::vector<char*>& second) {
  std::vector<char*>* current = &first;
  for (int index = 0; index < argc; ++index) {
    if (std::strcmp(argv[index], "--") == 0 && current == &first) {
      current = &second;
    } else {
      current->push_back(argv[index]);
    }
  }
  if (first.empty() || second.empty()) {
    return false;
  }
  first.push_back(nullptr);
  second.push_back(nullptr);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> first;
  std::vector<char*> second;
  const long rounds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
  if (rounds < 1 || !SplitCommands(argc - 2, argv + 2, first, second)) {
    std::fprintf(stderr, "usage: %s ROUNDS PROGRAM [ARG...] -- PROGRAM [ARG...]\n", argv[0]);
    return 2;
  }
  const char* beforeEach = std::getenv("BEFORE_EACH");
  std::vector<char*> before;
  if (beforeEach != nullptr) {
    before = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"), const_cast<char*>(beforeEach),
              nullptr};
  }
  const auto timed = [&before](const std::vector<char*>& command) {
    if (!before.empty() && TimeOnce(before) < 0) {
      return -1.0;
    }
    return TimeOnce(command);
  };
  // One untimed run each fills the page cache for both.
  TimeOnce(first);
  TimeOnce(second);
  std::vector<double> firstTimes;
  std::vector<double> secondTimes;
  std::vector<double> ratios;
  for (long round = 0; round < rounds; ++round) {
    // Alternate which goes first, so that neither always runs on a warmer machine.
    double a = 0;
    double b = 0;
    if (round % 2 == 0) {
      a = timed(first);
      b = timed(second);
    } else {
      b = timed(second);
      a = timed(first);
    }
    if (a < 0 || b < 0) {
      std::fprintf(stderr, "a command could not be run\n");
      return 1;
    }
    firstTimes.push_back(a);
    secondTimes.push_back(b);
    ratios.push_back(a / b);
  }
  std::printf("rounds: %ld\n", rounds);
  std::printf("first median ms: %.3f\n", Median(firstTimes));
  std::printf("second median ms: %.3f\n", Median(secondTimes));
  std::printf("ratio of medians: %.3f\n", Median(firstTimes) / Median(secondTimes));
  std::printf("median of round ratios: %.3f\n", Median(ratios));
  return 0;
}
