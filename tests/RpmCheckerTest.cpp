// The RPM source against the real rpm, reading a private database filled with packages that the
// tests build with rpmbuild; PATH decides which package managers the machine appears to have.
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <unistd.h>

#include <memory>
#include <utility>

#include "CheckerHelper.h"
#include "RpmChecker.h"
#include "TestSupport.h"

using testsupport::ProductMap;
using testsupport::ProductMapEntry;
using testsupport::RpmDatabase;
using testsupport::RpmPackage;
using testsupport::ScopedEnv;
using testsupport::Shell;
using testsupport::TempDir;
using testsupport::ToolDir;

namespace {

const char* const kSkipped = "Obtaining information about products installed by RPM is skipped.";
const char* const kCannotObtain = "Cannot obtain installed package.";

// An RPM-only machine: rpm itself needs no other program to answer the query.
const std::vector<std::string> kRpmOnlyTools = {"rpm", "grep", "which"};

// The result of GetAppInfo and its text.
using Answer = std::pair<bool, std::string>;

// Calls `ask` where PATH holds links to `tools` and nothing else.
template <typename Ask>
auto WithOnlyOnPath(const std::vector<std::string>& tools, Ask ask) {
  const testsupport::ToolsOnPath path(tools);
  return ask();
}

// What the source answers where PATH holds links to `tools` and nothing else.
Answer AnswerWithOnly(const std::vector<std::string>& tools) {
  return WithOnlyOnPath(tools, [] {
    std::string text;
    const bool found = RpmChecker::GetAppInfo(text);
    return Answer(found, text);
  });
}

// The one product that a database holding just `package` gives.
std::string SingleProductMap(const RpmPackage& package) {
  return ProductMap({ProductMapEntry(package.summary + " ", package.name, package.version,
                                     package.version, package.architecture)});
}

std::string ParsedListing(const std::string& listing) {
  std::string text;
  EXPECT_TRUE(RpmChecker::ParseListing(listing, text));
  return text;
}

}  // namespace

TEST(RpmChecker, InitializeAlwaysSucceedsAndLeavesTheMessage) {
  std::string message = "untouched";
  EXPECT_TRUE(RpmChecker::Initialize(message));
  EXPECT_EQ(message, "untouched");
}

TEST(RpmChecker, GroupsFamilyPackagesBySummaryInByteOrder) {
  // Registered in this order, which is the order rpm lists them in.
  const RpmDatabase database({
      {"corva-zorvex-runtime", "2024.1.0", "Zorvex   runtime  libraries"},
      {"other-tool", "1.0", "Zorvex compiler", "Other Vendor Inc."},
      {"corva-zorvex-compiler", "2024.2~rc1", "Zorvex compiler", "Corva Corporation", "7",
       "x86_64"},
      {"corva-zorvex-runtime-dev", "2024.1.1", "Zorvex   runtime  libraries", "Corva Corporation",
       "1", "x86_64"},
      {"corva-zorvex-aaa-docs", "3_1", "zorvex docs"},
      {"corva-zorvex-legacy", "0.9", "Zorvex   runtime  libraries", "Corva Corporation", "1",
       "i686"},
      {"corva-zorvex-extras", "1.0", "\xC3\x96lmodul \"extra\" a/b c\\d"},
  });
  // A space sorts before "c", upper case before lower case, and a byte above 0x7F after both. A
  // shared summary joins the names in rpm's order and keeps the first package's version and
  // architecture; the other vendor's package is not taken. rpm refuses a "-" in a version, so
  // the short version always equals the full one here.
  EXPECT_EQ(
      AnswerWithOnly(kRpmOnlyTools),
      Answer(true, ProductMap({ProductMapEntry("Zorvex   runtime  libraries ",
                                               "corva-zorvex-runtime, "
                                               "corva-zorvex-runtime-dev, "
                                               "corva-zorvex-legacy",
                                               "2024.1.0", "2024.1.0", "noarch"),
                               ProductMapEntry("Zorvex compiler ", "corva-zorvex-compiler",
                                               "2024.2~rc1", "2024.2~rc1", "x86_64"),
                               ProductMapEntry("zorvex docs ", "corva-zorvex-aaa-docs", "3_1",
                                               "3_1", "noarch"),
                               ProductMapEntry("\xC3\x96lmodul \"extra\" a/b c\\d ",
                                               "corva-zorvex-extras", "1.0", "1.0", "noarch")})));
}

TEST(RpmChecker, TakesThePackagesOfVendorsWhoseNameBeginsWithCorva) {
  const RpmDatabase database({
      {"corva-zorvex-core", "1.0", "Zorvex core"},
      {"partner-tool", "2.0", "Partner tool", "Corvalis Labs"},
      {"porting-kit", "3.0", "Porting kit for :Corva tools", "Other Vendor Inc."},
      {"tabbed-kit", "3.1", "Tabbed kit\t:Corva tools", "Other Vendor Inc."},
      {"lower-case-vendor", "4.0", "Lower case vendor", "corva corporation"},
      {"no-vendor", "5.0", "No vendor", ""},
  });
  // Only the vendor decides, case-sensitively, even where a TAB in a summary makes ":Corva" the
  // start of a field; the vendor itself is never reported.
  EXPECT_EQ(
      AnswerWithOnly(kRpmOnlyTools),
      Answer(true,
             ProductMap(
                 {ProductMapEntry("Partner tool ", "partner-tool", "2.0", "2.0", "noarch"),
                  ProductMapEntry("Zorvex core ", "corva-zorvex-core", "1.0", "1.0", "noarch")})));
}

