#ifndef ZORVEX_CHECKER_HELPER_H
#define ZORVEX_CHECKER_HELPER_H

#include <string>
#include <vector>

// The package manager that GetOsType finds.
enum OsType : int {
  OS_TYPE_NONE = 0,  // neither dpkg nor rpm
  OS_TYPE_DEB = 1,   // dpkg, whether or not rpm is there too
  OS_TYPE_RPM = 2,   // rpm without dpkg
};

// How the product sources ask the system: run a shell command, split its output, tell the
// package manager. All operations are static; within a run they answer from the commands the run
// started ahead (CommandsAhead), outside a run they keep no state.
class CheckerHelper {
 public:
  // Runs `command` through /bin/sh with the library's fixed limits (ShellCommand, CommandLimits)
  // and appends its standard output to `output` (never clears it; a NUL byte cuts off the rest of
  // the 255-byte chunk it arrives in). Standard error is not captured. Returns the command's exit
  // code; 128 plus the signal number when it was killed by a signal; 124 when it ran past 60
  // seconds or printed more than 64 MiB and was ended; 1 when it cannot be started; 125 when its
  // status cannot be known. Within a run, waiting for it also moves the commands ahead on, and the
  // listing started ahead is collected rather than run again.
  static int RunCommand(std::string command, std::string& output);

  // Splits `text` at the matches of the ECMAScript regular expression `pattern`; see
  // SplitAtPattern for the rules on empty pieces.
  static std::vector<std::string> SplitString(std::string text, std::string pattern);

  // Probes for dpkg, then rpm, with "which" (ManagerProbe): on every call outside a run, once per
  // run within one. Where the shell cannot find "which" at all (status 127), the shell's own
  // "command -v" probes instead.
  static int GetOsType();
};

#endif  // ZORVEX_CHECKER_HELPER_H
