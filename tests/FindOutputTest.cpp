// Reading find's answer, without running find.
#include <gtest/gtest.h>

#include "FindOutput.h"

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

TEST(FindStartingPoint, OnlyWhatFindWouldReadAsAnExpressionIsPrefixed) {
  EXPECT_EQ(FindStartingPoint("-delete"), "./-delete");
  EXPECT_EQ(FindStartingPoint("("), "./(");
  EXPECT_EQ(FindStartingPoint("/var/corva"), "/var/corva");
  EXPECT_EQ(FindStartingPoint("a-b"), "a-b");
}

}  // namespace
