#include "CheckerHelper.h"

#include <sys/wait.h>

#include <cstdio>

#include "JsonNode.h"

namespace {

// The shell's status for a command it cannot find.
constexpr int kCommandNotFound = 127;

int DecodeStatus(int status) {
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  // A command killed by a signal has failed; report it the way the shell does.
  if (WIFSIGNALED(status)) {
    return 128 + WTERMSIG(status);
  }
  // pclose could not wait (a host that ignores SIGCHLD reaps children itself). The output was
  // read to its end, so it is taken as it is.
  return 0;
}

}  // namespace

int CheckerHelper::RunCommand(std::string command, std::string& output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return 1;
  }
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
    output.append(buffer);
  }
  return DecodeStatus(pclose(pipe));
}

std::vector<std::string> CheckerHelper::SplitString(std::string text, std::string pattern) {
  return JsonNode::SplitString(std::move(text), std::move(pattern));
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
