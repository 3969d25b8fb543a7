#ifndef ZORVEX_COMMANDS_AHEAD_H
#define ZORVEX_COMMANDS_AHEAD_H

#include <optional>
#include <string>

#include "ShellCommand.h"
#include "SystemCommands.h"

// The commands of one run of the check, handed to its sources, with the commands it starts ahead
// so that their waits overlap the rest of the run: the package manager probe, then, the moment it
// answers, the listing of the manager it found.
//
// test() makes one, under its run lock, for the whole run. While it lives:
// - OsType answers from it: the manager is probed once per run, not once per source;
// - Run of the listing it started collects that listing, once;
// - Run or Stream of any other command (the installer's find) waits in one poll with the commands
//   ahead, which moves the probe on and starts the listing as soon as the probe ends.
// Each command keeps its own cap and status, so a source reads what running the command itself
// would have given it; all share the run's deadline, so that a run lasts at most one deadline and
// the time it takes to end what is still running. Every command that did not run to an end of its
// own is noted (Failures). Nothing runs on its own: the commands ahead move on only while the run
// waits for a command.
class CommandsAhead : public SystemCommands {
 public:
  // Starts the probe. The listing started when it finds dpkg, or rpm without dpkg.
  CommandsAhead(const char* debianListing, const char* rpmListing);
  // Ends whatever was started and not collected; the run is over.
  ~CommandsAhead() override;

  int OsType(std::string& failure) override;
  int Run(const std::string& command, std::string& output) override;

  // The ShellCommand::Failure sentences of the run's commands so far, each ending in a line feed.
  const std::string& Failures() const { return failures_; }

  // The listing this run started ahead and no source has collected (a source that ran a command
  // of another text in its place, say), or empty: what started ahead and was not used is time
  // lost in every run.
  std::string Unused() const;

 protected:
  CommandLimits Limits() const override;
  void Serve(ShellCommand& command) override;
  int Collect(ShellCommand& command, std::string& output) override;

 private:
  const ManagerProbe& Answer();
  void MoveOn();
  // Limits, also where virtual calls do not reach (the constructor).
  CommandLimits RunLimits() const;

  std::chrono::steady_clock::time_point deadline_;
  std::string failures_;
  const char* listings_[3];  // by OsType
  ManagerProbe probe_;
  // The probe's command until the probe answers, then the listing until it is collected.
  std::optional<ShellCommand> ahead_;
};

#endif  // ZORVEX_COMMANDS_AHEAD_H
