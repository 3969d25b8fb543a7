#include "ShellCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "Account.h"
#include "Split.h"

namespace {

using Clock = std::chrono::steady_clock;

// fgets into a 256-byte buffer returns at most 255 bytes at a time.
constexpr size_t kChunkSize = 255;
// How long the process group has to end after SIGTERM before it gets SIGKILL.
constexpr std::chrono::milliseconds kTermGrace{500};
// How long output is still read once the command's status is known: what the command printed is
// in the pipe by then, and another process holding the pipe (a worker the host forked while the
// pipe was open, a process the command left behind) is not waited for.
constexpr std::chrono::milliseconds kDrainGrace{200};
// What the helper passes on for a shell it could not start: no wait status looks like it.
constexpr int kNotStartedStatus = -1;
// A read's room, on the heap: the runner may run on a thread with a small stack.
constexpr size_t kReadSize = 16384;
// The highest descriptor closed one by one where close_range is missing.
constexpr int kDescriptorScanLimit = 65536;
// The status of a command that cannot be run, as the shell gives it.
constexpr int kCannotRun = 127;
// What an output pipe holds unread, where the system allows it: enough for a package listing to
// end while the library is busy elsewhere.
constexpr int kOutputPipeSize = 1 << 20;

// The fixed search path of a privileged run whose PATH keeps no folder that only root can change.
const char* const kSystemPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
// The variables of the host that children get: the host's own choice of dpkg database, which
// tests and demonstrations point at a folder of their own. Every other one could steer a tool
// (its options, its libraries, its configuration), so the children do not get it.
const char* const kPassedOn[] = {"DPKG_ADMINDIR"};

// The entries of the search path `path` that `keep` keeps, in order.
template <typename Keep>
std::string KeptEntries(const std::string& path, const Keep& keep) {
  std::vector<std::string_view> entries;
  SplitAtCharacter(path, ':', entries);
  std::string kept;
  for (const std::string_view entry : entries) {
    if (!entry.empty() && entry[0] == '/' && keep(std::string(entry))) {
      kept.append(kept.empty() ? "" : ":").append(entry);
    }
  }
  return kept;
}

// Whether `folder` is a folder that only root can change: it is root's and writable by no one
// else, and so is every folder above it, except that one with the sticky bit (as /tmp) may be
// writable by others, who cannot rename or remove what root put there.
bool OnlyRootCanChange(const std::string& folder) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(folder.c_str(), nullptr),
                                                       &std::free);
  if (resolved == nullptr) {
    return false;
  }
  std::string path = resolved.get();
  for (bool itself = true;; itself = false) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != 0) {
      return false;
    }
    const bool othersWrite = (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (othersWrite && (itself || (status.st_mode & S_ISVTX) == 0)) {
      return false;
    }
    if (path == "/") {
      return true;
    }
    const size_t slash = path.rfind('/');
    path.resize(slash == 0 ? 1 : slash);
  }
}

// The search path of a privileged run: the host's folders that only root can change, else the
// system's. A folder another user owns would let that user's "dpkg" run as root.
std::string PrivilegedPath(const std::string& path) {
  const std::string kept = KeptEntries(path, OnlyRootCanChange);
  return kept.empty() ? kSystemPath : kept;
}

// Root, or a program that runs with more rights than the user who started it.
bool Privileged() { return geteuid() == 0 || getauxval(AT_SECURE) != 0; }

std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> environment;
  const char* path = getenv("PATH");
  const std::string hostPath = path != nullptr ? path : "";
  // Only absolute entries: an empty or relative one would let a program in the host's working
  // folder stand in for a system tool.
  const std::string searched =
      Privileged() ? PrivilegedPath(hostPath)
                   : KeptEntries(hostPath, [](const std::string& /*folder*/) { return true; });
  // None left: the shell's own default search path applies.
  if (!searched.empty()) {
    environment.push_back("PATH=" + searched);
  }
  // The tools read their user configuration (rpm's macros, dpkg's options) from HOME: it is the
  // effective user's own, never one that a host kept from another user.
  const std::optional<std::string> home = HomeDirectory(geteuid());
  environment.push_back("HOME=" + home.value_or("/"));
  for (const char* name : kPassedOn) {
    const char* value = getenv(name);
    if (value != nullptr) {
      environment.push_back(std::string(name) + "=" + value);
    }
  }
  // grep in another locale may take a listing for binary data and print nothing of it.
  environment.emplace_back("LC_ALL=C");
  return environment;
}

