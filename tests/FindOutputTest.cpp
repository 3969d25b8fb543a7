// Reading find's answer, without running find.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "FindOutput.h"
#include "TestSupport.h"

namespace {

const std::string kDbName = "packagemanager.db";

TEST(CacheOfPath, OnlyDatabaseFilesInsideTheStartGiveTheirFolder) {
  const struct {
    std::string path;
    std::string start;
    std::optional<std::string> cache;
  } cases[] = {
      {"/var/corva/b/packagemanager.db", "/var/corva", "/var/corva/b/"},
      {"/var/corva/b/packagemanager.db", "/var/corva/", "/var/corva/b/"},
      {"/var/corva/x\n/y/packagemanager.db", "/var/corva", "/var/corva/x\n/y/"},
      {"/var/corva/packagemanager.db", "/var/corva", "/var/corva/"},
      {"/elsewhere/packagemanager.db", "/var/corva", std::nullopt},
      {"/var/corvax/packagemanager.db", "/var/corva", std::nullopt},
      {"/var/corva/packagemanager.db.old", "/var/corva", std::nullopt},
      {"/var/corva/old-packagemanager.db", "/var/corva", std::nullopt},
  };
  for (const auto& each : cases) {
    EXPECT_EQ(CacheOfPath(each.path, each.start, kDbName), each.cache) << each.path;
  }
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
