// Reading find's answer, without running find.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "FindOutput.h"
#include "TestSupport.h"

namespace {

const std::string kDbName = "packagemanager.db";

TEST(TakeCaches, EveryDatabaseInsideTheStartInOrder) {
  std::vector<std::string> caches;
  EXPECT_TRUE(TakeCaches("/var/corva/b/packagemanager.db\n/var/corva/a/packagemanager.db\n",
                         "/var/corva", kDbName, caches));
  EXPECT_EQ(caches, (std::vector<std::string>{"/var/corva/b/", "/var/corva/a/"}));
}

TEST(TakeCaches, FolderNamesWithLineFeedsStayWhole) {
  std::vector<std::string> caches;
  EXPECT_TRUE(TakeCaches("/var/corva/x\n/y/packagemanager.db\n/var/corva/z/packagemanager.db\n",
                         "/var/corva/", kDbName, caches));
  EXPECT_EQ(caches, (std::vector<std::string>{"/var/corva/x\n/y/", "/var/corva/z/"}));
}

TEST(TakeCaches, NothingInsideLeavesTheCachesAsTheyWere) {
  std::vector<std::string> caches{"/kept/"};
  EXPECT_FALSE(TakeCaches("/elsewhere/packagemanager.db\n/var/corva/packagemanager.db.old\n",
                          "/var/corva", kDbName, caches));
  EXPECT_EQ(caches, std::vector<std::string>{"/kept/"});
}

// find runs in "/": a relative folder is the working folder's, and none is read as an expression.
TEST(FindStartingPoint, RelativeFoldersAreTheWorkingFoldersAndNeverAnExpression) {
  const std::string here = std::filesystem::current_path().string();
  EXPECT_EQ(FindStartingPoint("-delete"), here + "/-delete");
  EXPECT_EQ(FindStartingPoint("a-b"), here + "/a-b");
  EXPECT_EQ(FindStartingPoint("/var/corva"), "/var/corva");
  // The working folder gone: what stays relative gets "./" where find would read an expression.
  EXPECT_EQ(testsupport::RunInChild([] {
              const testsupport::TempDir dir;
              if (chdir(dir.path().c_str()) != 0 || rmdir(dir.path().c_str()) != 0) {
                return std::string("cannot remove the working folder");
              }
              return FindStartingPoint("-delete") + " " + FindStartingPoint("(") + " " +
                     FindStartingPoint("a-b");
            }),
            "./-delete ./( a-b");
}

}  // namespace
