// The shared library exports its C interface and the three location texts, and nothing else.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "TestSupport.h"

TEST(Exports, DynamicSymbolTableHoldsExactlyTheInterface) {
  std::string table;
  ASSERT_EQ(testsupport::Shell("nm -D --defined-only '" ZORVEX_PLUGIN_PATH "'", &table), 0);
  // Each line: address, type letter, name (with "@..." when versioned).
  std::set<std::string> names;
  std::istringstream lines(table);
  std::string address;
  std::string type;
  std::string name;
  while (lines >> address >> type >> name) {
    names.insert(name.substr(0, name.find('@')));
  }
  const std::set<std::string> expected{
      "get_api_version", "get_check_list", "app_check",    "main",   "app_check_struct",
      "api_version",     "ROOT_IC_PATH",   "USER_IC_PATH", "DB_NAME"};
  EXPECT_EQ(names, expected) << table;
}
