// The report byte for byte for every way the sources' results are chosen or merged, and the
// status code, through the loaded library on fixture machines read by the real dpkg, rpm, find
// and SQLite.
#include <gtest/gtest.h>

#include <cctype>
#include <optional>

#include "LoadedPlugin.h"
#include "TestSupport.h"

using e2e::kInstallDir;
using e2e::LoadedPlugin;
using testsupport::ChildRun;
using testsupport::DpkgAdminDir;
using testsupport::DpkgPackage;
using testsupport::ExpectedProduct;
using testsupport::InstallerEntry;
using testsupport::InstallerProduct;
using testsupport::PrettyNothingFoundReport;
using testsupport::PrettyReport;
using testsupport::ProductMapEntry;
using testsupport::RpmDatabase;
using testsupport::TempDir;

namespace {

// ---- The fixture machine. ----

const InstallerProduct kStudio{
    "Zorvex Studio", "zorvex.studio", "2.4 Update 1", "2.4.1-7", "Design and build environment",
    kInstallDir};
const DpkgPackage kCliPackage{"corva-zorvex-cli", "1:3.1-2", "amd64", "Zorvex command line tools"};
const DpkgPackage kRuntimePackage{"corva-zorvex-runtime", "2024.1", "amd64", "Zorvex runtime"};
const DpkgPackage kRuntimeCommon{"corva-zorvex-runtime-common", "2024.1-1", "all",
                                 "Zorvex runtime"};
const DpkgPackage kOtherVendor{"hello-example", "2.10-3", "amd64", "example of another vendor"};

const ExpectedProduct kCliEntry =
    ProductMapEntry("Zorvex command line tools ", "corva-zorvex-cli", "1:3.1", "1:3.1-2", "amd64");
const ExpectedProduct kRuntimeEntry =
    ProductMapEntry("Zorvex runtime ", "corva-zorvex-runtime, corva-zorvex-runtime-common",
                    "2024.1", "2024.1", "amd64");

class ReportTest : public ::testing::Test {
 protected:
  // An installer database under the searched root with `products` visible.
  void InstallerWith(const std::vector<InstallerProduct>& products) {
    plugin_.SetInstallerRoot(testsupport::WriteInstallerTree(tree_, products));
  }

  // No installer directory at all: the installer source cannot start.
  void NoInstaller() { plugin_.SetInstallerRoot(tree_ / "no-such-directory"); }

  // Runs the check both ways: through the descriptor and through the exported main, which
  // prints the same report and one line feed. Returns main's status.
  int RunBothWays(const std::string& expected) {
    EXPECT_EQ(plugin_.RunCheck(), expected);
    const ChildRun run = plugin_.RunMain();
    EXPECT_EQ(run.output, expected + "\n");
    return run.status;
  }

  TempDir tree_;
  LoadedPlugin plugin_;
};

// A machine with rpm and the shell's helpers but without dpkg.
testsupport::ToolsOnPath RpmOnlyPath() {
  return testsupport::ToolsOnPath({"which", "rpm", "grep", "find"});
}

}  // namespace

