// Who searches where: the superuser, an ordinary user with an installer tree in their home, and a
// user id without an account. The ordinary users are real: a forked child drops to them, so these
// cases need root and skip themselves otherwise.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "BInstallerChecker.h"
#include "TestSupport.h"

using testsupport::BecomeUser;
using testsupport::InstallerCache;
using testsupport::InstallerLocations;
using testsupport::InstallerMap;
using testsupport::ListedProduct;
using testsupport::ReadAllDatabases;
using testsupport::RunInChild;
using testsupport::ScopedEnv;
using testsupport::SplicedInstallerMaps;
using testsupport::TempDir;
using testsupport::TestAccount;
using testsupport::WriteManifest;

namespace {

// A user id above 40000 with no account record.
uid_t UnusedUid() {
  uid_t uid = 40000;
  while (getpwuid(uid) != nullptr) {
    ++uid;
  }
  return uid;
}

void ChangeOwnerOf(const std::string& path, uid_t uid, gid_t gid) {
  if (lchown(path.c_str(), uid, gid) != 0) {
    ADD_FAILURE() << "cannot change the owner of " << path;
  }
}

// Makes the tree at `path` belong to `uid` and `gid`.
void ChangeOwner(const std::string& path, uid_t uid, gid_t gid) {
  ChangeOwnerOf(path, uid, gid);
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(path, error);
       it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    ChangeOwnerOf(it->path(), uid, gid);
  }
}

const char* const kNoCaches = "Cannot obtain paths to package manager databases.";
const char* const kNoUserName = "Cannot get user name.";

std::string Outcome(bool result, const std::string& message,
                    const std::vector<std::string>& caches) {
  std::string outcome = std::string(result ? "true" : "false") + " | " + message;
  for (const std::string& cache : caches) {
    outcome += " | " + cache;
  }
  return outcome;
}

std::string InitializeOutcome() {
  std::string message = "untouched";
  const bool found = BInstallerChecker::Initialize(message);
  return Outcome(found, message, BInstallerChecker::CachePaths);
}

std::string FileName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The system-wide tree, open to every user as an installed one is, and a per-user tree in the
// test account's home, reached through USER_IC_PATH "/<folder>/corva".
class PerUserSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) {
      GTEST_SKIP() << "running as other users needs root";
    }
    umask(022);
    ASSERT_EQ(chmod(system.path().c_str(), 0755), 0);
    account = testsupport::TestUserAccount();
    ASSERT_TRUE(account) << "the test account zorvex-test is missing";
    home.emplace(account->home);
    ChangeOwner(home->path(), account->uid, account->gid);
    userPath = "/" + FileName(home->path()) + "/corva";
    locations.emplace(system.path(), userPath);
  }

  // The per-user cache directory `relative` below the corva folder, owned by the test account.
  std::string UserCache(const std::string& relative,
                        const std::vector<testsupport::InstallerComponent>& components) const {
    std::string cache = InstallerCache(home->path() + "/corva/" + relative + "/", components);
    ChangeOwner(home->path(), account->uid, account->gid);
    return cache;
  }

  std::string AsTestUser(const std::function<std::string()>& body) const {
    const TestAccount user = *account;
    return RunInChild([&] {
      BecomeUser(user.uid, user.gid);
      return body();
    });
  }

  TempDir system;
  std::optional<TestAccount> account;
  std::optional<TempDir> home;
  std::string userPath;
  std::optional<InstallerLocations> locations;
};

}  // namespace

TEST_F(PerUserSearch, SuperuserSearchesOnlyTheSystemWideDirectory) {
  const std::string systemCache = InstallerCache(system / "s/", {{"s", "1"}});
  // A per-user tree that root's home would lead to: ".." climbs from any home to "/".
  const TempDir other;
  InstallerCache(other / "corva/u/", {{"u", "1"}});
  const std::string climb = "/../../../../../../../../../../../.." + other.path() + "/corva";
  const passwd* rootAccount = getpwuid(0);
  ASSERT_NE(rootAccount, nullptr);
  ASSERT_EQ(access((rootAccount->pw_dir + climb + "/u/packagemanager.db").c_str(), R_OK), 0);
  const InstallerLocations climbing(system.path(), climb);
  EXPECT_EQ(InitializeOutcome(), Outcome(true, "untouched", {systemCache}));
}

TEST_F(PerUserSearch, SuperuserNeverLooksUpTheAccount) {
  const std::string systemCache = InstallerCache(system / "s/", {{"s", "1"}});
  const TempDir etc;
  const std::string noAccounts = etc.Write("passwd", "");
  const std::string nsswitch = etc.Write("nsswitch.conf", "passwd: files\ngroup: files\n");
  const std::string outcome = RunInChild([&]() -> std::string {
    // A mount namespace of its own, where no account record exists.
    if (unshare(CLONE_NEWNS) != 0 ||
        mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(noAccounts.c_str(), "/etc/passwd", "none", MS_BIND, nullptr) != 0 ||
        mount(nsswitch.c_str(), "/etc/nsswitch.conf", "none", MS_BIND, nullptr) != 0) {
      return std::string("SKIP no private mounts here: ") + std::strerror(errno);
    }
    if (getpwuid(0) != nullptr) {
      return "SKIP the account record of root is still found";
    }
    return InitializeOutcome();
  });
  if (outcome.rfind("SKIP ", 0) == 0) {
    GTEST_SKIP() << outcome.substr(5);
  }
  EXPECT_EQ(outcome, Outcome(true, "untouched", {systemCache}));
}

