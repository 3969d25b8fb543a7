#ifndef ZORVEX_SYSTEM_COMMANDS_H
#define ZORVEX_SYSTEM_COMMANDS_H

#include <chrono>
#include <functional>
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

// Receives one record of a streamed command's output.
using RecordTaker = std::function<void(const std::string& record)>;

// Hands `take` every record that `arrived` holds whole (each ends with a NUL byte, not part of
// it) and leaves what follows the last NUL there, to be continued by what arrives next.
void TakeWholeRecords(std::string& arrived, const RecordTaker& take);

// How the product sources reach the system's commands. As it stands, each command runs on the
// spot, with the library's fixed limits, one after the other, and nothing is kept between calls:
// what CheckerHelper's operations do. A run of the check hands its sources a CommandsAhead
// instead, which answers from the commands it started ahead.
class SystemCommands {
 public:
  SystemCommands() = default;
  virtual ~SystemCommands() = default;
  SystemCommands(const SystemCommands&) = delete;
  SystemCommands& operator=(const SystemCommands&) = delete;

  // The package manager, one of the OsType codes, probed anew; `failure` is empty, or says why the
  // probe could not tell (the answer is then OS_TYPE_NONE).
  virtual int OsType(std::string& failure);

  // Runs `command`, appends its output (as ShellCommand::Collect hands it on) and returns its
  // status.
  virtual int Run(const std::string& command, std::string& output);

  // Runs `command` and hands `take` each record of its output, byte for byte, as soon as the
  // record has arrived whole, while the command goes on: a record ends with a NUL byte, which is
  // not part of it; what follows the last NUL is a record too when it is not empty. Returns the
  // command's status as Run does. `take` runs on the caller's thread, between waits.
  int Stream(const std::string& command, const RecordTaker& take);

 protected:
  // The limits of a command started now.
  virtual CommandLimits Limits() const { return CommandLimits(); }
  // Waits once for `command`, and for whatever else runs beside it, to have something to read.
  virtual void Serve(ShellCommand& command) { ShellCommand::Serve({&command}); }
  // Collects a settled `command`.
  virtual int Collect(ShellCommand& command, std::string& output) {
    return command.Collect(output);
  }
};

#endif  // ZORVEX_SYSTEM_COMMANDS_H
