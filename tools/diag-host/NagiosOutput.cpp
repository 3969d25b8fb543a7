#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "HostStatus.h"
#include "NagiosRange.h"
#include "Output.h"

namespace {

// The plug-in states of the monitoring plug-in conventions, which are also the exit statuses.
enum NagiosState : int { kOk = 0, kWarning = 1, kCritical = 2, kUnknown = 3 };
const char* const kStateNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};

// Worst first, as the conventions rank them: a known problem outranks not knowing.
int Rank(int state) {
  static const int kRanks[] = {0, 2, 3, 1};
  return kRanks[state];
}
int Worse(int a, int b) { return Rank(a) >= Rank(b) ? a : b; }

// The watchdog's answer, made before it is armed: the handler may only write and exit.
char gTimeoutAnswer[128];
size_t gTimeoutLength = 0;

extern "C" void AnswerTimeout(int /*signal*/) {
  const ssize_t written = write(STDOUT_FILENO, gTimeoutAnswer, gTimeoutLength);
  static_cast<void>(written);
  _exit(kUnknown);
}

// The check runs synchronously in this process and may block in a package manager; the alarm
// ends the whole run with UNKNOWN, as a scheduler expects, instead of the scheduler killing it.
void ArmWatchdog(unsigned seconds) {
  const int length =
      std::snprintf(gTimeoutAnswer, sizeof gTimeoutAnswer,
                    "ZORVEX UNKNOWN - the check did not finish within %u seconds\n", seconds);
  gTimeoutLength = static_cast<size_t>(std::max(length, 0));
  struct sigaction action = {};
  action.sa_handler = AnswerTimeout;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
  alarm(seconds);
}

// Texts of the output lines: a "|" would start performance data, a line feed a new line.
std::string OneLine(std::string text) {
  for (char& character : text) {
    if (character == '|') {
      character = '/';
    } else if (static_cast<unsigned char>(character) < 0x20) {
      character = ' ';
    }
  }
  return text;
}

// Why the host could not give an answer, by its own exit status.
std::string NoAnswer(int status, size_t checks) {
  if (status == kUsage) {
    return "the options cannot be used";
  }
  if (status >= kBadPlugin) {
    return "a plug-in could not be loaded or run";
  }
  return checks == 0 ? "no check ran" : "a check gave no readable report";
}

class NagiosOutput : public Output {
 public:
  explicit NagiosOutput(const HostOptions& options) : policy_(options.policy) {
    if (options.warning) {
      hasWarning_ = warning_.Parse(*options.warning);
    }
    if (options.critical) {
      hasCritical_ = critical_.Parse(*options.critical);
    } else if (!options.warning) {
      hasCritical_ = critical_.Parse("0");  // any outdated product is critical
    }
    // Schedulers merge both streams and show the first line: the host's complaints follow the
    // status line instead of preceding it.
    complaintsBuffer_ = std::cerr.rdbuf(complaints_.rdbuf());
    ArmWatchdog(options.timeout);
  }

  ~NagiosOutput() override { std::cerr.rdbuf(complaintsBuffer_); }

  int Add(const CheckResult& result) override {
    reportStatus_ = std::max(reportStatus_, result.status);
    products_.insert(products_.end(), result.products.products.begin(),
                     result.products.products.end());
    return kClean;
  }

  int Finish(int status, size_t checks) override {
    alarm(0);
    finished_ = true;
    if (status >= kNoReport || checks == 0) {
      state_ = NagiosUnknown(NoAnswer(status, checks));
      std::cout << complaints_.str();
      return kClean;
    }
    const std::vector<PolicyVerdict> outdated = Outdated(policy_.JudgeAll(products_));
    const double count = static_cast<double>(outdated.size());
    state_ = hasCritical_ && critical_.Alerts(count) ? kCritical
             : hasWarning_ && warning_.Alerts(count) ? kWarning
                                                     : kOk;
    // The plug-in's own codes: 2 (FAIL) and 3 (ERROR) say a source failed, so the inventory may
    // lack products: not knowing, unless what was found is already a warning or worse.
    std::string summary;
    if (reportStatus_ != kClean) {
      state_ = Worse(state_, kUnknown);
      summary = std::string("the report holds ") +
                (reportStatus_ == kErrorReported ? "ERROR" : "FAIL") + "; ";
    }
    summary += std::to_string(outdated.size()) + " of " + std::to_string(products_.size()) +
               " products outdated" + (policy_.empty() ? " (no policy)" : "");
    std::cout << "ZORVEX " << kStateNames[state_] << " - " << summary
              << "|products=" << products_.size() << " outdated=" << outdated.size() << ";"
              << (hasWarning_ ? warning_.text() : "") << ";"
              << (hasCritical_ ? critical_.text() : "") << ";0\n";
    for (const PolicyVerdict& verdict : outdated) {
      std::cout << OneLine(verdict.product->name) << " (" << verdict.product->source << ") "
                << OneLine(verdict.product->fullVersion) << " < " << verdict.minimum << "\n";
    }
    std::cout << complaints_.str();
    return kClean;
  }

  int ExitStatus(int status) override {
    if (!finished_) {
      Finish(status, 0);
    }
    return state_;
  }

 private:
  const Policy& policy_;
  std::ostringstream complaints_;
  std::streambuf* complaintsBuffer_ = nullptr;
  NagiosRange warning_;
  NagiosRange critical_;
  bool hasWarning_ = false;
  bool hasCritical_ = false;
  int reportStatus_ = kClean;
  std::vector<InstalledProduct> products_;
  int state_ = kUnknown;
  bool finished_ = false;
};

}  // namespace

int NagiosUnknown(const std::string& reason) {
  std::cout << "ZORVEX UNKNOWN - " << OneLine(reason) << "\n" << std::flush;
  return kUnknown;
}

std::unique_ptr<Output> MakeNagiosOutput(const HostOptions& options) {
  return std::make_unique<NagiosOutput>(options);
}
