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
// package manager. All operations are static and keep no state.
class CheckerHelper {
 public:
  // Runs `command` through /bin/sh with the library's fixed limits (ShellCommand, CommandLimits)
  // and appends its standard output to `output` (never clears it; a NUL byte cuts off the rest of
  // the 255-byte chunk it arrives in). Standard error is not captured. Returns the command's exit
  // code; 128 plus the signal number when it was killed by a signal; 124 when it ran past 60
  // seconds or printed more than 64 MiB and was ended; 1 when it cannot be started; 125 when its
  // status cannot be known.
  static int RunCommand(std::string command, std::string& output);

  // Splits `text` at the matches of the ECMAScript regular expression `pattern`; see
  // SplitAtPattern for the rules on empty pieces.
  static std::vector<std::string> SplitString(std::string text, std::string pattern);

  // Probes for dpkg, then rpm, with "which" on every call (nothing is cached). Where the shell
  // cannot find "which" at all (status 127), the shell's own "command -v" probes instead.
  static int GetOsType();

 private:
  static bool IsInstalled(const std::string& program);
};

#endif  // ZORVEX_CHECKER_HELPER_H
