// The fault matrix: each case breaks one thing on a fixture machine and runs the check through
// the loaded library, as a host does. Every report must be one complete JSON text that says what
// went wrong (or shows the mended behaviour), and what the other sources found must still be
// there: an installer database beside the broken one, and a product of the real dpkg.
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>

#include "LoadedPlugin.h"
#include "RpmChecker.h"
#include "TestSupport.h"

using e2e::LoadedPlugin;
using e2e::ReportSummary;
using e2e::SummarizeComplete;
using testsupport::DatabaseWriter;
using testsupport::DpkgAdminDir;
using testsupport::DpkgPackage;
using testsupport::ExecuteSql;
using testsupport::HangGuard;
using testsupport::InstallerCache;
using testsupport::ListedProduct;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::ToolDir;
using testsupport::ToolsOnPath;
using testsupport::VisibleManifest;
using testsupport::WriteManifest;

namespace {

const char* const kNoPackage = "Cannot obtain installed package.";
const char* const kNoCaches = "Cannot obtain paths to package manager databases.";
const char* const kDpkgSkipped =
    "Obtaining information about products installed by dpkg is skipped.";
const std::string kFailedSources =
    "ERROR: Not every source of products could be read; what they hold is missing here.\n";
const char* const kWhichDpkg = "The command \"which dpkg 2>/dev/null\" ";
const char* const kCannotTell = "Cannot tell whether dpkg or rpm is installed. ";
const char* const kInstallDirQuery = "SELECT PATH FROM INSTALL_DIR;";
const char* const kComponentQuery = "SELECT ID, VERSION FROM COMPONENT ORDER BY ID, VERSION;";

const char* const kBothCommand = "Parse installed zorvex caches and installed dpkg packages";
const char* const kInstallerCommand = "Parse installed zorvex caches";
const char* const kDpkgCommand = "Parse installed dpkg packages";

// The family package that dpkg lists beside the installer's products, and another vendor's.
const DpkgPackage kRuntime{"corva-zorvex-runtime", "2024.2.0-48", "amd64",
                           "Zorvex runtime libraries"};
const DpkgPackage kOtherVendor{"hello-example", "2.10-3", "amd64", "example of another vendor"};
const char* const kRuntimeName = "Zorvex runtime libraries ";

std::string CompileError(const std::string& statement, const std::string& reason) {
  return "Error while compiling SQL statement \"" + statement + "\": " + reason;
}

std::string CannotOpen(const std::string& cache, const std::string& reason) {
  return "Cannot open Zivaro Zizovirad database " + cache + "packagemanager.db: " + reason;
}

std::string ManifestFailure(const std::string& reason, const std::string& manifest) {
  return "Cannot obtain human readable product names: " + reason + "\"" + manifest + "\" ";
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// The installer's products sorted (databases come in the order find meets them), then dpkg's.
std::vector<std::string> InstallerThenDpkg(const ReportSummary& report) {
  std::vector<std::string> names = report.products;
  const auto dpkg = std::find(names.begin(), names.end(), kRuntimeName);
  std::sort(names.begin(), dpkg);
  return names;
}

// Opens the folder `path` to every user, as an installed tree is.
void OpenToEveryone(const std::string& path) { ASSERT_EQ(chmod(path.c_str(), 0755), 0) << path; }

class FaultMatrix : public ::testing::Test {
 protected:
  void SetUp() override {
    umask(022);
    root_ = tree_.MakeDir("corva");
    InstallerCache(Cache("good"), {{"g", "1"}});
    plugin_.SetInstallerRoot(root_);
  }

  std::string Cache(const std::string& name) const { return root_ + "/" + name + "/"; }

  // The database "bad" with the visible component "a" and the component "b", whose manifest
  // the case writes. Returns the path of b's manifest.
  std::string BadDatabaseWithManifest() const {
    InstallerCache(Cache("bad"), {{"a", "1"}, {"b", "1"}});
    std::string manifest = Cache("bad") + "packagescache/b,v=1/manifest.json";
    std::filesystem::remove(manifest);
    return manifest;
  }

  ReportSummary Check() const { return SummarizeComplete(plugin_.RunCheck()); }

  // Check, recording how long the run took (the property "milliseconds" of the test's XML
  // output): a figure to read, not a limit.
  ReportSummary TimedCheck() const {
    const auto start = std::chrono::steady_clock::now();
    ReportSummary report = Check();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    RecordProperty(
        "milliseconds",
        std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
    return report;
  }

  // The installer data fails with `message`, which costs only the failed database's products:
  // the good database's product is reported beside the dpkg product and without it, and the
  // product node's message says what failed, with "ERROR", and the run's status is 3.
  void ExpectInstallerFailure(const std::string& message) const {
    {
      const DpkgAdminDir admin({kRuntime});
      ExpectGoodProductDespite(Check(), message, true);
      EXPECT_EQ(plugin_.RunMain().status, 3);
    }
    const DpkgAdminDir admin({kOtherVendor});
    ExpectGoodProductDespite(Check(), message, false);
  }

  // The good database's product, beside the dpkg product or without it, and the failure.
  static void ExpectGoodProductDespite(const ReportSummary& report, const std::string& message,
                                       bool withDpkg) {
    EXPECT_EQ(report.command, withDpkg ? kBothCommand : kInstallerCommand);
    std::vector<std::string> products = {"Title g"};
    if (withDpkg) {
      products.emplace_back(kRuntimeName);
    }
    EXPECT_EQ(report.products, products);
    EXPECT_EQ(report.message, kFailedSources + message);
  }

  // The installer data is read: its products, sorted, then the dpkg product.
  void ExpectProducts(const std::vector<std::string>& installer) const {
    const DpkgAdminDir admin({kRuntime});
    const ReportSummary report = Check();
    EXPECT_EQ(report.command, kBothCommand);
    std::vector<std::string> expected = Sorted(installer);
    expected.emplace_back(kRuntimeName);
    EXPECT_EQ(InstallerThenDpkg(report), expected);
  }

  // No package manager is found: the installer's products stand alone, and without them the
  // nothing-found text gives the installer's message and the skipped dpkg source's.
  void ExpectNoPackageManager() {
    const ReportSummary report = Check();
    EXPECT_EQ(report.command, kInstallerCommand);
    EXPECT_EQ(report.products, std::vector<std::string>{"Title g"});
    EXPECT_EQ(report.message, "");
    plugin_.SetInstallerRoot(tree_ / "absent");
    EXPECT_EQ(Check().information, std::string(kNoCaches) + "\n" + kDpkgSkipped);
  }

  static std::string GoodMap() {
    return testsupport::InstallerMap({ListedProduct("Title g", "g")});
  }

  TempDir tree_;
  std::string root_;
  LoadedPlugin plugin_;
};

}  // namespace

// ---- Installer data ----

TEST_F(FaultMatrix, CorruptDatabase) {
  InstallerCache(Cache("bad"), {{"b", "1"}});
  // The b-tree header of the schema page, right after the 100-byte file header.
  std::fstream file(Cache("bad") + "packagemanager.db",
                    std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(100);
  file.write("\xff\xff\xff\xff\xff\xff\xff\xff", 8);
  file.close();
  ExpectInstallerFailure(CompileError(kInstallDirQuery, "database disk image is malformed"));
}

TEST_F(FaultMatrix, FileThatIsNotADatabase) {
  tree_.Write("corva/bad/packagemanager.db", "SQLite format 2, or so it says\n");
  ExpectInstallerFailure(CompileError(kInstallDirQuery, "file is not a database"));
}

TEST_F(FaultMatrix, MissingTable) {
  InstallerCache(Cache("bad"), {{"b", "1"}});
  ExecuteSql(Cache("bad") + "packagemanager.db", "DROP TABLE COMPONENT;");
  ExpectInstallerFailure(CompileError(kComponentQuery, "no such table: COMPONENT"));
}

TEST_F(FaultMatrix, DatabaseHeldByAWritersExclusiveLockFailsAtOnce) {
  InstallerCache(Cache("bad"), {{"b", "1"}});
  const DatabaseWriter writer(Cache("bad") + "packagemanager.db",
                              "BEGIN EXCLUSIVE; INSERT INTO SETTINGS VALUES ('x', 'y');");
  const HangGuard guard(60);
  ExpectInstallerFailure(CompileError(kInstallDirQuery, "database is locked"));
}

TEST_F(FaultMatrix, CacheFolderThatDisappearsBetweenSearchAndRead) {
  // No real find can be timed to lose a folder right after printing it; this one runs the real
  // find, removes the folder and only then hands on what find printed.
  ToolDir tools;
  const std::string printed = tools.path() + "/printed";
  tools.Script("find", "'" + testsupport::FindTool("find") + "' \"$@\" >'" + printed +
                           "'\nstatus=$?\nrm -rf '" + Cache("bad") + "'\ncat '" + printed +
                           "'\nexit $status");
  const char* path = std::getenv("PATH");
  const ScopedEnv withWrapper("PATH", tools.path() + ":" + (path != nullptr ? path : ""));
  const std::string message = CannotOpen(Cache("bad"), "unable to open database file");
  InstallerCache(Cache("bad"), {{"b", "1"}});
  {
    const DpkgAdminDir admin({kRuntime});
    ExpectGoodProductDespite(Check(), message, true);
  }
  InstallerCache(Cache("bad"), {{"b", "1"}});
  const DpkgAdminDir admin({kOtherVendor});
  ExpectGoodProductDespite(Check(), message, false);
}

// A database swapped for a FIFO after the search would hold the run until a writer came.
TEST_F(FaultMatrix, DatabaseSwappedForAFifoAfterTheSearch) {
  InstallerCache(Cache("bad"), {{"b", "1"}});
  const std::string database = Cache("bad") + "packagemanager.db";
  const std::string saved = tree_ / "saved.db";
  std::filesystem::copy_file(database, saved);
  // The real find, then the swap, then what find printed; the next run's find first puts the
  // database back.
  ToolDir tools;
  const std::string printed = tools.path() + "/printed";
  tools.Script("find", "if [ -p '" + database + "' ]; then rm '" + database + "'; cp '" + saved +
                           "' '" + database + "'; fi\n'" + testsupport::FindTool("find") +
                           "' \"$@\" >'" + printed + "'\nstatus=$?\nrm '" + database +
                           "'\nmkfifo '" + database + "'\ncat '" + printed + "'\nexit $status");
  const char* path = std::getenv("PATH");
  const ScopedEnv withWrapper("PATH", tools.path() + ":" + (path != nullptr ? path : ""));
  const HangGuard guard(60);
  ExpectInstallerFailure(CannotOpen(Cache("bad"), "it is a FIFO, not a regular file"));
}

// Views are data too: texts too long to be an identifier, a version or a folder are dropped
// instead of being repeated into every product.
TEST_F(FaultMatrix, ViewsYieldingHugeTexts) {
  InstallerCache(Cache("bad"), {{"b", "1"}});
  ExecuteSql(Cache("bad") + "packagemanager.db",
             "DROP TABLE INSTALL_DIR; CREATE VIEW INSTALL_DIR AS"
             " SELECT printf('%.*c', 100000, 'x') AS PATH;"
             "INSERT INTO COMPONENT VALUES ('b', printf('%.*c', 100000, '1'), 'x');");
  ExpectProducts({"Title b", "Title g"});
  const DpkgAdminDir admin({kRuntime});
  EXPECT_EQ(Check().details["Title b"]["Path"], "");
}

// An installer tree moved to a larger disk, with a symbolic link left in its place.
TEST_F(FaultMatrix, SymbolicLinkAsTheInstallerRoot) {
  std::filesystem::create_symlink(root_, tree_ / "linked");
  plugin_.SetInstallerRoot(tree_ / "linked");
  ExpectProducts({"Title g"});
}

TEST_F(FaultMatrix, ThousandsOfDatabases) {
  constexpr int kDatabases = 2000;
  const std::string model = InstallerCache(tree_ / "model/", {{"p", "1"}}) + "packagemanager.db";
  std::vector<std::string> titles = {"Title g"};
  for (int i = 0; i < kDatabases; ++i) {
    const std::string name = "db" + std::to_string(i);
    titles.push_back("Product " + std::to_string(i));
    std::filesystem::create_directories(Cache(name));
    std::filesystem::copy_file(model, Cache(name) + "packagemanager.db");
    WriteManifest(Cache(name), "p", "1", VisibleManifest(titles.back()));
  }
  const DpkgAdminDir admin({kRuntime});
  const size_t descriptors = testsupport::OpenDescriptorCount();
  const HangGuard guard(300);
  const ReportSummary report = TimedCheck();
  std::vector<std::string> expected = Sorted(titles);
  expected.emplace_back(kRuntimeName);
  EXPECT_EQ(InstallerThenDpkg(report), expected);
  EXPECT_EQ(testsupport::OpenDescriptorCount(), descriptors);
}

// ---- Installer data as an ordinary user ----

namespace {

class FaultMatrixAsUser : public FaultMatrix {
 protected:
  void SetUp() override {
    if (geteuid() != 0) {
      GTEST_SKIP() << "running as another user needs root";
    }
    FaultMatrix::SetUp();
    account_ = testsupport::TestUserAccount();
    ASSERT_TRUE(account_) << "the test account zorvex-test is missing";
    OpenToEveryone(tree_.path());
  }

  // The report of a run as the test user, who may read the tree but write none of it.
  ReportSummary CheckAsUser(const DpkgAdminDir& admin) const {
    OpenToEveryone(admin.path());
    const testsupport::TestAccount user = *account_;
    return SummarizeComplete(testsupport::RunInChild([&] {
      testsupport::BecomeUser(user.uid, user.gid);
      return plugin_.RunCheck();
    }));
  }

  std::optional<testsupport::TestAccount> account_;
};

}  // namespace

// No process may start (fork fails with EAGAIN under RLIMIT_NPROC): every command is a failure
// that the message names, and the run is not taken for a machine without installer data or dpkg.
TEST_F(FaultMatrixAsUser, CommandsThatCannotStartAreFailures) {
  const DpkgAdminDir admin({kRuntime});
  OpenToEveryone(admin.path());
  const testsupport::TestAccount user = *account_;
  const ReportSummary report = SummarizeComplete(testsupport::RunInChild([&] {
    testsupport::BecomeUser(user.uid, user.gid);
    const rlimit one{1, 1};
    setrlimit(RLIMIT_NPROC, &one);
    return plugin_.RunCheck();
  }));
  const std::string notStarted = std::string(kWhichDpkg) + "could not be started.";
  EXPECT_EQ(report.information, std::string(kNoCaches) + "\n" + kCannotTell + notStarted);
  EXPECT_EQ(report.message.rfind(kFailedSources + "The command \"find -H ", 0), 0u)
      << report.message;
  EXPECT_NE(report.message.find(notStarted), std::string::npos) << report.message;
}

// Idle, the database is read as immutable; with a writer at work, its "-shm" (which the user may
// only read) is used read-only. Neither needs a file the user cannot create.
TEST_F(FaultMatrixAsUser, WalDatabaseInAFolderTheUserMayNotWrite) {
  InstallerCache(Cache("idle"), {{"i", "1"}});
  ExecuteSql(Cache("idle") + "packagemanager.db", "PRAGMA journal_mode = WAL;");
  InstallerCache(Cache("busy"), {{"b", "1"}});
  ExecuteSql(Cache("busy") + "packagemanager.db", "PRAGMA journal_mode = WAL;");
  const DatabaseWriter writer(Cache("busy") + "packagemanager.db",
                              "BEGIN IMMEDIATE; INSERT INTO SETTINGS VALUES ('x', 'y');");
  const HangGuard guard(60);
  const DpkgAdminDir admin({kRuntime});
  const ReportSummary report = CheckAsUser(admin);
  EXPECT_EQ(report.command, kBothCommand);
  EXPECT_EQ(InstallerThenDpkg(report),
            (std::vector<std::string>{"Title b", "Title g", "Title i", kRuntimeName}));
  EXPECT_EQ(testsupport::DirectoryEntries(Cache("idle")),
            (std::vector<std::string>{"packagemanager.db", "packagescache"}));
}

// find cannot read a root-only folder and ends with status 1: what it printed is still read.
TEST_F(FaultMatrixAsUser, RootOnlyFolderInTheInstallerTree) {
  ASSERT_EQ(mkdir((root_ + "/root-only").c_str(), 0700), 0);
  const DpkgAdminDir admin({kRuntime});
  const ReportSummary report = CheckAsUser(admin);
  EXPECT_EQ(report.command, kBothCommand);
  EXPECT_EQ(report.products, (std::vector<std::string>{"Title g", kRuntimeName}));
}

// A "-wal" that is a FIFO would hold an ordinary user's run for ever.
TEST_F(FaultMatrixAsUser, WalThatIsAFifo) {
  InstallerCache(Cache("bad"), {{"b", "1"}});
  const std::string database = Cache("bad") + "packagemanager.db";
  ExecuteSql(database, "PRAGMA journal_mode = WAL;");
  ASSERT_EQ(mkfifo((database + "-wal").c_str(), 0666), 0);
  std::ofstream(database + "-shm").put('\0');
  const HangGuard guard(60);
  const DpkgAdminDir admin({kOtherVendor});
  ExpectGoodProductDespite(CheckAsUser(admin),
                           CannotOpen(Cache("bad"), "its -wal file is a FIFO, not a regular file"),
                           false);
}

TEST_F(FaultMatrixAsUser, DatabaseTheUserMayNotRead) {
  InstallerCache(Cache("bad"), {{"b", "1"}});
  ASSERT_EQ(chmod((Cache("bad") + "packagemanager.db").c_str(), 0600), 0);
  const std::string message = CannotOpen(Cache("bad"), "unable to open database file");
  {
    const DpkgAdminDir admin({kRuntime});
    ExpectGoodProductDespite(CheckAsUser(admin), message, true);
  }
  const DpkgAdminDir admin({kOtherVendor});
  ExpectGoodProductDespite(CheckAsUser(admin), message, false);
}

// ---- Manifests ----

TEST_F(FaultMatrix, MissingManifest) {
  const std::string manifest = BadDatabaseWithManifest();
  ExpectInstallerFailure(ManifestFailure("Cannot obtain length of file ", manifest));
}

TEST_F(FaultMatrix, EmptyManifest) {
  const std::string manifest = BadDatabaseWithManifest();
  const std::ofstream empty(manifest);
  ExpectInstallerFailure(ManifestFailure("Cannot read file ", manifest));
}

TEST_F(FaultMatrix, ManifestThatIsNotJsonLeavesOnlyItsComponentOut) {
  const std::string manifest = BadDatabaseWithManifest();
  std::ofstream(manifest) << "visible: true\n";
  ExpectProducts({"Title a", "Title g"});
}

TEST_F(FaultMatrix, ManifestThatIsAFolder) {
  const std::string manifest = BadDatabaseWithManifest();
  std::filesystem::create_directory(manifest);
  ExpectInstallerFailure(ManifestFailure("Cannot read file ", manifest));
}

TEST_F(FaultMatrix, ManifestThatIsAFifoWithoutWriter) {
  const std::string manifest = BadDatabaseWithManifest();
  ASSERT_EQ(mkfifo(manifest.c_str(), 0644), 0);
  const HangGuard guard(60);
  ExpectInstallerFailure(ManifestFailure("Cannot read file ", manifest));
}

TEST_F(FaultMatrix, ManifestThatIsASymbolicLinkLoop) {
  const std::string manifest = BadDatabaseWithManifest();
  std::filesystem::create_symlink("loop", manifest);
  std::filesystem::create_symlink("manifest.json",
                                  std::filesystem::path(manifest).parent_path() / "loop");
  ExpectInstallerFailure(ManifestFailure("Cannot obtain length of file ", manifest));
}

TEST_F(FaultMatrix, ManifestOverSixteenMegabytes) {
  const std::string manifest = BadDatabaseWithManifest();
  std::ofstream(manifest) << R"({"padding":")" << std::string(16u << 20, 'x')
                          << R"(","visible":true,"display":{"localized":[{"language":"en-us",)"
                          << R"("title":"Title b","description":"Big","version":"16"}]}})";
  ExpectInstallerFailure("Cannot obtain human readable product names: File \"" + manifest +
                         "\" is larger than 16 MiB ");
}

// json-c refuses texts nested deeper than 32 levels: such a manifest reads as one that is not
// JSON, and nothing recurses without bound.
TEST_F(FaultMatrix, DeeplyNestedManifestLeavesOnlyItsComponentOut) {
  const std::string manifest = BadDatabaseWithManifest();
  std::ofstream(manifest) << R"({"visible":true,"display":{"localized":[{"title":"Title b"}]},)"
                          << R"("deep":)" << std::string(100000, '[') << std::string(100000, ']')
                          << "}";
  ExpectProducts({"Title a", "Title g"});
}

TEST_F(FaultMatrix, ManifestMembersOfOtherJsonTypes) {
  const std::string manifest = BadDatabaseWithManifest();
  std::ofstream(manifest) << R"({"visible":"yes","display":{"localized":[)"
                          << R"({"language":"en-us","title":42,"description":{"k":[1]},)"
                          << R"("version":null}]}})";
  ExpectProducts({"42", "Title a", "Title g"});
  const DpkgAdminDir admin({kRuntime});
  const std::map<std::string, std::string> details = Check().details["42"];
  EXPECT_EQ(details.at("Description"), R"({ "k": [ 1 ] })");
  EXPECT_EQ(details.at("Version"), "");
}

// Bytes that are not UTF-8 reach the report unchanged, as every byte above 127 does; json-c reads
// the report back, though a reader that insists on UTF-8 would not.
TEST_F(FaultMatrix, ManifestTextsThatAreNotUtf8PassUnchanged) {
  const std::string manifest = BadDatabaseWithManifest();
  const std::string title = "Caf\xe9 \xff\xfe \xc0\xaf";
  std::ofstream(manifest) << R"({"visible":true,"display":{"localized":[{"language":"en-us",)"
                          << "\"title\":\"" << title << "\",\"version\":\"\xed\xa0\x80\"}]}}";
  ExpectProducts({"Title a", title, "Title g"});
}

// The file's bytes go to the parser as a C string: a NUL ends the text there.
TEST_F(FaultMatrix, ManifestWithNulBytes) {
  const std::string manifest = BadDatabaseWithManifest();
  const std::string visible = VisibleManifest("Title b");
  std::ofstream(manifest, std::ios::binary) << visible << std::string(1, '\0') << "garbage";
  ExpectProducts({"Title a", "Title b", "Title g"});
  std::ofstream(manifest, std::ios::binary | std::ios::trunc)
      << R"({"visible":true,"display":{"localized":[{"title":"Title)" << std::string(1, '\0')
      << R"( b"}]}})";
  ExpectProducts({"Title a", "Title g"});
}