TEST(RpmChecker, CutsTheLineAtEveryTab) {
  // rpmbuild keeps a TAB inside a summary; the rest of the summary then counts as vendor.
  const RpmDatabase database({{"corva-zorvex-tabbed", "1.0", "Zorvex\ttabbed summary"}});
  EXPECT_EQ(AnswerWithOnly(kRpmOnlyTools),
            Answer(true, ProductMap({ProductMapEntry("Zorvex ", "corva-zorvex-tabbed", "1.0", "1.0",
                                                     "noarch")})));
}

TEST(RpmChecker, KeepsALineLongerThanOneReadWhole) {
  // The line reaches the source in several 255-byte pieces.
  const RpmPackage package{"corva-zorvex-long", "1.0", "Zorvex " + std::string(400, 'x')};
  const RpmDatabase database({package});
  EXPECT_EQ(AnswerWithOnly(kRpmOnlyTools), Answer(true, SingleProductMap(package)));
}

TEST(RpmChecker, ListsThePackagesWhereTheShellHasNoWhich) {
  const RpmPackage package{"corva-zorvex-core", "2024.1", "Zorvex core"};
  const RpmDatabase database({package});
  const std::vector<std::string> rpmWithoutWhich = {"rpm", "grep"};
  EXPECT_EQ(AnswerWithOnly(rpmWithoutWhich), Answer(true, SingleProductMap(package)));
}

TEST(RpmChecker, SkipsWithoutRunningRpmWhereDpkgIsPresentToo) {
  const RpmDatabase database({{"corva-zorvex-core", "2024.1", "Zorvex core"}});
  const TempDir record;
  const std::string calls = record / "rpm-calls";
  ToolDir tools;
  tools.Link({"dpkg", "which", "grep"});
  // The real rpm behind a wrapper that leaves a mark when it runs.
  tools.Script("rpm", ": >>'" + calls + "'\nexec '" + testsupport::FindTool("rpm") + "' \"$@\"");
  const ScopedEnv path("PATH", tools.path());

  std::string text = "previous text";
  EXPECT_FALSE(RpmChecker::GetAppInfo(text));
  EXPECT_EQ(text, kSkipped);
  EXPECT_NE(access(calls.c_str(), F_OK), 0) << "rpm ran";
  // The wrapper does leave its mark.
  ASSERT_EQ(Shell("rpm --version"), 0);
  EXPECT_EQ(access(calls.c_str(), F_OK), 0);
}

TEST(RpmChecker, SkipsWhereNoPackageManagerIsFound) {
  const std::vector<std::string> neitherManager = {"which", "grep"};
  EXPECT_EQ(AnswerWithOnly(neitherManager), Answer(false, kSkipped));
}

TEST(RpmChecker, ReportsAFailureWhenNoFamilyPackageIsInstalled) {
  const RpmDatabase database({{"other-tool", "1.0", "Zorvex compiler", "Other Vendor Inc."}});
  EXPECT_EQ(AnswerWithOnly(kRpmOnlyTools), Answer(false, kCannotObtain));
}

TEST(OsTypeWithoutWhich, AsksTheShellForEitherManager) {
  const std::vector<std::string> dpkgOnly = {"dpkg"};
  const std::vector<std::string> rpmOnly = {"rpm"};
  const std::vector<std::string> neither = {"grep"};
  EXPECT_EQ(WithOnlyOnPath(dpkgOnly, CheckerHelper::GetOsType), OS_TYPE_DEB);
  EXPECT_EQ(WithOnlyOnPath(rpmOnly, CheckerHelper::GetOsType), OS_TYPE_RPM);
  EXPECT_EQ(WithOnlyOnPath(neither, CheckerHelper::GetOsType), OS_TYPE_NONE);
}

TEST(OsTypeWithoutWhich, TakesTheWordOfAWhichThatRuns) {
  // Only a missing "which" hands the question to the shell; one that answers is believed.
  ToolDir tools;
  tools.Link({"rpm", "dpkg"});
  tools.Script("which", "exit 1");
  const ScopedEnv path("PATH", tools.path());
  EXPECT_EQ(CheckerHelper::GetOsType(), OS_TYPE_NONE);
}

TEST(RpmCheckerListing, GivesAnEmptySummaryFieldOneSpaceAsName) {
  // rpmbuild refuses an empty summary, so only a listing can show one.
  EXPECT_EQ(ParsedListing("corva-zorvex-bare\t1.0\tnoarch\t\t:Corva Corporation\n"),
            ProductMap({ProductMapEntry(" ", "corva-zorvex-bare", "1.0", "1.0", "noarch")}));
}

