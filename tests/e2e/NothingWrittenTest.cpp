// The check writes nothing: runs through the loaded library over installer trees and dpkg
// databases made read-only leave every file with the bytes, size and times it had, every folder
// with the names it had, and create no "-journal", "-wal" or "-shm" file. Read-only bits stop
// nobody running as root, so the comparison, not the permissions, is what tells.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>

#include "LoadedPlugin.h"
#include "TestSupport.h"

using e2e::LoadedPlugin;
using e2e::ReportSummary;
using testsupport::DatabaseWriter;
using testsupport::DpkgAdminDir;
using testsupport::ExecuteSql;
using testsupport::InstallerCache;
using testsupport::TempDir;

namespace fs = std::filesystem;

namespace {

std::string Times(const struct timespec& time) {
  return std::to_string(time.tv_sec) + "." + std::to_string(time.tv_nsec);
}

const char* const kChangeTime = " | c";

// Everything that a write would change about one entry: its kind, mode, size and modification
// and change times, and for a file a checksum of its bytes (FNV-1a).
std::string Fingerprint(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) {
    return "gone";
  }
  std::string print = std::to_string(status.st_mode) + " " + std::to_string(status.st_size) + " m" +
                      Times(status.st_mtim);
  if (S_ISREG(status.st_mode)) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : testsupport::ReadFile(path)) {
      hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    print += " sum" + std::to_string(hash);
  }
  return print + kChangeTime + Times(status.st_ctim);
}

// `print` without the change time: for a file whose owner SQLite sets again.
std::string WithoutChangeTime(const std::string& print) {
  return print.substr(0, print.find(kChangeTime));
}

// Every entry below `top`, the folders included, by path.
using Snapshot = std::map<std::string, std::string>;

Snapshot Take(const std::vector<std::string>& tops) {
  Snapshot snapshot;
  for (const std::string& top : tops) {
    snapshot[top] = Fingerprint(top);
    for (const auto& entry : fs::recursive_directory_iterator(top)) {
      snapshot[entry.path().string()] = Fingerprint(entry.path().string());
    }
  }
  return snapshot;
}

// The files that SQLite would leave beside a database it wrote to.
std::vector<std::string> SqliteLeftovers(const Snapshot& snapshot) {
  std::vector<std::string> leftovers;
  for (const auto& entry : snapshot) {
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
      const std::string& path = entry.first;
      const size_t length = std::char_traits<char>::length(suffix);
      if (path.size() > length && path.compare(path.size() - length, length, suffix) == 0) {
        leftovers.push_back(path);
      }
    }
  }
  return leftovers;
}

void MakeReadOnly(const std::string& top) {
  const fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  for (const auto& entry : fs::recursive_directory_iterator(top)) {
    fs::permissions(entry.path(), write, fs::perm_options::remove);
  }
  fs::permissions(top, write, fs::perm_options::remove);
}

// Copies the database of `from` and the "-wal" file of an open connection that has committed
// `sql` but not written it back, as a crashed writer whose "-shm" was removed leaves them.
void CopyWithUncheckpointedLog(const std::string& from, const std::string& to,
                               const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((from + "packagemanager.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(db, ("PRAGMA wal_autocheckpoint = 0;" + sql).c_str(), nullptr, nullptr, nullptr),
      SQLITE_OK);
  fs::copy(from, to, fs::copy_options::recursive);
  fs::remove(to + "packagemanager.db-shm");
  sqlite3_close(db);
}

class NothingWritten : public ::testing::Test {
 protected:
  void SetUp() override {
    umask(022);
    root_ = tree_.MakeDir("corva");
    plugin_.SetInstallerRoot(root_);
  }

  std::string Cache(const std::string& name) const { return root_ + "/" + name + "/"; }

  // A database in rollback mode, one in WAL mode that no connection has open, and one in WAL
  // mode with a log that holds a component its database file does not.
  void WriteTree() const {
    InstallerCache(Cache("rollback"), {{"r", "1"}});
    InstallerCache(Cache("wal"), {{"w", "1"}});
    ExecuteSql(Cache("wal") + "packagemanager.db", "PRAGMA journal_mode = WAL;");
    const std::string source = InstallerCache(tree_ / "source/", {{"l", "1"}, {"late", "1"}});
    ExecuteSql(source + "packagemanager.db",
               "PRAGMA journal_mode = WAL; DELETE FROM COMPONENT WHERE ID = 'late';");
    CopyWithUncheckpointedLog(source, Cache("crashed"),
                              "INSERT INTO COMPONENT VALUES ('late', '1', 'installed');");
  }

  // Runs the check with the working folder in an empty folder of its own, which must stay empty.
  ReportSummary CheckFrom(const std::function<std::string()>& run) const {
    const TempDir cwd;
    MakeReadOnly(cwd.path());
    const std::string previous = fs::current_path();
    fs::current_path(cwd.path());
    const std::string report = run();
    fs::current_path(previous);
    EXPECT_EQ(testsupport::DirectoryEntries(cwd.path()), std::vector<std::string>{});
    return e2e::SummarizeComplete(report);
  }

  TempDir tree_;
  std::string root_;
  LoadedPlugin plugin_;
};

}  // namespace