// ---- Commands ----

// The real dpkg lists a status file of 100,000 packages.
TEST_F(FaultMatrix, DpkgListingOfAHundredThousandPackages) {
  constexpr int kPackages = 100000;
  constexpr int kDescriptions = 1000;
  const DpkgAdminDir admin(testsupport::ManyPackages(kPackages, kDescriptions));
  const HangGuard guard(600);
  const ReportSummary report = TimedCheck();
  EXPECT_EQ(report.command, kBothCommand);
  ASSERT_EQ(report.products.size(), kDescriptions + 1u);
  EXPECT_EQ(report.products.front(), "Title g");
  // Each description gathers every thousandth package, in dpkg's order, which is by name.
  std::vector<std::string> names;
  for (int i = 7; i < kPackages; i += kDescriptions) {
    names.push_back("corva-zorvex-part" + std::to_string(i));
  }
  std::sort(names.begin(), names.end());
  std::string packages;
  for (const std::string& name : names) {
    packages += (packages.empty() ? "" : ", ") + name;
  }
  EXPECT_EQ(report.details.at("Zorvex part 7 ").at("Packages"), packages);
}

// No rpm database of 100,000 packages can be built in a test's time (every package is built by
// rpmbuild first), so this case gives the query's text to the listing step itself.
TEST(FaultMatrixListing, RpmListingOfAHundredThousandPackages) {
  std::string listing;
  for (int i = 0; i < 100000; ++i) {
    listing += "corva-zorvex-part" + std::to_string(i) + "\t1." + std::to_string(i) +
               "\tx86_64\tZorvex part " + std::to_string(i % 1000) + "\t:Corva Corporation\n";
  }
  std::string text;
  ASSERT_TRUE(RpmChecker::ParseListing(listing, text));
  json_object* map = json_tokener_parse(text.c_str());
  ASSERT_TRUE(json_object_is_type(map, json_type_object)) << text.substr(0, 200);
  EXPECT_EQ(json_object_object_length(map), 1000);
  json_object_put(map);
}

