// The run's 60-second deadline, through the loaded library: a dpkg that never ends, or a probe
// that never answers, is ended with its whole process group; the run says which command was ended
// and takes one deadline, not one per command. Labelled "slow".
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "LoadedPlugin.h"
#include "TestSupport.h"

namespace {

const char* const kFailedSources =
    "ERROR: Not every source of products could be read; what they hold is missing here.\n";
const char* const kNoCaches = "Cannot obtain paths to package manager databases.\n";

// Runs the check with `hung` ("dpkg" or "which") a script that records its process group and
// sleeps, as a child, so that more than the shell must be ended.
void ExpectEndedAtTheDeadline(const std::string& hung, const std::string& information,
                              const std::string& command) {
  const testsupport::TempDir dir;
  const std::string group = dir / "group";
  testsupport::ToolDir tools;
  tools.Link({"grep", "find", "cut", "sleep"});
  tools.Link({hung == "dpkg" ? "which" : "dpkg"});
  tools.Script(hung, "cut -d' ' -f5 /proc/$$/stat >'" + group + "'; sleep 1000; sleep 1000");
  const testsupport::ScopedEnv path("PATH", tools.path());
  e2e::LoadedPlugin plugin;
  plugin.SetInstallerRoot(dir.MakeDir("corva"));
  const testsupport::HangGuard guard(110);

  const auto start = std::chrono::steady_clock::now();
  const e2e::ReportSummary report = e2e::SummarizeComplete(plugin.RunCheck());
  const auto elapsed = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(report.information, kNoCaches + information);
  EXPECT_EQ(report.message,
            kFailedSources + ("The command \"" + command + "\" was ended at its deadline."));
  EXPECT_GE(elapsed, std::chrono::seconds(60));
  EXPECT_LT(elapsed, std::chrono::seconds(90));
  EXPECT_EQ(testsupport::LiveGroupMembers(std::stoi(testsupport::ReadFile(group))), 0u);
}

TEST(Deadline, DpkgThatNeverEndsIsEndedAfterSixtySeconds) {
  ExpectEndedAtTheDeadline("dpkg", "Cannot obtain installed package.",
                           "dpkg --no-pager -l '*corva-zorvex*' 2>/dev/null | grep -E '^(ii|hi) '");
}

// Not a machine without dpkg, and not 60 seconds for each of the probe's steps.
TEST(Deadline, WhichThatNeverAnswersCannotTellAfterSixtySeconds) {
  ExpectEndedAtTheDeadline("which",
                           "Cannot tell whether dpkg or rpm is installed. The command \"which dpkg "
                           "2>/dev/null\" was ended at its deadline.",
                           "which dpkg 2>/dev/null");
}

}  // namespace
