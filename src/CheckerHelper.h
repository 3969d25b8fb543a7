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
// package manager. All operations are static and keep no state: each runs its commands on the spot
// (SystemCommands). A run of the check hands its sources the run's CommandsAhead instead.
class CheckerHelper {
 public:
  // Runs `command` with the library's fixed limits, appends its standard output to `output` (never
  // clears it) and returns its status, all as ShellCommand::Collect states.
  static int RunCommand(std::string command, std::string& output);

  // Splits `text` at the matches of the ECMAScript regular expression `pattern`; see
  // SplitAtPattern for the rules on empty pieces.
  static std::vector<std::string> SplitString(std::string text, std::string pattern);

  // The package manager as ManagerProbe finds it, probed anew on every call. OS_TYPE_NONE also
  // where the probe cannot tell (it could not run, or was killed).
  static int GetOsType();
};

#endif  // ZORVEX_CHECKER_HELPER_H
