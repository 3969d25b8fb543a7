// The fixed 60-second deadline, through the loaded library: a dpkg that never ends is ended with
// its whole process group, and the listing fails as any failed command does. Labelled "slow".
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "LoadedPlugin.h"
#include "TestSupport.h"

namespace {

TEST(Deadline, DpkgThatNeverEndsIsEndedAfterSixtySeconds) {
  const testsupport::TempDir dir;
  const std::string group = dir / "group";
  testsupport::ToolDir tools;
  tools.Link({"which", "grep", "find", "cut", "sleep"});
  // No real dpkg hangs on demand; this one records its process group and sleeps, as a child, so
  // that more than the shell must be ended.
  tools.Script("dpkg", "cut -d' ' -f5 /proc/$$/stat >'" + group + "'; sleep 1000; sleep 1000");
  const testsupport::ScopedEnv path("PATH", tools.path());
  e2e::LoadedPlugin plugin;
  plugin.SetInstallerRoot(dir.MakeDir("corva"));
  const testsupport::HangGuard guard(120);

  const auto start = std::chrono::steady_clock::now();
  const std::string report = plugin.RunCheck();
  const auto elapsed = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(e2e::SummarizeComplete(report).information,
            "Cannot obtain paths to package manager databases.\n"
            "Cannot obtain installed package.");
  EXPECT_GE(elapsed, std::chrono::seconds(60));
  EXPECT_LT(elapsed, std::chrono::seconds(90));
  EXPECT_EQ(testsupport::LiveGroupMembers(std::stoi(testsupport::ReadFile(group))), 0u);
}

}  // namespace