// What the check reads of the leftover log: nothing. Reading it would need a "-shm" file beside
// the database, which the check must not create; the database file alone is read.
TEST_F(NothingWritten, ReadOnlyTreesAreLeftAsTheyWere) {
  WriteTree();
  const DpkgAdminDir admin({{"corva-zorvex-cli", "3.1-2", "amd64", "Zorvex command line tools"}});
  ASSERT_EQ(
      testsupport::DirectoryEntries(Cache("crashed")),
      (std::vector<std::string>{"packagemanager.db", "packagemanager.db-wal", "packagescache"}));
  MakeReadOnly(root_);
  MakeReadOnly(admin.path());
  const Snapshot before = Take({root_, admin.path()});
  const ReportSummary report = CheckFrom([&] { return plugin_.RunCheck(); });
  EXPECT_EQ(Take({root_, admin.path()}), before);
  EXPECT_EQ(SqliteLeftovers(before),
            std::vector<std::string>{Cache("crashed") + "packagemanager.db-wal"});
  std::vector<std::string> products = report.products;
  std::sort(products.begin(), products.end() - 1);
  EXPECT_EQ(products, (std::vector<std::string>{"Title l", "Title r", "Title w",
                                                "Zorvex command line tools "}));
}

// An ordinary user could not write there anyway; the same run, as the test user, reads the same.
TEST_F(NothingWritten, ReadOnlyTreesAreLeftAsTheyWereByAnOrdinaryUser) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "running as another user needs root";
  }
  const std::optional<testsupport::TestAccount> user = testsupport::TestUserAccount();
  ASSERT_TRUE(user) << "the test account zorvex-test is missing";
  WriteTree();
  fs::permissions(tree_.path(), fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add);
  const DpkgAdminDir admin({{"corva-zorvex-cli", "3.1-2", "amd64", "Zorvex command line tools"}});
  MakeReadOnly(root_);
  MakeReadOnly(admin.path());
  fs::permissions(admin.path(), fs::perms::others_read | fs::perms::others_exec,
                  fs::perm_options::add);
  const Snapshot before = Take({root_, admin.path()});
  const ReportSummary report = CheckFrom([&] {
    return testsupport::RunInChild([&] {
      testsupport::BecomeUser(user->uid, user->gid);
      return plugin_.RunCheck();
    });
  });
  EXPECT_EQ(Take({root_, admin.path()}), before);
  EXPECT_EQ(report.products.size(), 4u);
}

// With a writer at work, the database has a "-shm" file and SQLite's readers coordinate with the
// writer through it: a reader may record in it which part of the log it reads. That shared
// memory is the one thing a read writes to. The database, its log and the folder keep their
// bytes and times, but for one thing: SQLite run as root, on opening the log, gives it the owner
// of the database again (the same owner it has), which moves the log's change time.
TEST_F(NothingWritten, ReadingBesideAnActiveWriterTouchesOnlyItsSharedMemory) {
  InstallerCache(Cache("busy"), {{"b", "1"}});
  const std::string database = Cache("busy") + "packagemanager.db";
  ExecuteSql(database, "PRAGMA journal_mode = WAL; INSERT INTO SETTINGS VALUES ('a', 'b');");
  testsupport::WriteManifest(Cache("busy"), "c", "1", testsupport::VisibleManifest("Title c"));
  const DatabaseWriter writer(database,
                              "PRAGMA wal_autocheckpoint = 0; INSERT INTO COMPONENT VALUES "
                              "('c', '1', 'installed'); BEGIN IMMEDIATE; "
                              "INSERT INTO COMPONENT VALUES ('d', '1', 'installed');");
  const DpkgAdminDir admin({});
  MakeReadOnly(root_);
  Snapshot before = Take({root_});
  ASSERT_EQ(SqliteLeftovers(before),
            (std::vector<std::string>{database + "-shm", database + "-wal"}));
  const ReportSummary report = CheckFrom([&] { return plugin_.RunCheck(); });
  Snapshot after = Take({root_});
  before.erase(database + "-shm");
  ASSERT_EQ(after.erase(database + "-shm"), 1u);
  for (Snapshot* snapshot : {&before, &after}) {
    std::string& log = (*snapshot)[database + "-wal"];
    log = WithoutChangeTime(log);
  }
  EXPECT_EQ(after, before);
  // What the writer committed is read through its log; what it has not, is not.
  EXPECT_EQ(report.products, (std::vector<std::string>{"Title b", "Title c"}));
}
