// diag-host as a person runs it: a child process loading the built plug-in and failure fixtures.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "LoadedPlugin.h"
#include "TestSupport.h"

using e2e::HostRun;
using e2e::LoadedPlugin;
using testsupport::DpkgAdminDir;
using testsupport::TempDir;

namespace {

class DiagHostTest : public ::testing::Test {
 protected:
  // Runs diag-host with `arguments` (already quoted for the shell).
  HostRun Host(const std::string& arguments) const { return e2e::RunDiagHost(arguments, scratch_); }

  std::string SampleRoot() const {
    return testsupport::WriteInstallerTree(
        tree_, {{"Zorvex Studio", "zorvex.studio", "2.4 Update 1", "2.4.1-7",
                 "Design and build environment", e2e::kInstallDir}});
  }

  TempDir scratch_;
  TempDir tree_;
};

}  // namespace

TEST_F(DiagHostTest, ListsTheChecksOfTheLibraryItWasBuiltWith) {
  const HostRun run = Host("--list");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, std::string(ZORVEX_PLUGIN_PATH) +
                         " (interface 0.1)\n"
                         "  zorvex_app_check\n"
                         "    kind:        GetData\n"
                         "    groups:      default,sysinfo,compile,runtime,host,target\n"
                         "    description: This check shows version information of installed "
                         "Zorvex products.\n"
                         "    version:     1.0\n");
}

// The report exactly as the check returned it, and a status taken from its words.
TEST_F(DiagHostTest, PrintsTheReportAsReturnedWithTheStatusOfItsWords) {
  const std::string root = SampleRoot();
  const DpkgAdminDir admin({{"corva-zorvex-cli", "1.0", "amd64", "Zorvex FAIL-safe tools"}});
  const HostRun run = Host("--check zorvex_app_check --installer-root '" + root + "'");
  LoadedPlugin plugin;
  plugin.SetInstallerRoot(root);
  EXPECT_EQ(run.out, plugin.RunCheck() + "\n");
  EXPECT_EQ(run.status, 2) << run.err;
}

// Both package sources take the one probe of the run, and the listing runs once; the report is
// the one of a run that is not traced.
TEST_F(DiagHostTest, ARunProbesThePackageManagerOnce) {
  const std::string root = SampleRoot();
  const DpkgAdminDir admin({{"corva-zorvex-cli", "1:3.1-2", "amd64", "Zorvex command line tools"}});
  const std::string trace = scratch_ / "trace";
  std::string traced;
  // LeakSanitizer cannot work under ptrace; the other tests check for leaks.
  EXPECT_EQ(testsupport::Shell("ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
                               "strace -f -qq -e trace=execve -s 4096 -o '" +
                                   trace + "' " DIAG_HOST_PATH " --installer-root '" + root +
                                   "' --user-installer-dir '" + (scratch_ / "absent") + "'",
                               &traced),
            0);
  EXPECT_EQ(traced, Host("--installer-root '" + root + "'").out);
  EXPECT_EQ(e2e::SummarizeComplete(traced.substr(0, traced.size() - 1)).command,
            "Parse installed zorvex caches and installed dpkg packages");
  const std::string shells = testsupport::ReadFile(trace);
  const auto started = [&shells](const std::string& command) {
    size_t count = 0;
    const std::string call = "[\"sh\", \"-c\", \"" + command;
    for (size_t at = shells.find(call); at != std::string::npos; at = shells.find(call, at + 1)) {
      ++count;
    }
    return count;
  };
  EXPECT_EQ(started("which "), 1u) << shells;
  EXPECT_EQ(started("dpkg "), 1u) << shells;
}

TEST_F(DiagHostTest, TextFormatShowsDetailsUpToTheVerbosity) {
  const std::string root = SampleRoot();
  const DpkgAdminDir admin({{"corva-zorvex-cli", "1:3.1-2", "amd64", "Zorvex command line tools"}});
  const std::string header =
      std::string("zorvex_app_check (") + ZORVEX_PLUGIN_PATH +
      ")\n"
      "  APP\n"
      "    Zorvex products (Parse installed zorvex caches and installed dpkg packages)\n"
      "      Zorvex Studio\n";
  HostRun run = Host("--format text --installer-root '" + root + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, header +
                         "        Version: 2.4 Update 1\n"
                         "      Zorvex command line tools \n"
                         "        Version: 1:3.1\n");
  run = Host("--format=text --verbosity=1 --installer-root '" + root + "'");
  EXPECT_EQ(run.out, header +
                         "        Product ID: zorvex.studio\n"
                         "        Version: 2.4 Update 1\n"
                         "        Full Version: 2.4.1-7\n"
                         "        Description: Design and build environment\n"
                         "        Path: /opt/corva/zorvex/2.4\n"
                         "      Zorvex command line tools \n"
                         "        Packages: corva-zorvex-cli\n"
                         "        Version: 1:3.1\n"
                         "        Full Version: 1:3.1-2\n"
                         "        Architecture: amd64\n"
                         "        Path: /opt/corva/zorvex\n");
}

