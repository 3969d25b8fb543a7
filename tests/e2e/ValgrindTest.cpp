// The stand-alone check and diag-host under valgrind's memcheck on the sample installation: no
// error, and not a byte definitely or indirectly lost. The shell children of the check are not
// followed. Built in the normal build only: the sanitizers' runtime and valgrind do not mix.
#include <gtest/gtest.h>
#include <unistd.h>

#include "LoadedPlugin.h"
#include "TestSupport.h"

namespace {

const char* const kProductsCommand = "Parse installed zorvex caches and installed dpkg packages";

struct MemcheckRun {
  int status = -1;
  std::string output;  // the program's standard output
  std::string log;     // valgrind's
};

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Runs `program` (quoted for the shell) under memcheck, leaks counting as errors.
MemcheckRun Memcheck(const std::string& prefix, const std::string& program) {
  const testsupport::TempDir scratch;
  const std::string log = scratch / "valgrind.log";
  MemcheckRun run;
  run.status = testsupport::Shell(
      prefix + " valgrind --error-exitcode=99 --leak-check=full " +
          "--errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect " +
          "--log-file=" + Quoted(log) + " " + program,
      &run.output);
  run.log = testsupport::ReadFile(log);
  return run;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Exit status 0 (99 would be memcheck's), no error, nothing lost.
void ExpectClean(const MemcheckRun& run) {
  EXPECT_EQ(run.status, 0) << run.log;
  EXPECT_TRUE(Contains(run.log, "ERROR SUMMARY: 0 errors")) << run.log;
  EXPECT_TRUE(Contains(run.log, "All heap blocks were freed") ||
              (Contains(run.log, "definitely lost: 0 bytes") &&
               Contains(run.log, "indirectly lost: 0 bytes")))
      << run.log;
}

// The report lists the sample's products of both sources.
void ExpectSampleReport(const std::string& report) {
  const e2e::ReportSummary summary = e2e::SummarizeComplete(report);
  EXPECT_EQ(summary.command, kProductsCommand) << report;
  EXPECT_EQ(summary.products.size(), 4u) << report;
}

class Valgrind : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testsupport::FindTool("valgrind").empty()) {
      GTEST_FAIL() << "valgrind is missing; scripts/install-deps.sh installs it";
    }
  }

  e2e::SampleInstallation sample_;
};

}  // namespace

// The program searches /var/corva, which is not the test's to fill: in a mount namespace of its
// own, a fresh /var holds the sample tree there, and nothing outside sees it.
TEST_F(Valgrind, StandAloneCheckOnTheSampleInstallation) {
  if (geteuid() != 0 || testsupport::Shell("unshare --mount true 2>/dev/null") != 0) {
    GTEST_SKIP() << "needs root in a mount namespace of its own";
  }
  const std::string prefix =
      "unshare --mount --propagation private sh -c 'mount -t tmpfs tmpfs "
      "/var && mkdir /var/corva && mount --bind \"$0\" /var/corva && exec "
      "\"$@\"' " +
      Quoted(sample_.InstallerRoot());
  const MemcheckRun run = Memcheck(prefix, ZORVEX_APP_CHECK_PATH);
  ExpectClean(run);
  ExpectSampleReport(run.output);
}

TEST_F(Valgrind, DiagHostOnTheSampleInstallation) {
  const std::string host =
      std::string(DIAG_HOST_PATH) + " --installer-root " + Quoted(sample_.InstallerRoot());
  const MemcheckRun json = Memcheck("", host);
  ExpectClean(json);
  ExpectSampleReport(json.output);
  // The text form walks the whole report once more.
  const MemcheckRun text = Memcheck("", host + " --format text --verbosity 1");
  ExpectClean(text);
  EXPECT_TRUE(Contains(text.output, "Zorvex Studio")) << text.output;
  // The flat forms read it back into their own records.
  for (const char* format : {"products", "prometheus"}) {
    const MemcheckRun flat = Memcheck("", host + " --format " + format);
    ExpectClean(flat);
    EXPECT_TRUE(Contains(flat.output, "Zorvex runtime libraries")) << flat.output;
  }
}