// Everything the child processes use, made before fork: after it, only async-signal-safe calls.
struct Launch {
  explicit Launch(const std::string& commandText)
      : command(commandText), environment(ChildEnvironment()) {
    for (std::string& variable : environment) {
      envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    argv[2] = command.data();
  }

  std::string command;
  std::vector<std::string> environment;
  std::vector<char*> envp;
  char shellName[3] = "sh";
  char option[3] = "-c";
  char* argv[4] = {shellName, option, nullptr, nullptr};
  int output = -1;  // write end of the output pipe
  int status = -1;  // write end of the status pipe
};

void CloseIfOpen(int& fd) {
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
}

// Moves `fd` above the standard streams, which a host may have closed: a pipe end there would
// become the command's standard input or error.
int AboveStandardStreams(int fd) {
  if (fd > STDERR_FILENO) {
    return fd;
  }
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  close(fd);
  return moved;
}

bool OpenPipe(int& readEnd, int& writeEnd) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    return false;
  }
  readEnd = AboveStandardStreams(ends[0]);
  writeEnd = AboveStandardStreams(ends[1]);
  if (readEnd < 0 || writeEnd < 0) {
    CloseIfOpen(readEnd);
    CloseIfOpen(writeEnd);
    return false;
  }
  return true;
}

void CloseFrom(unsigned int first, unsigned int last) {
  if (first > last) {
    return;
  }
  if (close_range(first, last, 0) == 0) {
    return;
  }
  const unsigned int limit = std::min(last, static_cast<unsigned int>(kDescriptorScanLimit));
  for (unsigned int fd = first; fd <= limit; ++fd) {
    close(static_cast<int>(fd));
  }
}

// The host may ignore SIGCHLD (then children are reaped unseen) or SIGPIPE, or catch signals with
// handlers that mean nothing here.
void DefaultSignalDispositions() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signal = 1; signal < NSIG; ++signal) {
    sigaction(signal, &action, nullptr);
  }
}

// Four bytes, at most PIPE_BUF: the pipe passes them whole, and with every signal blocked nothing
// interrupts the write. A status that does not arrive reads as unknown.
[[noreturn]] void PassOnStatus(int fd, int status) {
  _exit(write(fd, &status, sizeof status) < 0 ? 1 : 0);
}

[[noreturn]] void RunShell(const Launch& launch) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execve("/bin/sh", launch.argv, launch.envp.data());
  _exit(kCannotRun);
}

// The helper leads the command's process group, starts the shell, waits for it alone and passes
// its raw wait status on. It keeps every signal blocked, so no host handler runs in it.
[[noreturn]] void RunHelper(const Launch& launch) {
  setpgid(0, 0);
  // Not the host's working folder, which may be gone or be a place a tool should not look.
  if (chdir("/") != 0) {
    PassOnStatus(launch.status, kNotStartedStatus);
  }
  DefaultSignalDispositions();
  // With the output pipe in place as standard output, the status pipe is the only descriptor kept
  // above the standard streams, and exec closes it, as it is close-on-exec.
  if (dup2(launch.output, STDOUT_FILENO) < 0) {
    PassOnStatus(launch.status, kNotStartedStatus);
  }
  const auto kept = static_cast<unsigned int>(launch.status);
  CloseFrom(STDERR_FILENO + 1, kept - 1);
  CloseFrom(kept + 1, UINT_MAX);
  // The helper is single-threaded and the shell's side only makes system calls before exec, as
  // posix_spawn's own child does, so vfork is safe here and spares copying the host's page tables
  // a second time (about a fifth of what running a command costs).
  // NOLINTNEXTLINE(clang-analyzer-security.insecureAPI.vfork)
  const pid_t shell = vfork();
  if (shell == 0) {
    RunShell(launch);  // NOLINT(clang-analyzer-unix.Vfork): system calls only, then exec
  }
  close(STDOUT_FILENO);
  if (shell < 0) {
    // Told apart from a status that never arrives: a shell that cannot start is a plain failure.
    PassOnStatus(launch.status, kNotStartedStatus);
  }
  int status = 0;
  while (waitpid(shell, &status, 0) < 0) {
    if (errno != EINTR) {
      _exit(1);
    }
  }
  PassOnStatus(launch.status, status);
}

int DecodeStatus(int status) {
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  // A command killed by a signal has failed; report it the way the shell does.
  if (WIFSIGNALED(status)) {
    return 128 + WTERMSIG(status);
  }
  return ShellCommand::kUnknown;
}

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

}  // namespace

