// The Debian source against the real dpkg, reading status files that the tests write.
#include <gtest/gtest.h>

#include <json-c/json.h>

#include <csignal>

#include "AptChecker.h"
#include "CommandsAhead.h"
#include "RpmChecker.h"
#include "TestSupport.h"
#include "zorvex_checker.h"

using testsupport::DpkgAdminDir;
using testsupport::DpkgPackage;
using testsupport::ProductMap;
using testsupport::ProductMapEntry;
using testsupport::ScopedEnv;
using testsupport::ToolDir;

TEST(AptChecker, InitializeAlwaysSucceedsAndLeavesTheMessage) {
  std::string message = "untouched";
  EXPECT_TRUE(AptChecker::Initialize(message));
  EXPECT_EQ(message, "untouched");
}

TEST(AptChecker, GroupsFamilyPackagesByDescriptionInByteOrder) {
  const DpkgAdminDir admin({
      {"corva-zorvex-runtime", "2024.1.0-123", "amd64", "zorvex   runtime  libraries"},
      {"corva-zorvex-compiler", "1:2024.1.0-5-7", "amd64", "Zorvex compiler"},
      {"corva-zorvex-runtime-dev", "2024.1.1", "all", "zorvex runtime libraries"},
      {"corva-zorvex-docs", "3", "all", "Zorvex docs", "deinstall ok config-files"},
      {"unrelated-tool", "1.0", "amd64", "Zorvex compiler"},
      {"Corva-Zorvex-Upper", "9.9-1", "i386", "Upper case"},
  });
  std::string text;
  ASSERT_TRUE(AptChecker::GetAppInfo(text));
  // Upper-case initials sort first; the "rc" package and the unrelated one are not listed; the
  // shared description keeps the first package's version and architecture. dpkg itself matches
  // names without regard to case and shows a foreign architecture in the name.
  EXPECT_EQ(
      text,
      ProductMap({ProductMapEntry("Upper case ", "corva-zorvex-upper:i386", "9.9", "9.9-1", "i386"),
                  ProductMapEntry("Zorvex compiler ", "corva-zorvex-compiler", "1:2024.1.0",
                                  "1:2024.1.0-5-7", "amd64"),
                  ProductMapEntry("zorvex runtime libraries ",
                                  "corva-zorvex-runtime, corva-zorvex-runtime-dev", "2024.1.0",
                                  "2024.1.0-123", "amd64")}));
}