// A probe that cannot tell is not a machine without dpkg: killed, the installer's products stand
// with a message naming the probe and status 3; without them, the dpkg source says the same.
TEST_F(FaultMatrix, WhichKilledBySignal) {
  const DpkgAdminDir admin({kRuntime});
  const ToolsOnPath path({"dpkg", "dpkg-query", "grep", "find"}, "kill -KILL $$");
  const std::string killed = std::string(kWhichDpkg) + "was ended by signal 9.";
  const ReportSummary report = Check();
  EXPECT_EQ(report.command, kInstallerCommand);
  EXPECT_EQ(report.products, std::vector<std::string>{"Title g"});
  EXPECT_EQ(report.message, kFailedSources + killed);
  EXPECT_EQ(plugin_.RunMain().status, 3);
  plugin_.SetInstallerRoot(tree_ / "absent");
  const ReportSummary nothing = Check();
  EXPECT_EQ(nothing.information, std::string(kNoCaches) + "\n" + kCannotTell + killed);
  EXPECT_EQ(nothing.message, kFailedSources + killed);
}

TEST_F(FaultMatrix, MissingWhichLeavesTheProbeToTheShell) {
  const DpkgAdminDir admin({kRuntime});
  const ToolsOnPath path({"dpkg", "dpkg-query", "grep", "find"});
  const ReportSummary report = Check();
  EXPECT_EQ(report.command, kBothCommand);
  EXPECT_EQ(report.products, (std::vector<std::string>{"Title g", kRuntimeName}));
}

TEST_F(FaultMatrix, PathWithNeitherPackageManager) {
  const ToolsOnPath path({"which", "grep", "find"});
  ExpectNoPackageManager();
}

// ---- Paths ----

// Blanks, quotes, line feeds and the shell's metacharacters in the searched folder and in a cache
// folder below it stay part of the names; nothing in them runs.
TEST_F(FaultMatrix, PathsWithSpacesQuotesLineFeedsAndMetacharacters) {
  const std::string odd = "a b 'q' \"dq\" \n$(touch ran) `touch ran` ;|&<>*?[x]#~%41\\ !{c,d}";
  root_ = tree_.MakeDir(odd);
  InstallerCache(Cache(odd), {{"o", "1"}});
  InstallerCache(Cache("good"), {{"g", "1"}});
  plugin_.SetInstallerRoot(root_);
  ExpectProducts({"Title g", "Title o"});
  EXPECT_FALSE(std::filesystem::exists("ran"));
  EXPECT_FALSE(std::filesystem::exists(tree_ / "ran"));
  const DpkgAdminDir admin({kRuntime});
  EXPECT_EQ(Check().details["Title o"]["Path"], testsupport::kTestInstallDir);
}
