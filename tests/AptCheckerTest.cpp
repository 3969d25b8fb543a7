// The Debian source against the real dpkg, reading status files that the tests write.
#include <gtest/gtest.h>

#include "AptChecker.h"
#include "TestSupport.h"

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
