// diag-host's reading of what each source did, on report texts of the forms the check writes,
// including those that only a failing machine gives (a killed probe, a stopped check).
#include <gtest/gtest.h>

#include "ProductList.h"

namespace {

// A report whose "Zorvex products" node is `node`.
std::string Report(const std::string& node) {
  return R"({"Value":{"APP":{"RetVal":"INFO","Value":{"Zorvex products":)" + node + "}}}}";
}

// Each source as "state found message", in installer, dpkg, rpm order.
std::vector<std::string> Health(const std::string& report) {
  ProductList list;
  std::string error;
  EXPECT_TRUE(ReadProductList(report, list, error)) << error;
  std::vector<std::string> health;
  for (const SourceHealth& source : list.sources) {
    health.push_back(std::string(SourceStateName(source.state)) + " " +
                     std::to_string(source.found) + " " + source.message);
  }
  return health;
}

const char kFailed[] =
    R"("Message":"ERROR: Not every source of products could be read; what they hold is )"
    R"(missing here.\n)";
const char kProduct[] = R"({"RetVal":"INFO","Value":{"Version":{"RetVal":"INFO","Value":"1"}}})";
const char kPackage[] =
    R"({"RetVal":"INFO","Value":{"Packages":{"RetVal":"INFO","Value":"corva-zorvex-cli"}}})";

}  // namespace

TEST(SourceHealth, IsReadFromEveryFormOfTheProductNode) {
  const struct {
    std::string node;
    std::vector<std::string> health;
  } cases[] = {
      {std::string("{") + kFailed +
           R"(Cannot open Zivaro Zizovirad database \/c\/packagemanager.db: )" +
           R"(file is not a database","Command":"Parse installed zorvex caches and installed dpkg )" +
           R"(packages","RetVal":"INFO","Value":{"S":)" + kProduct + R"(,"T ":)" + kPackage + "}}",
       {"failed 1 Cannot open Zivaro Zizovirad database /c/packagemanager.db: file is not a "
        "database",
        "found 1 ", "skipped 0 "}},
      {std::string("{") + R"("Command":"Parse installed rpm packages","RetVal":"INFO","Value":{)" +
           R"("T ":)" + kPackage + "}}",
       {"none 0 ", "absent 0 ", "found 1 "}},
      {std::string("{") + kFailed +
           R"(The command \"which dpkg 2>\/dev\/null\" was ended by signal 9.","RetVal":"INFO",)" +
           R"("Value":"No installed Zorvex products are discovered. Additional information: \n)" +
           R"(Cannot obtain paths to package manager databases.\nCannot tell whether dpkg or rpm )" +
           R"(is installed. The command \"which dpkg 2>\/dev\/null\" was ended by signal 9."})",
       {"absent 0 Cannot obtain paths to package manager databases.",
        "failed 0 The command \"which dpkg 2>/dev/null\" was ended by signal 9.",
        "failed 0 The command \"which dpkg 2>/dev/null\" was ended by signal 9."}},
      {R"({"RetVal":"INFO","Value":"No installed Zorvex products are discovered. Additional )"
       R"(information: \nCannot obtain installed package."})",
       {"none 0 ", "none 0 Cannot obtain installed package.", "skipped 0 "}},
      {R"({"RetVal":"INFO","Value":"The check ran out of memory."})",
       {"unknown 0 The check ran out of memory.", "unknown 0 The check ran out of memory.",
        "unknown 0 The check ran out of memory."}},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(Health(Report(test.node)), test.health) << test.node;
  }
}
