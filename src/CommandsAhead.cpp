#include "CommandsAhead.h"

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

std::string ManagerProbe::Command() const {
  const std::string program = kManagers[manager_].program;
  // Minimal images ship no "which"; the shell can still tell.
  return shellTest_ ? "command -v " + program + " >/dev/null 2>&1"
                    : "which " + program + " 2>/dev/null";
}

void ManagerProbe::Take(int status) {
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

CommandsAhead* CommandsAhead::run_ = nullptr;

CommandsAhead::CommandsAhead(const char* debianListing, const char* rpmListing)
    : listings_{nullptr, debianListing, rpmListing} {
  ahead_.emplace(probe_.Command(), CommandLimits());
  run_ = this;
}

CommandsAhead::~CommandsAhead() { run_ = nullptr; }

int CommandsAhead::OsType() {
  if (run_ != nullptr) {
    return run_->Answer();
  }
  ManagerProbe probe;
  while (!probe.Answered()) {
    std::string ignored;
    probe.Take(ShellCommand::Run(probe.Command(), ignored, CommandLimits()));
  }
  return probe.Answer();
}

int CommandsAhead::Run(const std::string& command, std::string& output) {
  if (run_ == nullptr) {
    return ShellCommand::Run(command, output, CommandLimits());
  }
  CommandsAhead& run = *run_;
  if (run.probe_.Answered() && run.ahead_ && command == run.listings_[run.probe_.Answer()]) {
    const int status = run.ahead_->Collect(output);
    run.ahead_.reset();
    return status;
  }
  ShellCommand started(command, CommandLimits());
  while (!started.Settled()) {
    ShellCommand::Serve({&started, run.ahead_ ? &*run.ahead_ : nullptr});
    run.MoveOn();
  }
  return started.Collect(output);
}

int CommandsAhead::Answer() {
  while (!probe_.Answered()) {
    ShellCommand::Serve({&*ahead_});
    MoveOn();
  }
  return probe_.Answer();
}

// Collects a probe command that has ended and starts what its answer calls for.
void CommandsAhead::MoveOn() {
  while (!probe_.Answered() && ahead_->Settled()) {
    std::string ignored;
    probe_.Take(ahead_->Collect(ignored));
    ahead_.reset();
    if (!probe_.Answered()) {
      ahead_.emplace(probe_.Command(), CommandLimits());
    } else if (listings_[probe_.Answer()] != nullptr) {
      ahead_.emplace(listings_[probe_.Answer()], CommandLimits());
    }
  }
}
