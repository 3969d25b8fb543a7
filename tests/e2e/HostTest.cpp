// Hosts that are not quiet, through the loaded library: one that ignores SIGCHLD, one with a
// 10 ms timer signal installed without SA_RESTART, one whose memory runs out, one whose dpkg
// prints without end, and a stand-alone run whose standard output cannot take the report. Each
// host runs in a child process of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "AptChecker.h"
#include "LoadedPlugin.h"
#include "TestSupport.h"
#include "zorvex_checker.h"

using e2e::LoadedPlugin;
using e2e::SampleInstallation;
using e2e::SummarizeComplete;
using testsupport::RunInChild;
using testsupport::TempDir;

namespace {

const char* const kCannotList = "Cannot obtain installed package.";

TEST(Host, IgnoringSigchldGetsTheReportOfAQuietHost) {
  const SampleInstallation sample;
  LoadedPlugin plugin;
  plugin.SetInstallerRoot(sample.InstallerRoot());
  const auto ignoringSigchld = [&plugin] {
    signal(SIGCHLD, SIG_IGN);
    return plugin.RunCheck();
  };
  const std::string quiet = plugin.RunCheck();
  EXPECT_EQ(SummarizeComplete(quiet).command,
            "Parse installed zorvex caches and installed dpkg packages");
  EXPECT_EQ(RunInChild(ignoringSigchld), quiet);

  // Where "which dpkg" fails, rpm's products must not vanish behind a status taken for success.
  const testsupport::RpmDatabase rpm({{"corva-zorvex-tools", "3.4", "Zorvex tools"}});
  const testsupport::ToolsOnPath rpmOnly({"rpm", "grep", "which", "find"});
  const std::string rpmQuiet = plugin.RunCheck();
  EXPECT_EQ(SummarizeComplete(rpmQuiet).command,
            "Parse installed zorvex caches and installed rpm packages");
  EXPECT_EQ(RunInChild(ignoringSigchld), rpmQuiet);
}

void Ignore(int /*signal*/) {}

TEST(Host, TimerSignalsWithoutRestartLoseNoProducts) {
  // Long enough a listing for dozens of signals to arrive while dpkg prints it.
  const testsupport::DpkgAdminDir admin(testsupport::ManyPackages(30000, 300));
  const TempDir empty;
  LoadedPlugin plugin;
  plugin.SetInstallerRoot(empty.path());
  const std::string quiet = plugin.RunCheck();
  EXPECT_EQ(SummarizeComplete(quiet).products.size(), 300u);
  EXPECT_EQ(RunInChild([&plugin] {
              struct sigaction action {};
              action.sa_handler = Ignore;  // no SA_RESTART
              sigaction(SIGALRM, &action, nullptr);
              const itimerval every10ms{{0, 10000}, {0, 10000}};
              setitimer(ITIMER_REAL, &every10ms, nullptr);
              return plugin.RunCheck();
            }),
            quiet);
}

// No real dpkg prints without end; a stand-in does, and the 64 MiB cap ends it.
TEST(Host, DpkgPrintingWithoutEndFailsTheListing) {
  const TempDir empty;
  testsupport::ToolDir tools;
  tools.Link({"which", "grep", "find", "yes"});
  tools.Script("dpkg", "exec yes 'ii  corva-zorvex-endless  1.0-1  amd64  Zorvex endless'");
  const testsupport::ScopedEnv path("PATH", tools.path());
  LoadedPlugin plugin;
  plugin.SetInstallerRoot(empty.path());
  const testsupport::HangGuard guard(60);
  const e2e::ReportSummary report = SummarizeComplete(plugin.RunCheck());
  EXPECT_EQ(report.information,
            "Cannot obtain paths to package manager databases.\n" + std::string(kCannotList));
  // A listing that was ended is a failure, not a machine without family packages.
  EXPECT_EQ(report.message,
            "ERROR: Not every source of products could be read; what they hold is missing here.\n"
            "The command \"" +
                std::string(kDpkgListCommand) + "\" was ended for printing more than it may.");
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif

// The address space this process has mapped, in bytes.
rlim_t MappedBytes() {
  const std::string status = testsupport::ReadFile("/proc/self/status");
  const size_t at = status.find("VmSize:");
  return at == std::string::npos ? 0 : std::stoul(status.substr(at + 7)) * 1024;
}

// Allocation fails for real: the address space is capped a little above what is mapped, at
// sizes from where nothing can be built to where everything fits.
TEST(Host, RunningOutOfMemoryGivesTheFixedReportOrNoneButNeverAborts) {
  if (kOwnAllocator) {
    GTEST_SKIP() << "the sanitizers' allocators abort on exhaustion by design";
  }
  const testsupport::DpkgAdminDir admin(testsupport::ManyPackages(10000, 10000));
  const TempDir empty;
  LoadedPlugin plugin;
  plugin.SetInstallerRoot(empty.path());
  auto* run = reinterpret_cast<check_descriptor** (*)()>(plugin.Symbol("get_check_list"))()[0]->run;
  const std::string outOfMemory = kOutOfMemoryReport;
  int fixedReports = 0;
  for (const rlim_t extraMiB : {0, 8, 16, 32, 64, 512}) {
    const std::string outcome = RunInChild([run, extraMiB] {
      const rlimit cap{MappedBytes() + extraMiB * 1024 * 1024, RLIM_INFINITY};
      setrlimit(RLIMIT_AS, &cap);
      char* report = run(nullptr);
      std::string text = report != nullptr ? report : "(none)";
      delete[] report;
      return text;
    });
    if (outcome == outOfMemory) {
      ++fixedReports;
    } else if (outcome != "(none)") {
      // The children run under the same cap, and may fail for it in their own way.
      EXPECT_TRUE(e2e::Summarize(outcome).complete) << extraMiB << " MiB: " << outcome;
    }
  }
  EXPECT_GT(fixedReports, 0);
}

// main's exit status and what it said on standard error, with standard output on `fd`.
std::string MainWritingTo(const LoadedPlugin& plugin, int fd) {
  const TempDir dir;
  const std::string errors = dir / "stderr";
  auto* entry = reinterpret_cast<int (*)()>(plugin.Symbol("main"));
  const std::string status = RunInChild([&] {
    const int errorFd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(errorFd, STDERR_FILENO);
    dup2(fd, STDOUT_FILENO);
    signal(SIGPIPE, SIG_IGN);  // a closed pipe then fails the write instead of ending the host
    return std::to_string(entry());
  });
  return status + ":" + testsupport::ReadFile(errors);
}

TEST(Host, MainThatCannotWriteTheWholeReportReturns3) {
  const SampleInstallation sample;
  LoadedPlugin plugin;
  plugin.SetInstallerRoot(sample.InstallerRoot());
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  EXPECT_EQ(MainWritingTo(plugin, full),
            "3:zorvex_app_check: cannot write the report to standard output: No space left on "
            "device\n");
  close(full);

  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  close(ends[0]);
  EXPECT_EQ(MainWritingTo(plugin, ends[1]),
            "3:zorvex_app_check: cannot write the report to standard output: Broken pipe\n");
  close(ends[1]);
}

}  // namespace
