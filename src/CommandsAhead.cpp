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
  probing_.emplace(probe_.Command(), CommandLimits());
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
  if (run_->listing_ && command == run_->listingCommand_) {
    const int status = run_->listing_->Collect(output);
    run_->listing_.reset();
    return status;
  }
  ShellCommand started(command, CommandLimits());
  while (!started.Settled()) {
    ShellCommand::Serve({&started, run_->Running()});
    run_->MoveOn();
  }
  return started.Collect(output);
}

int CommandsAhead::Answer() {
  while (!probe_.Answered()) {
    ShellCommand::Serve({Running()});
    MoveOn();
  }
  return probe_.Answer();
}

ShellCommand* CommandsAhead::Running() {
  if (probing_) {
    return &*probing_;
  }
  return listing_ ? &*listing_ : nullptr;
}

// Collects a probe command that has ended and starts what its answer calls for.
void CommandsAhead::MoveOn() {
  while (probing_ && probing_->Settled()) {
    std::string ignored;
    probe_.Take(probing_->Collect(ignored));
    probing_.reset();
    if (!probe_.Answered()) {
      probing_.emplace(probe_.Command(), CommandLimits());
    } else if (listings_[probe_.Answer()] != nullptr) {
      listingCommand_ = listings_[probe_.Answer()];
      listing_.emplace(listingCommand_, CommandLimits());
    }
  }
}
