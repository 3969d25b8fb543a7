#include "SystemCommands.h"

#include <iterator>

#include "CheckerHelper.h"

namespace {

// The shell's status for a command it cannot find.
constexpr int kCommandNotFound = 127;

const struct {
  const char* program;
  int osType;
} kManagers[] = {{"dpkg", OS_TYPE_DEB}, {"rpm", OS_TYPE_RPM}};

}  // namespace

void TakeWholeRecords(std::string& arrived, const RecordTaker& take) {
  size_t begin = 0;
  for (size_t end = arrived.find('\0'); end != std::string::npos; end = arrived.find('\0', begin)) {
    take(arrived.substr(begin, end - begin));
    begin = end + 1;
  }
  arrived.erase(0, begin);
}

ManagerProbe::ManagerProbe()
    : deadline_(std::chrono::steady_clock::now() + CommandLimits().deadline) {}

std::string ManagerProbe::Command() const {
  const std::string program = kManagers[manager_].program;
  // Minimal images ship no "which"; the shell can still tell.
  return shellTest_ ? "command -v " + program + " >/dev/null 2>&1"
                    : "which " + program + " 2>/dev/null";
}

CommandLimits ManagerProbe::Limits() const {
  CommandLimits limits;
  limits.latest = deadline_;
  return limits;
}

void ManagerProbe::Take(int status, const std::string& failure) {
  if (!failure.empty()) {
    // A probe that was killed or never ran says nothing about the managers.
    failure_ = "Cannot tell whether dpkg or rpm is installed. " + failure;
    answer_ = OS_TYPE_NONE;
    return;
  }
  if (!shellTest_ && status == kCommandNotFound) {
    shellTest_ = true;
    return;
  }
  shellTest_ = false;
  if (status == 0) {
    answer_ = kManagers[manager_].osType;
  } else if (++manager_ == std::size(kManagers)) {
    answer_ = OS_TYPE_NONE;
  }
}

int SystemCommands::OsType(std::string& failure) {
  ManagerProbe probe;
  while (!probe.Answered()) {
    ShellCommand started(probe.Command(), probe.Limits());
    std::string ignored;
    const int status = started.Collect(ignored);
    probe.Take(status, started.Failure());
  }
  failure = probe.Failure();
  return probe.Answer();
}

int SystemCommands::Run(const std::string& command, std::string& output) {
  ShellCommand started(command, Limits());
  while (!started.Settled()) {
    Serve(started);
  }
  return Collect(started, output);
}

int SystemCommands::Stream(const std::string& command, const RecordTaker& take) {
  ShellCommand started(command, Limits(), ShellCommand::OutputForm::kBytes);
  std::string arrived;
  while (!started.Settled()) {
    Serve(started);
    started.TakeArrived(arrived);
    TakeWholeRecords(arrived, take);
  }
  const int status = Collect(started, arrived);
  TakeWholeRecords(arrived, take);
  if (!arrived.empty()) {
    take(arrived);
  }
  return status;
}