TEST_F(PerUserSearch, OrdinaryUserSearchesTheSystemWideThenTheOwnDirectory) {
  const std::string systemCache = InstallerCache(system / "s/", {{"s", "1"}});
  const std::string userCache = UserCache("u", {{"u", "1"}});
  // The home is the account's: a HOME elsewhere with a tree of its own is not searched.
  const TempDir decoy;
  ASSERT_EQ(chmod(decoy.path().c_str(), 0755), 0);
  InstallerCache(decoy.path() + userPath + "/d/", {{"d", "1"}});
  const ScopedEnv decoyHome("HOME", decoy.path());
  EXPECT_EQ(AsTestUser([] {
              const std::string found = InitializeOutcome();
              std::string text;
              const bool read = BInstallerChecker::GetAppInfo(text);
              return found + "\n" + Outcome(read, text, {});
            }),
            Outcome(true, "untouched", {systemCache, userCache}) + "\n" +
                Outcome(true,
                        SplicedInstallerMaps(
                            {{ListedProduct("Title s", "s")}, {ListedProduct("Title u", "u")}}),
                        {}));
}

TEST_F(PerUserSearch, OrdinaryUserWithoutOwnDirectoryStillFindsTheSystemWideDatabases) {
  const std::string systemCache = InstallerCache(system / "s/", {{"s", "1"}});
  EXPECT_EQ(AsTestUser(InitializeOutcome), Outcome(true, kNoCaches, {systemCache}));
}

TEST_F(PerUserSearch, OrdinaryUserFindingNothingAnywhereFails) {
  EXPECT_EQ(AsTestUser(InitializeOutcome), Outcome(false, kNoCaches, {}));
}

TEST_F(PerUserSearch, UserIdWithoutAccountSearchesOnlyTheSystemWideDirectory) {
  const uid_t nobody = UnusedUid();
  const auto withoutAccount = [&] {
    return RunInChild([&] {
      BecomeUser(nobody, static_cast<gid_t>(nobody));
      return InitializeOutcome();
    });
  };
  EXPECT_EQ(withoutAccount(), Outcome(false, kNoUserName, {}));
  const std::string systemCache = InstallerCache(system / "s/", {{"s", "1"}});
  EXPECT_EQ(withoutAccount(), Outcome(true, kNoUserName, {systemCache}));
}

// find ends with status 1 when it meets a folder it may not read; the databases it printed are
// still read, in the system-wide tree and in the user's own.
TEST_F(PerUserSearch, RootOnlyFolderLeavesTheDatabasesThatWerePrinted) {
  const std::string systemCache = InstallerCache(system / "s/", {{"s", "1"}});
  ASSERT_EQ(mkdir((system / "root-only").c_str(), 0700), 0);
  const std::string userCache = UserCache("u", {{"u", "1"}});
  ASSERT_EQ(mkdir((home->path() + "/corva/locked").c_str(), 0), 0);
  EXPECT_EQ(AsTestUser(InitializeOutcome), Outcome(true, "untouched", {systemCache, userCache}));
  // Only a search that printed nothing fails.
  std::filesystem::remove_all(system / "s");
  std::filesystem::remove_all(home->path() + "/corva/u");
  EXPECT_EQ(AsTestUser(InitializeOutcome), Outcome(false, kNoCaches, {}));
}

TEST_F(PerUserSearch, UnreadableDatabaseAndManifestFailOnlyTheirDatabases) {
  const std::string good = InstallerCache(system / "good/", {{"g", "1"}});
  const std::string locked = InstallerCache(system / "locked/", {{"l", "1"}});
  ASSERT_EQ(chmod((locked + "packagemanager.db").c_str(), 0), 0);
  const std::string hidden = InstallerCache(system / "hidden/", {{"h", "1"}});
  const std::string manifest = WriteManifest(hidden, "h", "1", "{}");
  ASSERT_EQ(chmod(manifest.c_str(), 0), 0);
  EXPECT_EQ(AsTestUser([&] {
              return ReadAllDatabases({locked, good, hidden});
            }),
            "false: " + InstallerMap({ListedProduct("Title g", "g")}) +
                "Cannot open Zivaro Zizovirad database " + locked +
                "packagemanager.db: unable to open database file\n" +
                "Cannot obtain human readable product names: Cannot obtain length of file \"" +
                manifest + "\" \n");
}