// The lines of a message as lines, and what each source did, in words, below the tree.
TEST_F(DiagHostTest, TextFormatShowsTheLinesOfAMessageAndExplainsThem) {
  const testsupport::ToolsOnPath path({"which", "grep", "find"});
  const HostRun run =
      Host("--format text --installer-root '" + (tree_ / "none") + "' " ZORVEX_PLUGIN_PATH);
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string tree =
      "  APP\n"
      "    Zorvex products: No installed Zorvex products are discovered. Additional information: \n"
      "      | Cannot obtain paths to package manager databases.\n"
      "      | Obtaining information about products installed by dpkg is skipped.\n"
      "  Sources\n"
      "    installer: not present\n"
      "      \"Cannot obtain paths to package manager databases.\" means no installer database "
      "(packagemanager.db) was found under the installer root";
  EXPECT_EQ(run.out.find(tree), run.out.find('\n') + 1) << run.out;
  EXPECT_NE(run.out.find("zorvex_app_check then exits 3"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\n    dpkg: not present\n"
                         "      \"Obtaining information about products installed by dpkg is "
                         "skipped.\" means dpkg is not installed here"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\n    rpm: found nothing\n"), std::string::npos) << run.out;
}

// A manifest's texts must not forge report lines or drive the terminal.
TEST_F(DiagHostTest, TextFormatEscapesControlCharactersAndBackslashes) {
  const std::string root = testsupport::WriteInstallerTree(
      tree_, {{"Zorvex\tForged\\", "zorvex.forged", "1\x1b[31m\r\x7f", "1",
               "Real\n      Zorvex Fake\n        Version: 9", e2e::kInstallDir}});
  const HostRun run = Host("--format text --verbosity 1 --installer-root '" + root + "'");
  EXPECT_NE(run.out.find("\n      Zorvex\\tForged\\\\\n"
                         "        Product ID: zorvex.forged\n"
                         "        Version: 1\\x1b[31m\\r\\x7f\n"
                         "        Full Version: 1\n"
                         "        Description: Real\n"
                         "          |       Zorvex Fake\n"
                         "          |         Version: 9\n"),
            std::string::npos)
      << run.out;
}

TEST_F(DiagHostTest, RefusesLibrariesWithoutTheInterfaceAndGoesOn) {
  const std::string notALibrary = scratch_.Write("not-a-library.so", "just text\n");
  const HostRun run =
      Host("--list '" + notALibrary +
           "' " NO_INTERFACE_PLUGIN_PATH " " OLD_INTERFACE_PLUGIN_PATH " " ZORVEX_PLUGIN_PATH);
  EXPECT_EQ(run.status, 5);
  EXPECT_NE(run.err.find("diag-host: cannot load " + notALibrary + ": "), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find(std::string("diag-host: ") + NO_INTERFACE_PLUGIN_PATH +
                         " is not a check plug-in: it does not export get_api_version\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find(std::string("diag-host: ") + OLD_INTERFACE_PLUGIN_PATH +
                         " speaks interface version \"0.0\"; this host speaks \"0.1\"\n"),
            std::string::npos)
      << run.err;
  // The good library is still listed.
  EXPECT_NE(run.out.find("  zorvex_app_check\n"), std::string::npos) << run.out;
}

TEST_F(DiagHostTest, UnknownCheckAndBadCommandLinesAreErrors) {
  HostRun run = Host("--check no_such_check");
  EXPECT_EQ(run.status, 5);
  EXPECT_NE(run.err.find("no check named \"no_such_check\""), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");

  for (const char* arguments : {"--format yaml", "--verbosity -1", "--verbosity", "--colour"}) {
    run = Host(arguments);
    EXPECT_EQ(run.status, 64) << arguments;
    EXPECT_NE(run.err.find("Try 'diag-host --help'."), std::string::npos) << run.err;
  }
  run = Host("--help");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Exit status"), std::string::npos);
}

// Bad places and failed writes: each says what is wrong with its status, and nothing reaches
// standard output; a folder that cannot be searched is only a warning.
TEST_F(DiagHostTest, BadPlacesAndFailedWritesAreNamedWithTheirStatus) {
  const std::string root = " --installer-root '" + (tree_ / "none") + "'";
  const std::string cut = scratch_ / "cut.so";
  ASSERT_EQ(testsupport::Shell("head -c 100000 " ZORVEX_PLUGIN_PATH " >'" + cut + "'"), 0);
  const std::string notAFolder = scratch_.Write("file", "");
  const struct {
    std::string arguments;
    int status;
    std::string message;
  } cases[] = {
      {"--installer-root ''", 64, "--installer-root needs a directory, not an empty text"},
      {"--user-installer-dir=", 64, "--user-installer-dir needs a directory, not an empty text"},
      {"'" + cut + "'" + root, 5, "cannot load " + cut + ": the file is cut short"},
      {"--format prometheus --output '" + (scratch_ / "missing/zorvex.prom") + "'" + root, 73,
       "cannot write " + (scratch_ / "missing/zorvex.prom") + ": the folder " +
           (scratch_ / "missing") + " does not exist; node_exporter's package"},
      {"--format json >/dev/full" + root, 73, "cannot write to standard output"},
      {"--format text >/dev/full" + root, 73, "cannot write to standard output"},
      {"--format products >/dev/full" + root, 73, "cannot write to standard output"},
      {"--format prometheus >/dev/full" + root, 73, "cannot write to standard output"},
  };
  for (const auto& bad : cases) {
    const HostRun run = Host(bad.arguments);
    EXPECT_EQ(run.status, bad.status) << bad.arguments << "\n" << run.err;
    EXPECT_NE(run.err.find("diag-host: " + bad.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "") << bad.arguments;
  }
  EXPECT_EQ(testsupport::DirectoryEntries(scratch_.path()),
            (std::vector<std::string>{"cut.so", "file", "stderr"}));

  const std::string status = scratch_ / "status";
  testsupport::Shell("{ " DIAG_HOST_PATH + root + " 2>'" + (scratch_ / "stderr") + "'; echo $? >'" +
                     status + "'; } | true");
  EXPECT_EQ(testsupport::ReadFile(status), "73\n");
  EXPECT_NE(testsupport::ReadFile(scratch_ / "stderr").find("cannot write to standard output"),
            std::string::npos);

  const HostRun run = Host("--format products --installer-root '" + notAFolder + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("diag-host: warning: --installer-root " + notAFolder +
                         " is not a directory; no installer database can be found there\n"),
            std::string::npos)
      << run.err;
}

// The per-user directory is searched for ordinary users only; --user-installer-dir reaches any
// directory from the user's home.
TEST_F(DiagHostTest, UserInstallerDirPointsThePerUserSearchElsewhere) {
  const std::string userRoot = SampleRoot();
  std::string out;
  const std::string errors = scratch_ / "stderr";
  const int status = testsupport::Shell(
      std::string(DIAG_HOST_PATH) + " --format text " + "--installer-root '" + (tree_ / "none") +
          "' --user-installer-dir '" + userRoot + "' 2>'" + errors + "'",
      &out);
  const passwd* account = getpwuid(geteuid());
  if (geteuid() == 0) {
    EXPECT_NE(testsupport::ReadFile(errors).find("--user-installer-dir has no effect"),
              std::string::npos);
    EXPECT_EQ(out.find("Zorvex Studio"), std::string::npos) << out;
  } else if (account != nullptr && access(account->pw_dir, X_OK) == 0) {
    EXPECT_NE(out.find("      Zorvex Studio\n"), std::string::npos) << out;
  } else {
    GTEST_SKIP() << "the user's home directory does not exist, so nothing can be reached from it";
  }
  EXPECT_EQ(status, 0) << testsupport::ReadFile(errors);
}

// Without a library, --plugin-dir loads the "*.so" files of a folder in name order; a folder that
// cannot be read or holds none is a plug-in failure, and --version answers alone.
TEST_F(DiagHostTest, PluginDirLoadsEveryPluginOfTheFolder) {
  const std::string folder = scratch_.MakeDir("plugins");
  for (const char* name : {"b.so", "a.so"}) {
    ASSERT_EQ(testsupport::Shell("cp " ZORVEX_PLUGIN_PATH " '" + folder + "/" + name + "'"), 0);
  }
  scratch_.Write("plugins/notes.txt", "not a plug-in\n");
  scratch_.MakeDir("plugins/folder.so");
  HostRun run = Host("--list --plugin-dir '" + folder + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  const size_t first = run.out.find(folder + "/a.so (interface 0.1)\n");
  EXPECT_NE(first, std::string::npos) << run.out;
  EXPECT_GT(run.out.find(folder + "/b.so (interface 0.1)\n"), first) << run.out;
  EXPECT_EQ(run.out.find("notes.txt"), std::string::npos) << run.out;

  run = Host("--list --plugin-dir '" + scratch_.MakeDir("empty") + "'");
  EXPECT_EQ(run.status, 5);
  EXPECT_NE(run.err.find("no plug-in (*.so) in the plug-in directory " + (scratch_ / "empty")),
            std::string::npos)
      << run.err;
  run = Host("--plugin-dir '" + (scratch_ / "absent") + "'");
  EXPECT_EQ(run.status, 5);
  EXPECT_NE(run.err.find("cannot read the plug-in directory"), std::string::npos) << run.err;
  EXPECT_EQ(Host("--plugin-dir '" + folder + "' " ZORVEX_PLUGIN_PATH).status, 64);

  run = Host("--version");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "diag-host " ZORVEX_VERSION "\n");
}
