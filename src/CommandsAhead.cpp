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

CommandsAhead* CommandsAhead::run_ = nullptr;

CommandsAhead::CommandsAhead(const char* debianListing, const char* rpmListing)
    : deadline_(std::chrono::steady_clock::now() + CommandLimits().deadline),
      listings_{nullptr, debianListing, rpmListing} {
  ahead_.emplace(probe_.Command(), Limits());
  run_ = this;
}

CommandsAhead::~CommandsAhead() { run_ = nullptr; }

int CommandsAhead::OsType(std::string& failure) {
  if (run_ != nullptr) {
    const ManagerProbe& probe = run_->Answer();
    failure = probe.Failure();
    return probe.Answer();
  }
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

int CommandsAhead::Run(const std::string& command, std::string& output) {
  if (run_ == nullptr) {
    return ShellCommand::Run(command, output, CommandLimits());
  }
  CommandsAhead& run = *run_;
  if (run.probe_.Answered() && run.ahead_ && command == run.listings_[run.probe_.Answer()]) {
    const int status = run.Collect(*run.ahead_, output);
    run.ahead_.reset();
    return status;
  }
  ShellCommand started(command, run.Limits());
  while (!started.Settled()) {
    ShellCommand::Serve({&started, run.ahead_ ? &*run.ahead_ : nullptr});
    run.MoveOn();
  }
  return run.Collect(started, output);
}

const ManagerProbe& CommandsAhead::Answer() {
  while (!probe_.Answered()) {
    ShellCommand::Serve({&*ahead_});
    MoveOn();
  }
  return probe_;
}

CommandLimits CommandsAhead::Limits() const {
  CommandLimits limits;
  limits.latest = deadline_;
  return limits;
}

// Collects `command`, noting it when it did not run to an end of its own.
int CommandsAhead::Collect(ShellCommand& command, std::string& output) {
  const int status = command.Collect(output);
  const std::string failure = command.Failure();
  if (!failure.empty()) {
    failures_ += failure + "\n";
  }
  return status;
}

// Collects a probe command that has ended and starts what its answer calls for.
void CommandsAhead::MoveOn() {
  while (!probe_.Answered() && ahead_->Settled()) {
    std::string ignored;
    const int status = Collect(*ahead_, ignored);
    probe_.Take(status, ahead_->Failure());
    ahead_.reset();
    if (!probe_.Answered()) {
      ahead_.emplace(probe_.Command(), Limits());
    } else if (listings_[probe_.Answer()] != nullptr && probe_.Failure().empty()) {
      ahead_.emplace(listings_[probe_.Answer()], Limits());
    }
  }
}