TEST_F(ReportTest, InstallerAndDpkgProductsAreMergedInThatOrder) {
  InstallerWith({kStudio});
  const DpkgAdminDir admin({kRuntimePackage, kOtherVendor, kCliPackage});
  const std::string expected = R"({
  "Value":{
    "APP":{
      "RetVal":"INFO",
      "Value":{
        "Zorvex products":{
          "Command":"Parse installed zorvex caches and installed dpkg packages",
          "RetVal":"INFO",
          "Value":{
            "Zorvex Studio":{
              "RetVal":"INFO",
              "Value":{
                "Product ID":{
                  "Verbosity":1,
                  "RetVal":"INFO",
                  "Value":"zorvex.studio"
                },
                "Version":{
                  "RetVal":"INFO",
                  "Value":"2.4 Update 1"
                },
                "Full Version":{
                  "Verbosity":1,
                  "RetVal":"INFO",
                  "Value":"2.4.1-7"
                },
                "Description":{
                  "Verbosity":1,
                  "RetVal":"INFO",
                  "Value":"Design and build environment"
                },
                "Path":{
                  "Verbosity":1,
                  "RetVal":"INFO",
                  "Value":"\/opt\/corva\/zorvex\/2.4"
                }
              }
            },
            "Zorvex command line tools ":{
              "RetVal":"INFO",
              "Value":{
                "Packages":{
                  "Verbosity":1,
                  "RetVal":"INFO",
                  "Value":"corva-zorvex-cli"
                },
                "Version":{
                  "RetVal":"INFO",
                  "Value":"1:3.1"
                },
                "Full Version":{
                  "Verbosity":1,
                  "RetVal":"INFO",
                  "Value":"1:3.1-2"
                },
                "Architecture":{
                  "Verbosity":1,
                  "RetVal":"INFO",
                  "Value":"amd64"
                },
                "Path":{
                  "Verbosity":1,
                  "RetVal":"INFO",
                  "Value":"\/opt\/corva\/zorvex"
                }
              }
            },
            "Zorvex runtime ":{
              "RetVal":"INFO",
              "Value":{
                "Packages":{
                  "Verbosity":1,
                  "RetVal":"INFO",
                  "Value":"corva-zorvex-runtime"
                },
                "Version":{
                  "RetVal":"INFO",
                  "Value":"2024.1"
                },
                "Full Version":{
                  "Verbosity":1,
                  "RetVal":"INFO",
                  "Value":"2024.1"
                },
                "Architecture":{
                  "Verbosity":1,
                  "RetVal":"INFO",
                  "Value":"amd64"
                },
                "Path":{
                  "Verbosity":1,
                  "RetVal":"INFO",
                  "Value":"\/opt\/corva\/zorvex"
                }
              }
            }
          }
        }
      }
    }
  }
})";
  EXPECT_EQ(RunBothWays(expected), 0);
}

TEST_F(ReportTest, InstallerAndRpmProductsAreMergedOnAnRpmMachine) {
  InstallerWith({kStudio});
  const RpmDatabase rpm({{"corva-zorvex-agent", "5.0", "Zorvex monitoring agent"},
                         {"other-tool", "1.2", "Zorvex look-alike", "Elsewhere Ltd"}});
  const testsupport::ToolsOnPath path = RpmOnlyPath();
  EXPECT_EQ(
      RunBothWays(PrettyReport("Parse installed zorvex caches and installed rpm packages",
                               {InstallerEntry(kStudio),
                                ProductMapEntry("Zorvex monitoring agent ", "corva-zorvex-agent",
                                                "5.0", "5.0", "noarch")})),
      0);
}

TEST_F(ReportTest, InstallerProductsAloneWhenNoPackageIsInstalled) {
  InstallerWith({kStudio});
  const DpkgAdminDir admin({kOtherVendor});
  EXPECT_EQ(RunBothWays(PrettyReport("Parse installed zorvex caches", {InstallerEntry(kStudio)})),
            0);
}

TEST_F(ReportTest, DpkgProductsAloneWhenTheInstallerShowsNone) {
  InstallerWith({});
  const DpkgAdminDir admin({kRuntimePackage, kCliPackage, kRuntimeCommon});
  const std::string expected =
      PrettyReport("Parse installed dpkg packages", {kCliEntry, kRuntimeEntry});
  EXPECT_EQ(RunBothWays(expected), 0);
}

// The installer message does not reach a report of found products; only the status shows it.
TEST_F(ReportTest, DpkgProductsAloneWhenTheInstallerCannotStart) {
  NoInstaller();
  const DpkgAdminDir admin({kRuntimePackage, kCliPackage, kRuntimeCommon});
  const std::string expected =
      PrettyReport("Parse installed dpkg packages", {kCliEntry, kRuntimeEntry});
  EXPECT_EQ(RunBothWays(expected), 3);
}

TEST_F(ReportTest, RpmProductsAloneOnAnRpmMachine) {
  NoInstaller();
  const RpmDatabase rpm({{"corva-zorvex-agent", "5.0~beta", "Zorvex monitoring agent"},
                         {"other-tool", "1.2", "Zorvex look-alike", "Elsewhere Ltd"}});
  const testsupport::ToolsOnPath path = RpmOnlyPath();
  EXPECT_EQ(
      RunBothWays(PrettyReport("Parse installed rpm packages",
                               {ProductMapEntry("Zorvex monitoring agent ", "corva-zorvex-agent",
                                                "5.0~beta", "5.0~beta", "noarch")})),
      3);
}