ShellCommand::ShellCommand(const std::string& command, const CommandLimits& limits, OutputForm form)
    : command_(command),
      deadline_(std::min(Clock::now() + limits.deadline, limits.latest)),
      outputCap_(limits.outputCap),
      form_(form) {
  // A command whose deadline has passed (the run's, shared by its commands) is not started.
  if (Clock::now() >= deadline_) {
    overrun_ = true;
    return;
  }
  Launch launch(command);
  if (!OpenPipe(output_, launch.output)) {
    return;
  }
  // Refused above the system's pipe-max-size or the user's pipe budget: the default size then.
  fcntl(output_, F_SETPIPE_SZ, kOutputPipeSize);
  if (!OpenPipe(status_, launch.status)) {
    CloseIfOpen(output_);
    close(launch.output);
    return;
  }
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  helper_ = fork();
  if (helper_ == 0) {
    RunHelper(launch);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  close(launch.output);
  close(launch.status);
  if (helper_ < 0) {
    CloseDescriptors();
    return;
  }
  // The helper does the same; doing it here too means the group exists before anything is sent
  // to it.
  setpgid(helper_, helper_);
}

ShellCommand::~ShellCommand() {
  if (helper_ > 0) {
    EndGroup();
    CloseDescriptors();
    Reap();
  }
}

int ShellCommand::Run(const std::string& command, std::string& output,
                      const CommandLimits& limits) {
  ShellCommand started(command, limits);
  return started.Collect(output);
}

int ShellCommand::Collect(std::string& output) {
  if (helper_ <= 0) {
    fate_ = overrun_ ? Fate::kPastDeadline : Fate::kNotStarted;
    return overrun_ ? kEnded : kFailed;
  }
  while (!Settled()) {
    Serve({this});
  }
  DrainReadable();
  // A process the command left behind holding its output ends with it; so does a command whose
  // output could not be read, which has failed whatever it does next.
  if (overrun_ || readError_ != 0 || output_ >= 0) {
    EndGroup();
  }
  CloseDescriptors();
  Reap();
  if (output.empty()) {
    output.swap(printed_);  // a long listing is not copied
  } else {
    output += printed_;
  }
  std::string().swap(printed_);
  if (overrun_) {
    fate_ = outputRead_ > outputCap_ ? Fate::kPastCap : Fate::kPastDeadline;
    return kEnded;
  }
  if (readError_ != 0) {
    fate_ = Fate::kOutputUnread;
    return kUnknown;
  }
  if (!statusKnown_) {
    fate_ = Fate::kUnknown;
    return kUnknown;
  }
  if (rawStatus_ == kNotStartedStatus) {
    fate_ = Fate::kNotStarted;
    return kFailed;
  }
  const int status = DecodeStatus(rawStatus_);
  fate_ = status > 128 ? Fate::kSignalled : Fate::kRan;
  signal_ = status - 128;
  return status;
}

std::string ShellCommand::Failure() const {
  const std::string command = "The command \"" + command_ + "\" ";
  switch (fate_) {
    case Fate::kRan:
      return std::string();
    case Fate::kNotStarted:
      return command + "could not be started.";
    case Fate::kPastDeadline:
      return command + "was ended at its deadline.";
    case Fate::kPastCap:
      return command + "was ended for printing more than it may.";
    case Fate::kSignalled:
      return command + "was ended by signal " + std::to_string(signal_) + ".";
    case Fate::kOutputUnread:
      return command + "printed output that could not be read: " + std::strerror(readError_) + ".";
    case Fate::kUnknown:
      break;
  }
  return command + "ended with a status that could not be learnt.";
}

void ShellCommand::TakeArrived(std::string& output) {
  output += printed_;
  printed_.clear();
}

bool ShellCommand::Settled() const {
  return overrun_ || readError_ != 0 || (status_ < 0 && (output_ < 0 || Clock::now() >= drainEnd_));
}

void ShellCommand::Serve(std::initializer_list<ShellCommand*> commands) {
  std::vector<pollfd> watched;
  int wait = -1;
  for (ShellCommand* command : commands) {
    const bool live = command != nullptr && !command->Settled();
    // poll passes over negative descriptors: every command has its two places.
    watched.push_back({live ? command->output_ : -1, POLLIN, 0});
    watched.push_back({live ? command->status_ : -1, POLLIN, 0});
    if (live) {
      const int left =
          MillisecondsUntil(command->status_ < 0 ? command->drainEnd_ : command->deadline_);
      wait = wait < 0 ? left : std::min(wait, left);
    }
  }
  if (wait < 0) {
    return;
  }
  const int ready = poll(watched.data(), watched.size(), wait);
  if (ready < 0 && errno == EINTR) {
    return;  // a host signal: nothing is judged, the caller polls again
  }
  const pollfd* places = watched.data();
  for (ShellCommand* command : commands) {
    if (command != nullptr && !command->Settled()) {
      if (ready < 0) {
        command->overrun_ = true;  // polling itself failed: the command cannot be waited for
      } else {
        command->ServeReady(places[0], places[1]);
      }
    }
    places += 2;
  }
}

void ShellCommand::ServeReady(const pollfd& output, const pollfd& status) {
  if (output.revents == 0 && status.revents == 0) {
    // Nothing left to read and not ended: still running, which past the deadline ends it. One
    // whose status is known is only drained.
    overrun_ = status_ >= 0 && Clock::now() >= deadline_;
    return;
  }
  if (output.revents != 0) {
    ReadOutput();
  }
  if (status.revents != 0 && !overrun_) {
    ReadStatus();
  }
}

// Reads what the output holds now, without waiting: after the grace, output that arrived in
// time is still taken, however late it is collected.
void ShellCommand::DrainReadable() {
  while (output_ >= 0 && !overrun_) {
    pollfd ready = {output_, POLLIN, 0};
    if (poll(&ready, 1, 0) <= 0 || ready.revents == 0) {
      return;
    }
    ReadOutput();
  }
}

// Printing past the cap overruns the command.
void ShellCommand::ReadOutput() {
  if (!readRoom_) {
    readRoom_.reset(new char[kReadSize]);
  }
  char* buffer = readRoom_.get();
  const ssize_t got = read(output_, buffer, kReadSize);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
    return;  // a host signal, or nothing there after all: read again at the next poll
  }
  if (got <= 0) {
    // A failed read is no end of the output: what the command printed after it is lost, so the
    // command fails, whatever its status.
    readError_ = got < 0 ? errno : 0;
    CloseIfOpen(output_);
    return;
  }
  outputRead_ += static_cast<size_t>(got);
  overrun_ = outputRead_ > outputCap_;
  if (overrun_) {
    return;
  }
  if (form_ == OutputForm::kBytes) {
    printed_.append(buffer, static_cast<size_t>(got));
  } else {
    AppendChunks(buffer, static_cast<size_t>(got));
  }
}

