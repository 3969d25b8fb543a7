#include "CommandsAhead.h"

CommandsAhead::CommandsAhead(const char* debianListing, const char* rpmListing)
    : deadline_(std::chrono::steady_clock::now() + CommandLimits().deadline),
      listings_{nullptr, debianListing, rpmListing} {
  ahead_.emplace(probe_.Command(), RunLimits());
}

CommandsAhead::~CommandsAhead() = default;

int CommandsAhead::OsType(std::string& failure) {
  const ManagerProbe& probe = Answer();
  failure = probe.Failure();
  return probe.Answer();
}

int CommandsAhead::Run(const std::string& command, std::string& output) {
  if (probe_.Answered() && ahead_ && command == listings_[probe_.Answer()]) {
    const int status = Collect(*ahead_, output);
    ahead_.reset();
    return status;
  }
  return SystemCommands::Run(command, output);
}

std::string CommandsAhead::Unused() const {
  return probe_.Answered() && ahead_ ? listings_[probe_.Answer()] : std::string();
}

CommandLimits CommandsAhead::Limits() const { return RunLimits(); }

CommandLimits CommandsAhead::RunLimits() const {
  CommandLimits limits;
  limits.latest = deadline_;
  return limits;
}

void CommandsAhead::Serve(ShellCommand& command) {
  ShellCommand::Serve({&command, ahead_ ? &*ahead_ : nullptr});
  MoveOn();
}

// Notes `command` when it did not run to an end of its own.
int CommandsAhead::Collect(ShellCommand& command, std::string& output) {
  const int status = command.Collect(output);
  const std::string failure = command.Failure();
  if (!failure.empty()) {
    failures_ += failure + "\n";
  }
  return status;
}

const ManagerProbe& CommandsAhead::Answer() {
  while (!probe_.Answered()) {
    ShellCommand::Serve({&*ahead_});
    MoveOn();
  }
  return probe_;
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