TEST_F(ReportTest, NothingFoundOnAMachineWithoutPackageManagersOrInstaller) {
  NoInstaller();
  const testsupport::ToolsOnPath path({"which", "grep", "find"});
  const std::string expected = R"({
  "Value":{
    "APP":{
      "RetVal":"INFO",
      "Value":{
        "Zorvex products":{
          "RetVal":"INFO",
          "Value":"No installed Zorvex products are discovered. Additional information: \nCannot obtain paths to package manager databases.\nObtaining information about products installed by dpkg is skipped."
        }
      }
    }
  }
})";
  EXPECT_EQ(RunBothWays(expected), 3);
}

// Everything started: an installer that shows nothing adds no line, and the status stays 0.
TEST_F(ReportTest, NothingFoundWhenEverySourceStarted) {
  InstallerWith({});
  const DpkgAdminDir admin({kOtherVendor});
  EXPECT_EQ(RunBothWays(PrettyNothingFoundReport("Cannot obtain installed package.")), 0);
}

// The installer's own message ends in a line feed, which leaves an empty line before dpkg's. A
// database that failed is a failure: the node's message says so, and the status is 3.
TEST_F(ReportTest, NothingFoundShowsTheInstallerMessageWithItsLineFeed) {
  tree_.Write("corva/broken/packagemanager.db", "not a database, though the name says so\n");
  plugin_.SetInstallerRoot(tree_ / "corva");
  const DpkgAdminDir admin({kOtherVendor});
  const std::string failure =
      "Error while compiling SQL statement \"SELECT PATH FROM INSTALL_DIR;\": file is not a "
      "database";
  EXPECT_EQ(RunBothWays(PrettyNothingFoundReport(
                failure + "\n\nCannot obtain installed package.",
                "ERROR: Not every source of products could be read; what they hold is missing "
                "here.\n" +
                    failure)),
            3);
}

// A title that both merged texts hold is listed once: where the installer put it, with the
// value that dpkg gave it, since the later member wins.
TEST_F(ReportTest, DuplicateNameKeepsFirstPositionAndLastValue) {
  const InstallerProduct cli{
      "Zorvex command line tools ", "zorvex.cli", "3", "3.0", "Installer copy", kInstallDir};
  InstallerWith({cli, kStudio});
  const DpkgAdminDir admin({kRuntimePackage, kCliPackage, kRuntimeCommon});
  EXPECT_EQ(RunBothWays(PrettyReport("Parse installed zorvex caches and installed dpkg packages",
                                     {kCliEntry, InstallerEntry(kStudio), kRuntimeEntry})),
            0);
}

namespace {

struct WordCase {
  const char* description;  // of a dpkg product
  bool installerStarts;
  int status;
};

void PrintTo(const WordCase& word, std::ostream* out) {
  *out << '"' << word.description << "\" " << (word.installerStarts ? "started" : "not started");
}

class StatusWordTest : public ReportTest, public ::testing::WithParamInterface<WordCase> {};

}  // namespace

// The words anywhere in a report of found products decide the status: "ERROR" over "FAIL" over
// "WARNING" over a source that could not start.
TEST_P(StatusWordTest, WordsInProductTextsDecideTheStatus) {
  const WordCase& word = GetParam();
  if (word.installerStarts) {
    InstallerWith({});
  } else {
    NoInstaller();
  }
  const DpkgAdminDir admin({{"corva-zorvex-cli", "1.0", "amd64", word.description}});
  const std::string expected =
      PrettyReport("Parse installed dpkg packages",
                   {ProductMapEntry(std::string(word.description) + " ", "corva-zorvex-cli", "1.0",
                                    "1.0", "amd64")});
  EXPECT_EQ(RunBothWays(expected), word.status);
}

INSTANTIATE_TEST_SUITE_P(
    ReportWords, StatusWordTest,
    ::testing::Values(WordCase{"Zorvex tools", true, 0}, WordCase{"Zorvex tools", false, 3},
                      WordCase{"Zorvex WARNING lamps", false, 0},
                      WordCase{"Zorvex FAIL-safe tools", true, 2},
                      WordCase{"Zorvex ERROR console", true, 3},
                      WordCase{"Zorvex FAIL and ERROR console", true, 3},
                      WordCase{"Zorvex FAIL and WARNING lamps", false, 2},
                      WordCase{"Zorvex error, fail and warning in lower case", false, 3}),
    [](const ::testing::TestParamInfo<WordCase>& info) {
      std::string name;
      for (const char c : std::string(info.param.description)) {
        name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
      }
      return name + (info.param.installerStarts ? "_InstallerStarts" : "_InstallerFails");
    });