TEST(RpmCheckerListing, CutsTheShortVersionAtTheFirstDash) {
  // rpm refuses a "-" in the version tag; the cut is shared with the Debian source.
  EXPECT_EQ(ParsedListing("a\t1.2-3-4\tnoarch\tA\t:Corva\n"
                          "b\t1:2.0-5\tnoarch\tB\t:Corva\n"
                          "c\t-1\tnoarch\tC\t:Corva\n"
                          "d\t7\tnoarch\tD\t:Corva\n"),
            ProductMap({ProductMapEntry("A ", "a", "1.2", "1.2-3-4", "noarch"),
                        ProductMapEntry("B ", "b", "1:2.0", "1:2.0-5", "noarch"),
                        ProductMapEntry("C ", "c", "", "-1", "noarch"),
                        ProductMapEntry("D ", "d", "7", "7", "noarch")}));
}

TEST(RpmCheckerListing, PassesOverLinesThatLackTheVendor) {
  // Short lines are not rpm's: they neither borrow the fields of the line before nor count.
  EXPECT_EQ(ParsedListing("corva-full\t1.0-2\tx86_64\tFull line\t:Corva Corporation\n"
                          "corva-short\t2.0\n"
                          "corva-four\t3.0\tnoarch\tFour fields\n"
                          "corva-open\t1\tnoarch\tOpen end\t\n"
                          "corva-after\t1\tnoarch\tVendor before\t:Corva\textra\n"),
            ProductMap({ProductMapEntry("Full line ", "corva-full", "1.0", "1.0-2", "x86_64")}));
}

TEST(RpmCheckerListing, SplitsAtEveryTabAndKeepsTheSummarySpacing) {
  EXPECT_EQ(ParsedListing("\t1.0\tnoarch\tNameless\t:Corva\n"
                          "corva-bare\t\t\tNo version\textra\tfields\t:Corva\n"
                          "corva-spaced\t1\tnoarch\t  Spaced   out \t:Corva\n"
                          "corva-crlf\t1\tnoarch\tCarriage return\t:Corva\r\n"),
            ProductMap({ProductMapEntry("  Spaced   out  ", "corva-spaced", "1", "1", "noarch"),
                        ProductMapEntry("Carriage return ", "corva-crlf", "1", "1", "noarch"),
                        ProductMapEntry("Nameless ", "", "1.0", "1.0", "noarch"),
                        ProductMapEntry("No version ", "corva-bare", "", "", "")}));
}

// Whatever reaches the parser, a listing without a family line is a failed one, never a product
// named "".
TEST(RpmCheckerListing, NoFamilyLineIsAFailedListing) {
  for (const char* listing :
       {"", "\n", "\n\n", "\t\t\t\t\n", "tool\t1\tnoarch\tFor :Corva\t:Other\n"}) {
    std::string text;
    EXPECT_FALSE(RpmChecker::ParseListing(listing, text)) << listing;
    EXPECT_EQ(text, kCannotObtain);
  }
}

TEST(RpmCheckerListing, EscapesQuotesSlashesAndBackslashes) {
  const std::string text =
      ParsedListing("say-\"hi\"\t1/2\tno\\arch\tsay \"hi\" a/b c\\d\t:Corva\n");
  EXPECT_EQ(text.rfind("{ \"say \\\"hi\\\" a\\/b c\\\\d \": { \"RetVal\": \"INFO\", \"Value\": "
                       "{ \"Packages\": { \"Verbosity\": 1, \"RetVal\": \"INFO\", \"Value\": "
                       "\"say-\\\"hi\\\"\" }, \"Version\": { \"RetVal\": \"INFO\", \"Value\": "
                       "\"1\\/2\" }",
                       0),
            0u)
      << text;
}

TEST(RpmCheckerListing, GivesValidJsonForEveryByteButTabLineFeedAndNul) {
  std::string summary;
  for (int byte = 1; byte < 256; ++byte) {
    if (byte != '\t' && byte != '\n') {
      summary += static_cast<char>(byte);
    }
  }
  const std::string text =
      ParsedListing("name " + summary + "\t1.0\tnoarch\t" + summary + "\t:Corva\n");

  const std::unique_ptr<json_object, decltype(&json_object_put)> parsed(
      json_tokener_parse(text.c_str()), &json_object_put);
  ASSERT_NE(parsed, nullptr) << text;
  ASSERT_EQ(json_object_object_length(parsed.get()), 1);
  // The member name and the package name come back byte for byte.
  json_object* product = nullptr;
  ASSERT_TRUE(json_object_object_get_ex(parsed.get(), (summary + " ").c_str(), &product));
  json_object* packages = nullptr;
  ASSERT_EQ(json_pointer_get(product, "/Value/Packages/Value", &packages), 0);
  EXPECT_EQ(json_object_get_string(packages), "name " + summary);
}