void ShellCommand::AppendChunks(const char* data, size_t size) {
  while (size > 0) {
    size_t take = std::min(kChunkSize - chunkLength_, size);
    const auto* lineEnd = static_cast<const char*>(std::memchr(data, '\n', take));
    if (lineEnd != nullptr) {
      take = static_cast<size_t>(lineEnd - data) + 1;
    }
    if (!chunkCut_) {
      const auto* nul = static_cast<const char*>(std::memchr(data, '\0', take));
      printed_.append(data, nul != nullptr ? static_cast<size_t>(nul - data) : take);
      chunkCut_ = nul != nullptr;
    }
    chunkLength_ += take;
    if (lineEnd != nullptr || chunkLength_ == kChunkSize) {
      chunkLength_ = 0;
      chunkCut_ = false;
    }
    data += take;
    size -= take;
  }
}

// The helper writes the status whole (PassOnStatus), so one read gets all of it or the end.
void ShellCommand::ReadStatus() {
  const ssize_t got = read(status_, &rawStatus_, sizeof rawStatus_);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
    return;  // a host signal: read again at the next poll
  }
  statusKnown_ = got == static_cast<ssize_t>(sizeof rawStatus_);
  CloseIfOpen(status_);  // all there is to learn
  drainEnd_ = Clock::now() + kDrainGrace;
}

void ShellCommand::EndGroup() {
  kill(-helper_, SIGTERM);
  // The helper survives SIGTERM (it blocks it), collects the shell and then leaves: the end of
  // the status pipe says the shell has gone.
  const Clock::time_point graceEnd = Clock::now() + kTermGrace;
  while (status_ >= 0) {
    const int wait = MillisecondsUntil(graceEnd);
    pollfd watched = {status_, POLLIN, 0};
    if (wait == 0 || (poll(&watched, 1, wait) < 0 && errno != EINTR)) {
      break;
    }
    if (watched.revents != 0) {
      ReadStatus();
    }
  }
  // Whatever outlived SIGTERM in the group.
  kill(-helper_, SIGKILL);
}

void ShellCommand::CloseDescriptors() {
  CloseIfOpen(output_);
  CloseIfOpen(status_);
}

void ShellCommand::Reap() {
  int status = 0;
  // ECHILD is expected where the host ignores SIGCHLD or reaps children itself.
  while (waitpid(helper_, &status, 0) < 0 && errno == EINTR) {
  }
  helper_ = -1;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}
