#ifndef ZORVEX_SHELL_COMMAND_H
#define ZORVEX_SHELL_COMMAND_H

#include <poll.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>

// How long a command may run and how much it may print before it is ended. A default-constructed
// value holds the library's fixed limits: 60 seconds and 64 MiB (dpkg's listing of 100,000 family
// packages is under 7 MB). `latest`, when earlier, ends it sooner: the commands of one run share
// the run's deadline.
struct CommandLimits {
  std::chrono::milliseconds deadline{std::chrono::seconds(60)};
  size_t outputCap = size_t{64} << 20;
  std::chrono::steady_clock::time_point latest = std::chrono::steady_clock::time_point::max();
};

// One command line run as "/bin/sh -c <command>" in a process group of its own, its standard
// output read through a pipe of its own, in the folder "/". Standard input and standard error are
// the host's; no other descriptor reaches the command. The command's environment is given, not
// inherited: PATH (the host's absolute entries; for root or a set-id program only the folders
// that only root can change, else the system's), HOME from the effective user's account, the
// host's DPKG_ADMINDIR and LC_ALL "C".
//
// The exit status is learnt from a helper process that waits for the shell and passes the status
// on through a pipe, so it does not depend on what the host does with SIGCHLD or on whether the
// host reaps children itself. Safe to use from a multi-threaded host: after fork only
// async-signal-safe calls are made.
//
// Several commands may run at once: each keeps what it printed until it is collected (its pipe
// holds up to 1 MiB unread, where the system allows), and one Serve polls all their pipes, each
// command under its own deadline and cap. No thread: a command moves on only while its caller
// waits in Serve or Collect.
class ShellCommand {
 public:
  // The status of a command that cannot be started.
  static constexpr int kFailed = 1;
  // The status of a command whose status cannot be known (its watcher was killed, say) or whose
  // output could not be read whole. Not 1, which some commands use for a partial success that
  // callers may accept.
  static constexpr int kUnknown = 125;
  // The status of a command ended for running past its deadline or printing past its cap.
  static constexpr int kEnded = 124;

  // How the output is kept: as fgets would hand it on (the form every listing is read in), or
  // byte for byte (records that end in a NUL byte, which fgets would cut).
  enum class OutputForm { kChunks, kBytes };

  // Starts `command`; the deadline runs from here.
  ShellCommand(const std::string& command, const CommandLimits& limits,
               OutputForm form = OutputForm::kChunks);
  // Ends and collects a command that was started but not collected.
  ~ShellCommand();
  ShellCommand(const ShellCommand&) = delete;
  ShellCommand& operator=(const ShellCommand&) = delete;

  // Appends the command's standard output to `output` as fgets into a 256-byte buffer would
  // (chunks of at most 255 bytes, each ending at the latest after a line feed; a NUL byte cuts
  // off the rest of its chunk) and waits for the command to end. Returns its exit code, 128 plus
  // the signal number when a signal ended it, or one of the statuses above (for kEnded, its
  // process group gets SIGTERM, then SIGKILL after a short grace). Call once.
  int Collect(std::string& output);

  // After Collect: empty when the command ran to an end of its own, whatever its status; otherwise
  // a sentence naming the command and saying why not (it could not be started, was ended at its
  // deadline or cap, was killed by a signal, its output could not be read, or its status could
  // not be learnt). Such a status
  // says nothing about what the command was asked.
  std::string Failure() const;

  // Moves what the command has printed so far, in its output form, to the end of `output`, so that
  // a caller can act on it while the command still runs; Collect then hands on only the rest.
  void TakeArrived(std::string& output);

  // Starts `command` and collects it.
  static int Run(const std::string& command, std::string& output, const CommandLimits& limits);

  // True once Collect has nothing left to wait for: the command has ended and its output is
  // closed, or was drained for a short grace after its status arrived (whoever else holds it), or
  // it is to be ended (past its cap, still running at its deadline, or its output could not be
  // read), or it never started.
  bool Settled() const;

  // One poll over the pipes of the unsettled `commands` (null ones are passed over), waiting at
  // most until the earliest of their deadlines, then reads what each has ready into its own
  // keeping. A command found still running after its deadline is settled as overrun; one that
  // ended in time keeps its status and output however late it is collected.
  static void Serve(std::initializer_list<ShellCommand*> commands);

 private:
  void ServeReady(const pollfd& output, const pollfd& status);
  void DrainReadable();
  void ReadOutput();
  void AppendChunks(const char* data, size_t size);
  void ReadStatus();
  void EndGroup();
  void CloseDescriptors();
  void Reap();

  enum class Fate {
    kRan,
    kNotStarted,
    kPastDeadline,
    kPastCap,
    kSignalled,
    kOutputUnread,
    kUnknown
  };

  std::string command_;
  pid_t helper_ = -1;
  int output_ = -1;
  int status_ = -1;
  std::chrono::steady_clock::time_point deadline_;
  size_t outputCap_;
  bool overrun_ = false;
  int readError_ = 0;    // errno of a read of the output that failed
  std::string printed_;  // the output as Collect hands it on
  size_t outputRead_ = 0;
  size_t chunkLength_ = 0;
  bool chunkCut_ = false;
  int rawStatus_ = 0;
  bool statusKnown_ = false;
  std::chrono::steady_clock::time_point drainEnd_;
  std::unique_ptr<char[]> readRoom_;
  Fate fate_ = Fate::kRan;
  int signal_ = 0;
  OutputForm form_;
};

// `text` in single quotes for the shell, so that blanks and metacharacters stay part of one word
// and nothing in it runs.
std::string ShellQuote(const std::string& text);

#endif  // ZORVEX_SHELL_COMMAND_H