namespace {

TEST(AptChecker, SharedDescriptionKeepsTheFirstPackagesVersionAndArchitecture) {
  const DpkgAdminDir admin({
      {"corva-zorvex-b", "5.0", "all", "Shared  text"},
      {"corva-zorvex-a", "4.0-1", "amd64", "Shared text"},
      {"corva-zorvex-c", "6.0", "i386", "Shared text"},
  });
  std::string text;
  ASSERT_TRUE(AptChecker::GetAppInfo(text));
  // dpkg lists by name, so "a" is the first package with the description.
  EXPECT_EQ(text, ProductMap({ProductMapEntry("Shared text ",
                                              "corva-zorvex-a, corva-zorvex-b, corva-zorvex-c:i386",
                                              "4.0", "4.0-1", "amd64")}));
}

TEST(AptChecker, NoFamilyPackageIsAFailedListing) {
  const DpkgAdminDir admin(
      {{"unrelated", "1.0", "amd64", "Something else"},
       {"corva-zorvex-gone", "1.0", "amd64", "Removed", "deinstall ok config-files"}});
  std::string text = "previous";
  EXPECT_FALSE(AptChecker::GetAppInfo(text));
  EXPECT_EQ(text, "Cannot obtain installed package.");
}

// dpkg -l shows "hi" for a held package, "rc" for a removed one and "iiR" for one that needs
// reinstalling; only the first two letters "ii" or "hi" make an installed package.
TEST(AptChecker, ListsInstalledAndHeldPackagesOnly) {
  const DpkgAdminDir admin({
      {"corva-zorvex-held", "2.0-1", "amd64", "Zorvex held", "hold ok installed"},
      {"corva-zorvex-iitool", "1.0", "amd64", "Zorvex removed", "deinstall ok config-files"},
      {"corva-zorvex-broken", "1.0", "amd64", "Zorvex broken", "install reinstreq installed"},
      {"corva-zorvex-half", "1.0", "amd64", "Zorvex half", "install ok half-installed"},
      {"corva-zorvex-ok", "3.0", "all", "Zorvex ok"},
  });
  std::string text;
  ASSERT_TRUE(AptChecker::GetAppInfo(text));
  EXPECT_EQ(
      text,
      ProductMap({ProductMapEntry("Zorvex held ", "corva-zorvex-held", "2.0", "2.0-1", "amd64"),
                  ProductMapEntry("Zorvex ok ", "corva-zorvex-ok", "3.0", "3.0", "all")}));
}

// A host that ignores SIGCHLD leaves the listing's status unknown; its empty listing is still no
// product at all.
TEST(AptChecker, EmptyListingInAHostIgnoringSigchldIsAFailedListing) {
  const DpkgAdminDir admin(
      {{"corva-zorvex-gone", "1.0", "amd64", "Removed", "deinstall ok config-files"}});
  EXPECT_EQ(testsupport::RunInChild([] {
              signal(SIGCHLD, SIG_IGN);
              std::string text;
              return std::to_string(AptChecker::GetAppInfo(text)) + text;
            }),
            "0Cannot obtain installed package.");
}

TEST(AptChecker, MachineWithoutDpkgIsSkippedWithoutRunningIt) {
  ToolDir tools;
  tools.Link({"which", "grep", "rpm"});
  const ScopedEnv path("PATH", tools.path());
  std::string text;
  EXPECT_FALSE(AptChecker::GetAppInfo(text));
  EXPECT_EQ(text, "Obtaining information about products installed by dpkg is skipped.");
}

TEST(AptCheckerListing, FourFieldLineGivesTheEmptySummary) {
  std::string text;
  ASSERT_TRUE(AptChecker::ParseListing("ii  corva-zorvex-x  1.0  amd64  \n", text));
  EXPECT_EQ(text, ProductMap({ProductMapEntry("", "corva-zorvex-x", "1.0", "1.0", "amd64")}));
}

TEST(AptCheckerListing, ShortLinesDoNotBorrowTheFieldsOfOthers) {
  std::string text;
  ASSERT_TRUE(AptChecker::ParseListing("ii first 2.0-1 amd64 Desc\nii second\n", text));
  EXPECT_EQ(text, ProductMap({ProductMapEntry("", "second", "", "", ""),
                              ProductMapEntry("Desc ", "first", "2.0", "2.0-1", "amd64")}));
}

// Whatever reaches the parser, a listing without an installed or held line is a failed one,
// never a product named "".
TEST(AptCheckerListing, NoInstalledOrHeldLineIsAFailedListing) {
  for (const char* listing : {"", "\n", "\n\n", "   \n", "rc a 1 all Gone\niiR b 1 all Broken\n",
                              " ii c 1 all Indented\n"}) {
    std::string text;
    EXPECT_FALSE(AptChecker::ParseListing(listing, text)) << listing;
    EXPECT_EQ(text, "Cannot obtain installed package.");
  }
}

TEST(AptCheckerListing, AwkwardBytesStayValidJson) {
  const std::string listing =
      "ii a 1 all quote\" back\\slash /slash\n"
      "ii b 1 all ctrl\x01\x1f bad\xff\xfe utf8\xc3\n"
      "ii c 1 all \xe2\x82\xac euro\n";
  std::string text;
  ASSERT_TRUE(AptChecker::ParseListing(listing, text));
  json_object* parsed = json_tokener_parse(text.c_str());
  ASSERT_NE(parsed, nullptr) << text;
  EXPECT_EQ(json_object_object_length(parsed), 3);
  EXPECT_NE(json_object_object_get(parsed, "quote\" back\\slash /slash "), nullptr);
  EXPECT_NE(json_object_object_get(parsed, "ctrl\x01\x1f bad\xff\xfe utf8\xc3 "), nullptr);
  EXPECT_NE(text.find("\\/slash"), std::string::npos);
  json_object_put(parsed);
}

}  // namespace

// A run starts the listing ahead, beside the installer's search; the source must collect that
// listing rather than start its own, or every run pays for the listing twice.
TEST(AptChecker, ARunsSourceCollectsTheListingStartedAhead) {
  const DpkgAdminDir admin({{"corva-zorvex-cli", "3.1", "amd64", "Zorvex command line tools"}});
  const testsupport::TempDir empty;
  const testsupport::InstallerLocations nothingInstalled(empty.path());
  std::string report;
  CommandsAhead run(kDpkgListCommand, kRpmQueryCommand);
  RunCheck(run, report);
  EXPECT_EQ(run.Unused(), "");
  EXPECT_NE(report.find("\"corva-zorvex-cli\""), std::string::npos) << report;

  // A listing that is not the source's own command stays unused, and says so.
  const char* const other = "dpkg -l 2>/dev/null";
  CommandsAhead missed(other, kRpmQueryCommand);
  RunCheck(missed, report);
  EXPECT_EQ(missed.Unused(), other);
}
