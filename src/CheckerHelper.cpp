#include "CheckerHelper.h"

#include "ShellCommand.h"
#include "Split.h"

namespace {

// The shell's status for a command it cannot find.
constexpr int kCommandNotFound = 127;

}  // namespace

int CheckerHelper::RunCommand(std::string command, std::string& output) {
  return ShellCommand::Run(command, output, CommandLimits());
}

std::vector<std::string> CheckerHelper::SplitString(std::string text, std::string pattern) {
  return SplitAtPattern(text, pattern);
}

bool CheckerHelper::IsInstalled(const std::string& program) {
  std::string ignored;
  const int status = RunCommand("which " + program + " 2>/dev/null", ignored);
  if (status != kCommandNotFound) {
    return status == 0;
  }
  // Minimal images ship no "which"; the shell can still tell.
  return RunCommand("command -v " + program + " >/dev/null 2>&1", ignored) == 0;
}

int CheckerHelper::GetOsType() {
  if (IsInstalled("dpkg")) {
    return OS_TYPE_DEB;
  }
  if (IsInstalled("rpm")) {
    return OS_TYPE_RPM;
  }
  return OS_TYPE_NONE;
}
