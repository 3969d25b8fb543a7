#ifndef ZORVEX_COMMANDS_AHEAD_H
#define ZORVEX_COMMANDS_AHEAD_H

#include <optional>
#include <string>

#include "ShellCommand.h"

// GetOsType's decisions, one command line at a time: "which dpkg" (the shell's own "command -v
// dpkg" where the shell cannot find "which", status 127), then the same for rpm only when dpkg is
// not there. All its commands share one deadline. A command that did not run to an end of its own
// (ShellCommand::Failure) answers nothing: the probe then cannot tell, which is not "neither".
class ManagerProbe {
 public:
  ManagerProbe();
  // The command line to run next, until Answered(), and its limits.
  std::string Command() const;
  CommandLimits Limits() const;
  // Moves on with the status that Command() ended with and its ShellCommand::Failure().
  void Take(int status, const std::string& failure);
  bool Answered() const { return answer_ >= 0; }
  // OS_TYPE_DEB, OS_TYPE_RPM or OS_TYPE_NONE, once Answered(); OS_TYPE_NONE also when it cannot
  // tell, and then Failure() says why.
  int Answer() const { return answer_; }
  const std::string& Failure() const { return failure_; }

 private:
  size_t manager_ = 0;
  bool shellTest_ = false;  // "command -v" in place of "which"
  int answer_ = -1;
  std::string failure_;
  std::chrono::steady_clock::time_point deadline_;
};

// The commands a run starts ahead, so that their waits overlap the rest of the run: the package
// manager probe, then, the moment it answers, the listing of the manager it found.
//
// test() makes one, under its run lock, for the whole run. While it lives:
// - OsType (GetOsType) answers from it: the manager is probed once per run, not once per source;
// - Run (RunCommand) of the listing it started collects that listing, once;
// - Run of any other command (the installer's find) waits in one poll with the commands ahead,
//   which moves the probe on and starts the listing as soon as the probe ends.
// Each command keeps its own cap and status, so a source reads what running the command itself
// would have given it; all share the run's deadline, so that a run lasts at most one deadline and
// the time it takes to end what is still running. Every command that did not run to an end of its
// own is noted (Failures). Nothing runs on its own: the commands ahead move on only while the run
// waits for a command. Outside a run, OsType and Run run their commands on the spot, one after the
// other, and note nothing.
class CommandsAhead {
 public:
  // Starts the probe. The listing started when it finds dpkg, or rpm without dpkg.
  CommandsAhead(const char* debianListing, const char* rpmListing);
  // Ends whatever was started and not collected; the run is over.
  ~CommandsAhead();
  CommandsAhead(const CommandsAhead&) = delete;
  CommandsAhead& operator=(const CommandsAhead&) = delete;

  // The package manager, one of the OsType codes; `failure` is empty, or says why the probe could
  // not tell (the answer is then OS_TYPE_NONE).
  static int OsType(std::string& failure);
  // Runs `command` with the library's limits, appends its output and returns its status
  // (ShellCommand::Collect).
  static int Run(const std::string& command, std::string& output);

  // The ShellCommand::Failure sentences of the run's commands so far, each ending in a line feed.
  const std::string& Failures() const { return failures_; }

 private:
  const ManagerProbe& Answer();
  void MoveOn();
  CommandLimits Limits() const;
  int Collect(ShellCommand& command, std::string& output);

  static CommandsAhead* run_;
  std::chrono::steady_clock::time_point deadline_;
  std::string failures_;
  const char* listings_[3];  // by OsType
  ManagerProbe probe_;
  // The probe's command until the probe answers, then the listing until it is collected.
  std::optional<ShellCommand> ahead_;
};

#endif  // ZORVEX_COMMANDS_AHEAD_H
