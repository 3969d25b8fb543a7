// The installer source on real SQLite databases, real manifests on disk and the real find.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

#include "BInstallerChecker.h"
#include "TestSupport.h"

using testsupport::CreateInstallerDatabase;
using testsupport::DatabaseWriter;
using testsupport::DirectoryEntries;
using testsupport::ExecuteSql;
using testsupport::HangGuard;
using testsupport::InstallerCache;
using testsupport::InstallerLocations;
using testsupport::InstallerMap;
using testsupport::InstallerProduct;
using testsupport::kTestInstallDir;
using testsupport::ListedProduct;
using testsupport::LocalizedEntry;
using testsupport::ManifestJson;
using testsupport::ReadAllDatabases;
using testsupport::SplicedInstallerMaps;
using testsupport::TempDir;
using testsupport::VisibleManifest;
using testsupport::WriteManifest;

namespace {

const char* const kNoCaches = "Cannot obtain paths to package manager databases.";

std::string CompileError(const std::string& statement, const std::string& reason) {
  return "Error while compiling SQL statement \"" + statement + "\": " + reason + "\n";
}

// The message of a database whose reading one of its limits stopped.
std::string StoppedMessage(const std::string& cache, const std::string& query,
                           const std::string& why) {
  return "Reading of Zivaro Zizovirad database " + cache + "packagemanager.db stopped: \"" + query +
         "\" " + why + ".\n";
}

const char* const kInstallDirQuery = "SELECT PATH FROM INSTALL_DIR;";
const char* const kComponentQuery = "SELECT ID, VERSION FROM COMPONENT ORDER BY ID, VERSION;";

// Overwrites the first bytes of the b-tree page that holds `table` (the schema's page when
// `table` is empty), leaving the file a valid database whose reads of that table fail.
void CorruptTable(const std::string& database, const std::string& table) {
  long page = 1;
  long pageSize = 4096;
  {
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    const std::string query =
        "SELECT (SELECT page_size FROM pragma_page_size), (SELECT rootpage FROM sqlite_schema "
        "WHERE name = '" +
        table + "');";
    ASSERT_EQ(sqlite3_prepare_v2(db, query.c_str(), -1, &statement, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    pageSize = sqlite3_column_int(statement, 0);
    if (!table.empty()) {
      page = sqlite3_column_int(statement, 1);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
  }
  // Page 1 begins with the 100-byte file header.
  const long offset = (page - 1) * pageSize + (page == 1 ? 100 : 0);
  std::fstream file(database, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(offset);
  file.write("\xff\xff\xff\xff\xff\xff\xff\xff", 8);
  ASSERT_TRUE(file.good());
}

// A system-wide tree in a temp folder; each test builds its databases in it.
class InstallerSource : public ::testing::Test {
 protected:
  TempDir tree;
  InstallerLocations locations{tree.path()};

  // The cache directory `relative` of the tree, with its final "/".
  std::string Cache(const std::string& relative) const { return tree / relative + "/"; }

  // A database in `relative` with the given components, each visible under "Title <id>" unless
  // the test writes the manifests itself.
  std::string Database(const std::string& relative,
                       const std::vector<testsupport::InstallerComponent>& components,
                       bool writeManifests = true) const {
    if (writeManifests) {
      return InstallerCache(Cache(relative), components);
    }
    CreateInstallerDatabase(Cache(relative), kTestInstallDir, components);
    return Cache(relative);
  }

  // Reads the database of `cache` alone; returns "true: " or "false: " and the text.
  static std::string ReadOne(const std::string& cache) {
    std::string text;
    const bool read = BInstallerChecker::GetAppInfo(cache + "packagemanager.db", cache, text);
    return (read ? "true: " : "false: ") + text;
  }

  static std::string ReadAll(const std::vector<std::string>& caches) {
    return ReadAllDatabases(caches);
  }
};

std::string Ok(const std::string& text) { return "true: " + text; }
std::string Failed(const std::string& text) { return "false: " + text; }

}  // namespace

// Reading one database.

TEST_F(InstallerSource, ListsVisibleComponentsInIdVersionOrderWithTheirManifestTexts) {
  const std::string cache = Database("db", {{"zeta", "3.0"}, {"alpha", "2"}}, false);
  ExecuteSql(cache + "packagemanager.db",
             "INSERT INTO COMPONENT VALUES ('hidden', '1', 'x'), ('unset', '1', 'x'), "
             "('alpha', '10', 'x');");
  WriteManifest(cache, "zeta", "3.0",
                VisibleManifest("Zeta / Suite", "Tools \"quoted\"", "3 beta"));
  WriteManifest(cache, "alpha", "2", VisibleManifest("Alpha 2"));
  WriteManifest(cache, "alpha", "10", VisibleManifest("Alpha 10"));
  WriteManifest(cache, "hidden", "1", ManifestJson(false, {{"en-us", "Hidden", "d", "v"}}));
  WriteManifest(cache, "unset", "1", R"({ "display": { "localized": [ { "title": "Unset" } ] } })");
  // Versions sort as texts: "10" before "2".
  EXPECT_EQ(ReadOne(cache),
            Ok(InstallerMap(
                {ListedProduct("Alpha 10", "alpha", "10"), ListedProduct("Alpha 2", "alpha", "2"),
                 ListedProduct("Zeta / Suite", "zeta", "3.0", "Tools \"quoted\"", "3 beta")})));
}

TEST_F(InstallerSource, EnUsEntryIsPreferredTextByText) {
  const std::string cache = Database("db", {{"a", "1"}, {"b", "1"}, {"c", "1"}, {"d", "1"}}, false);
  WriteManifest(cache, "a", "1",
                ManifestJson(true, {{"fr", "Titre", "Desc fr", "v fr"},
                                    {"en-us", "Title", "Desc en", "v en"},
                                    {"de", "Titel", "Desc de", "v de"}}));
  WriteManifest(cache, "b", "1",
                ManifestJson(true, {{"fr", "Titre b", "Desc fr", "v fr"},
                                    {"de", "Titel b", "Desc de", "v de"}}));
  WriteManifest(cache, "c", "1",
                ManifestJson(true, {{"en-us", "Title c", std::nullopt, "v en"},
                                    {"fr", "Titre c", "Desc fr", "v fr"}}));
  // Of two "en-us" entries the last wins; the language is compared byte for byte.
  WriteManifest(cache, "d", "1",
                ManifestJson(true, {{"en-us", "First d", "First", "1"},
                                    {"EN-US", "Upper d", "Upper", "2"},
                                    {std::nullopt, "Unnamed d", "Unnamed", "3"},
                                    {"en-us", "Last d", "Last", "4"}}));
  EXPECT_EQ(ReadOne(cache), Ok(InstallerMap({ListedProduct("Title", "a", "1", "Desc en", "v en"),
                                             ListedProduct("Titre b", "b", "1", "Desc fr", "v fr"),
                                             ListedProduct("Title c", "c", "1", "Desc fr", "v en"),
                                             ListedProduct("Last d", "d", "1", "Last", "4")})));
}

TEST_F(InstallerSource, SharedTitleKeepsTheFirstPlaceAndTheLastComponent) {
  const std::string cache = Database("db", {{"a", "1"}, {"b", "1"}, {"c", "1"}}, false);
  WriteManifest(cache, "a", "1", VisibleManifest("Same", "from a"));
  WriteManifest(cache, "b", "1", VisibleManifest("Other"));
  WriteManifest(cache, "c", "1", VisibleManifest("Same", "from c"));
  EXPECT_EQ(
      ReadOne(cache),
      Ok(InstallerMap({ListedProduct("Same", "c", "1", "from c"), ListedProduct("Other", "b")})));
}

TEST_F(InstallerSource, OnlyTheFirstInstallDirRowIsUsed) {
  const std::string cache = Database("db", {{"a", "1"}, {"b", "1"}});
  ExecuteSql(cache + "packagemanager.db",
             "INSERT INTO INSTALL_DIR VALUES ('/second', 'x'), ('/third', 'x');");
  EXPECT_EQ(ReadOne(cache),
            Ok(InstallerMap({ListedProduct("Title a", "a"), ListedProduct("Title b", "b")})));
}

TEST_F(InstallerSource, EmptyComponentTableGivesTheEmptyMap) {
  EXPECT_EQ(ReadOne(Database("db", {})), Ok("{ }"));
}

TEST_F(InstallerSource, NullsSkipTheComponentOrGiveEmptyTexts) {
  const std::string cache = Database("db", {{"kept", "1"}});
  // Columns without a type keep numbers as numbers, which arrive as SQLite's texts of them.
  ExecuteSql(cache + "packagemanager.db",
             "UPDATE INSTALL_DIR SET PATH = NULL; DROP TABLE COMPONENT;"
             "CREATE TABLE COMPONENT (ID, VERSION);"
             "INSERT INTO COMPONENT VALUES ('kept', '1'), (NULL, '1'), ('noversion', NULL),"
             " (7, 2.50);");
  WriteManifest(cache, "7", "2.5", VisibleManifest("Numeric"));
  InstallerProduct kept = ListedProduct("Title kept", "kept");
  InstallerProduct numeric = ListedProduct("Numeric", "7", "2.5");
  kept.path = numeric.path = "";
  EXPECT_EQ(ReadOne(cache), Ok(InstallerMap({numeric, kept})));
}

// A component whose identifier or version would lead its manifest path out of its cache, or
// whose text is too long to name anything, is skipped as a NULL one is; so is a folder too long.
TEST_F(InstallerSource, ComponentsThatNameNoManifestInTheirCacheAreSkipped) {
  const std::string cache = Database("db", {{"kept", "1"}});
  const std::string longText(4097, 'x');
  ExecuteSql(cache + "packagemanager.db",
             "INSERT INTO COMPONENT VALUES ('../escape', '1', 'x'), ('.', '1', 'x'),"
             " ('..', '1', 'x'), ('kept', '1/../../../escape,v=1', 'x'), ('" +
                 longText + "', '1', 'x'), ('kept', '" + longText + "', 'x');");
  // Manifests where the escaping names lead: read today, they would list products.
  WriteManifest(cache, ".", "1", VisibleManifest("Dot"));
  WriteManifest(cache, "..", "1", VisibleManifest("Dot dot"));
  WriteManifest(cache + "packagescache/", "escape", "1", VisibleManifest("Escaped"));
  WriteManifest(cache + "packagescache/kept,v=1/../", "escape", "1", VisibleManifest("Escaped"));
  EXPECT_EQ(ReadOne(cache), Ok(InstallerMap({ListedProduct("Title kept", "kept")})));

  const std::string longest(4096, '/');
  for (const std::string& path : {longest, longest + "/"}) {
    ExecuteSql(cache + "packagemanager.db", "UPDATE INSTALL_DIR SET PATH = '" + path + "';");
    InstallerProduct kept = ListedProduct("Title kept", "kept");
    kept.path = path.size() == longest.size() ? path : "";
    EXPECT_EQ(ReadOne(cache), Ok(InstallerMap({kept}))) << path.size();
  }
}

TEST_F(InstallerSource, ManifestTextsThatAreMissingOrOfOtherTypes) {
  const std::string cache = Database("db",
                                     {{"a", "1"},
                                      {"b", "1"},
                                      {"c", "1"},
                                      {"d", "1"},
                                      {"e", "1"},
                                      {"f", "1"},
                                      {"g", "1"},
                                      {"h", "1"}},
                                     false);
  // No "localized" array: the product is listed under its identifier.
  WriteManifest(cache, "a", "1", R"({ "visible": true, "display": { "localized": { "0": 1 } } })");
  WriteManifest(cache, "b", "1", R"({ "visible": 1, "display": [] })");
  // Texts of other JSON types are their JSON texts; entries that are no objects supply nothing.
  WriteManifest(cache, "c", "1",
                R"({ "visible": "yes", "display": { "localized": [ 5, null,
                   { "language": ["en-us"], "title": 12, "description": { "x": [true] },
                     "version": false } ] } })");
  WriteManifest(cache, "d", "1", R"({ "visible": true, "display": { "localized": [
                   { "language": "en-us", "title": null, "description": "only" } ] } })");
  // Not visible: an object, zero, the empty text, a manifest that is no object.
  WriteManifest(cache, "e", "1", R"({ "visible": {}, "display": { "localized": [] } })");
  WriteManifest(cache, "f", "1", R"({ "visible": 0 })");
  WriteManifest(cache, "g", "1", R"({ "visible": "" })");
  WriteManifest(cache, "h", "1", R"([ { "visible": true } ])");
  // A byte-order mark, which RFC 8259 lets a reader ignore, is skipped.
  ExecuteSql(cache + "packagemanager.db", "INSERT INTO COMPONENT VALUES ('i', '1', 'x');");
  WriteManifest(cache, "i", "1", "\xEF\xBB\xBF" + VisibleManifest("Marked"));
  EXPECT_EQ(
      ReadOne(cache),
      Ok(InstallerMap({ListedProduct("a", "a", "1", "", ""), ListedProduct("b", "b", "1", "", ""),
                       ListedProduct("12", "c", "1", "{ \"x\": [ true ] }", "false"),
                       ListedProduct("d", "d", "1", "only", ""), ListedProduct("Marked", "i")})));
}

TEST_F(InstallerSource, ManifestThatIsNotJsonLeavesOnlyItsComponentOut) {
  const std::string cache = Database("db", {{"a", "1"}, {"b", "1"}});
  WriteManifest(cache, "a", "1", "{ \"visible\": true, ");
  EXPECT_EQ(ReadOne(cache), Ok(InstallerMap({ListedProduct("Title b", "b")})));
}

TEST_F(InstallerSource, ManifestOfSixteenMegabytesIsReadWholeAndALargerOneFails) {
  const std::string cache = Database("db", {{"big", "1"}}, false);
  const size_t frame = VisibleManifest("Big", "").size();
  const std::string description((size_t{16} << 20) - frame, 'd');
  const std::string manifest =
      WriteManifest(cache, "big", "1", VisibleManifest("Big", description));
  // Compared without printing 16 MiB on failure.
  EXPECT_TRUE(ReadOne(cache) == Ok(InstallerMap({ListedProduct("Big", "big", "1", description)})));
  WriteManifest(cache, "big", "1", VisibleManifest("Big", description + "d"));
  EXPECT_EQ(ReadOne(cache), Failed("Cannot obtain human readable product names: File \"" +
                                   manifest + "\" is larger than 16 MiB \n"));
}

TEST_F(InstallerSource, UnreadableManifestFailsTheWholeDatabase) {
  const std::string cache =
      Database("db", {{"a", "1"}, {"b", "1"}, {"c", "1"}, {"d", "1"}, {"e", "1"}});
  const std::string dir = cache + "packagescache/";
  const std::string device = tree / "null-device";
  ASSERT_EQ(mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  const int opens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(inotify_add_watch(opens, device.c_str(), IN_OPEN), 0);
  ASSERT_EQ(unlink((dir + "e,v=1/manifest.json").c_str()), 0);
  std::filesystem::create_symlink(device, dir + "e,v=1/manifest.json");
  struct Case {
    std::string id;
    std::string reason;
  } const cases[] = {
      {"a", "Cannot read file "},              // empty
      {"b", "Cannot read file "},              // a folder
      {"c", "Cannot read file "},              // a FIFO
      {"d", "Cannot obtain length of file "},  // missing
      {"e", "Cannot read file "},              // a link to a device, which is never opened
  };
  WriteManifest(cache, "a", "1", "");
  ASSERT_EQ(unlink((dir + "b,v=1/manifest.json").c_str()), 0);
  ASSERT_EQ(mkdir((dir + "b,v=1/manifest.json").c_str(), 0755), 0);
  ASSERT_EQ(unlink((dir + "c,v=1/manifest.json").c_str()), 0);
  ASSERT_EQ(mkfifo((dir + "c,v=1/manifest.json").c_str(), 0644), 0);
  ASSERT_EQ(unlink((dir + "d,v=1/manifest.json").c_str()), 0);
  const HangGuard guard(10);
  for (const Case& broken : cases) {
    const std::string manifest = dir + broken.id + ",v=1/manifest.json";
    EXPECT_EQ(ReadOne(cache), Failed("Cannot obtain human readable product names: " +
                                     broken.reason + "\"" + manifest + "\" \n"));
    // Once mended, the next component is the first broken one; earlier products are dropped.
    std::filesystem::remove_all(manifest);
    WriteManifest(cache, broken.id, "1", VisibleManifest("Title " + broken.id));
  }
  EXPECT_EQ(ReadOne(cache),
            Ok(InstallerMap({ListedProduct("Title a", "a"), ListedProduct("Title b", "b"),
                             ListedProduct("Title c", "c"), ListedProduct("Title d", "d"),
                             ListedProduct("Title e", "e")})));
  char event[4096];
  EXPECT_LT(read(opens, event, sizeof event), 0) << "the device was opened";
  close(opens);
}

namespace {

// One way of damaging a database and what reading it must then give.
struct Damage {
  const char* folder;
  std::function<void(const std::string& database)> apply;
  std::string expected;
};

}  // namespace

TEST_F(InstallerSource, DatabasesThatCannotBeReadGiveTheirMessages) {
  const std::string missing = Cache("missing");
  EXPECT_EQ(ReadOne(missing), Failed("Cannot open Zivaro Zizovirad database " + missing +
                                     "packagemanager.db: unable to open database file\n"));
  const std::string emptyInstallDir =
      "INSTALL_DIR is empty. Cannot obtain path to Zorvex package.\n";
  const std::string malformed = CompileError(kInstallDirQuery, "database disk image is malformed");
  const Damage damages[] = {
      {"text",
       [](const std::string& db) { std::ofstream(db, std::ios::trunc) << "# not a database\n"; },
       CompileError(kInstallDirQuery, "file is not a database")},
      {"truncated", [](const std::string& db) { ASSERT_EQ(truncate(db.c_str(), 50), 0); },
       malformed},
      {"schema", [](const std::string& db) { CorruptTable(db, ""); }, malformed},
      {"no-install-dir", [](const std::string& db) { ExecuteSql(db, "DROP TABLE INSTALL_DIR;"); },
       CompileError(kInstallDirQuery, "no such table: INSTALL_DIR")},
      {"no-component", [](const std::string& db) { ExecuteSql(db, "DROP TABLE COMPONENT;"); },
       CompileError(kComponentQuery, "no such table: COMPONENT")},
      {"empty-install-dir",
       [](const std::string& db) { ExecuteSql(db, "DELETE FROM INSTALL_DIR;"); }, emptyInstallDir},
      {"corrupt-install-dir", [](const std::string& db) { CorruptTable(db, "INSTALL_DIR"); },
       emptyInstallDir},
  };
  for (const Damage& damage : damages) {
    const std::string cache = Database(damage.folder, {{"a", "1"}});
    damage.apply(cache + "packagemanager.db");
    EXPECT_EQ(ReadOne(cache), Failed(damage.expected)) << damage.folder;
  }
}

// A step that fails is no end of the rows; nor does the memory budget depend on SQLite's own count,
// which the host may have switched off (it then stood still while a view took 1.5 GB).
TEST_F(InstallerSource, FailingStepsAndSpentMemoryFailTheirDatabasesSayingSo) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer maps terabytes of shadow memory: an address-space limit is not "
                  "testable here";
#endif
  const std::string corrupt = Database("corrupt", {{"a", "1"}});
  CorruptTable(corrupt + "packagemanager.db", "COMPONENT");
  const std::string heavy = Database("heavy", {});
  ExecuteSql(heavy + "packagemanager.db",
             "DROP TABLE COMPONENT; CREATE VIEW COMPONENT AS WITH RECURSIVE n(x) AS (SELECT 1 "
             "UNION ALL SELECT x + 1 FROM n) SELECT printf('%.*c', 100000, 'x') || x AS ID, "
             "'1' AS VERSION FROM n;");
  const HangGuard guard(60);
  for (const auto& [cache, why] :
       {std::pair{corrupt, std::string("failed: database disk image is malformed")},
        std::pair{heavy, std::string("needs more work than one database may take")}}) {
    const std::string read = testsupport::RunInChild([&cache = cache] {
      sqlite3_shutdown();
      sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
      sqlite3_initialize();
      // Room for the budget, not for what the view would take without it.
      const rlimit memory{size_t{1} << 30, size_t{1} << 30};
      setrlimit(RLIMIT_AS, &memory);
      return ReadOne(cache);
    });
    EXPECT_EQ(read, Failed(StoppedMessage(cache, kComponentQuery, why)));
  }
}

// A schema can make a query endless (a view over a recursive common table expression) or build
// values of any size; the reading's limits stop it, and the database fails saying so.
TEST_F(InstallerSource, ViewsStoppedByTheReadingsLimitsFailTheirDatabasesSayingSo) {
  const char* const kEndless =
      "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) SELECT x AS ";
  const std::string kTooMuchWork = "needs more work than one database may take";
  const HangGuard guard(60);
  const std::string components = Database("components", {});
  ExecuteSql(components + "packagemanager.db",
             std::string("DROP TABLE COMPONENT; CREATE VIEW COMPONENT AS ") + kEndless +
                 "ID, x AS VERSION FROM n;");
  const std::string installDir = Database("install-dir", {{"a", "1"}});
  ExecuteSql(installDir + "packagemanager.db",
             std::string("DROP TABLE INSTALL_DIR; CREATE VIEW INSTALL_DIR AS ") + kEndless +
                 "PATH FROM n ORDER BY PATH;");
  const std::string huge = Database("huge", {{"a", "1"}});
  ExecuteSql(huge + "packagemanager.db",
             "DROP TABLE INSTALL_DIR; CREATE VIEW INSTALL_DIR AS "
             "SELECT replace(hex(zeroblob(600000)), '0', 'x') AS PATH;");
  for (const auto& [cache, query, why] :
       {std::tuple{components, kComponentQuery, kTooMuchWork},
        std::tuple{installDir, kInstallDirQuery, kTooMuchWork},
        std::tuple{huge, kInstallDirQuery, std::string("meets a value larger than 1 MiB")}}) {
    EXPECT_EQ(ReadOne(cache), Failed(StoppedMessage(cache, query, why)));
  }
}

// A FIFO would hold the reading until a writer came; a directory or a FIFO beside the database
// in place of its log or shared memory is refused as well, at once.
TEST_F(InstallerSource, DatabaseFilesThatAreNotRegularFailAtOnce) {
  const HangGuard guard(10);
  const std::string fifo = Cache("fifo");
  std::filesystem::create_directories(fifo);
  ASSERT_EQ(mkfifo((fifo + "packagemanager.db").c_str(), 0644), 0);
  const std::string folder = Cache("folder");
  std::filesystem::create_directories(folder + "packagemanager.db");
  const std::string wal = Database("wal", {{"a", "1"}});
  ExecuteSql(wal + "packagemanager.db", "PRAGMA journal_mode = WAL;");
  ASSERT_EQ(mkfifo((wal + "packagemanager.db-wal").c_str(), 0644), 0);
  tree.Write("wal/packagemanager.db-shm", "");
  const std::string shm = Database("shm", {{"a", "1"}});
  std::filesystem::create_directories(shm + "packagemanager.db-shm");
  // SQLite's hot-journal check opens the journal of any database it reads.
  const std::string journal = Database("journal", {{"a", "1"}});
  ASSERT_EQ(mkfifo((journal + "packagemanager.db-journal").c_str(), 0644), 0);
  for (const auto& [cache, reason] : {std::pair{fifo, "it is a FIFO, not a regular file"},
                                      std::pair{folder, "it is a directory, not a regular file"},
                                      std::pair{wal, "its -wal file is a FIFO, not a regular file"},
                                      std::pair{shm,
                                                "its -shm file is a directory, not a regular "
                                                "file"},
                                      std::pair{journal,
                                                "its -journal file is a FIFO, not a regular "
                                                "file"}}) {
    EXPECT_EQ(ReadOne(cache), Failed("Cannot open Zivaro Zizovirad database " + cache +
                                     "packagemanager.db: " + reason + "\n"));
  }
}

TEST_F(InstallerSource, DatabaseLockedByAWriterFailsAtOnceAndOthersAreRead) {
  const std::string locked = Database("locked", {{"a", "1"}});
  const std::string free = Database("free", {{"b", "1"}});
  const DatabaseWriter writer(locked + "packagemanager.db",
                              "BEGIN EXCLUSIVE; INSERT INTO SETTINGS VALUES ('x', 'y');");
  const HangGuard guard(10);
  EXPECT_EQ(ReadAll({locked, free}), Failed(InstallerMap({ListedProduct("Title b", "b")}) +
                                            CompileError(kInstallDirQuery, "database is locked")));
}

TEST_F(InstallerSource, WriteAheadLogDatabasesAreReadWithoutLeavingFilesBehind) {
  // A folder name that a URI would read otherwise.
  const std::string idle = Database("wal ?#%41 'q'", {{"a", "1"}});
  ExecuteSql(idle + "packagemanager.db", "PRAGMA journal_mode = WAL;");
  const std::vector<std::string> before = DirectoryEntries(idle);
  ASSERT_EQ(before, (std::vector<std::string>{"packagemanager.db", "packagescache"}));
  EXPECT_EQ(ReadOne(idle), Ok(InstallerMap({ListedProduct("Title a", "a")})));
  EXPECT_EQ(DirectoryEntries(idle), before);

  // With a writer at work the reader shares its log and sees what was committed.
  const std::string busy = Database("busy", {{"b", "1"}});
  ExecuteSql(busy + "packagemanager.db", "PRAGMA journal_mode = WAL;");
  WriteManifest(busy, "c", "1", VisibleManifest("Title c"));
  const DatabaseWriter writer(busy + "packagemanager.db",
                              "BEGIN IMMEDIATE; INSERT INTO COMPONENT VALUES ('c', '1', 'x');");
  const HangGuard guard(10);
  EXPECT_EQ(ReadOne(busy), Ok(InstallerMap({ListedProduct("Title b", "b")})));
}

// A writer that died leaves "-wal" and "-shm"; with the log removed since, the "-shm" alone must
// not lead the reader to create a new log.
TEST_F(InstallerSource, SharedMemoryLeftWithoutItsLogLeadsToNoNewFile) {
  const std::string cache = Database("crashed", {{"a", "1"}});
  const std::string database = cache + "packagemanager.db";
  ExecuteSql(database, "PRAGMA journal_mode = WAL;");
  testsupport::RunInChild([&] {
    sqlite3* db = nullptr;
    sqlite3_open(database.c_str(), &db);
    sqlite3_exec(db, "PRAGMA wal_autocheckpoint = 0; INSERT INTO SETTINGS VALUES ('x', 'y');",
                 nullptr, nullptr, nullptr);
    return std::string();  // the child ends without closing the connection
  });
  ASSERT_EQ(unlink((database + "-wal").c_str()), 0);
  const std::vector<std::string> before = DirectoryEntries(cache);
  ASSERT_EQ(before, (std::vector<std::string>{"packagemanager.db", "packagemanager.db-shm",
                                              "packagescache"}));
  EXPECT_EQ(ReadOne(cache), Ok(InstallerMap({ListedProduct("Title a", "a")})));
  EXPECT_EQ(DirectoryEntries(cache), before);
}

namespace {

// Every file of a folder with its bytes and modification time, to see that nothing was written.
std::vector<std::string> FolderState(const std::string& folder) {
  std::vector<std::string> state;
  for (const std::string& name : DirectoryEntries(folder)) {
    struct stat status {};
    if (lstat((folder + name).c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
      std::ifstream file(folder + name, std::ios::binary);
      state.push_back(name + " " + std::to_string(status.st_mtim.tv_nsec) + " " +
                      std::string(std::istreambuf_iterator<char>(file), {}));
    } else {
      state.push_back(name);
    }
  }
  return state;
}

}  // namespace

// A writer killed in write-ahead-log mode leaves its "-wal" and "-shm": no live writer, so the
// log is read without writing a byte (as root, where a write to the "-shm" used to be made, here
// under a file size limit of 0, which kills a writer with SIGXFSZ). A live writer in exclusive
// locking mode keeps no "-shm" and looked idle: read as immutable, its database was shown as it
// stood before its writes; it is locked, and said so.
TEST_F(InstallerSource, LogsOfKilledOrExclusiveWritersAreNeverWrittenNorShownStale) {
  const std::string killed = Database("killed", {{"a", "1"}, {"k", "1"}});
  const std::string exclusive = Database("exclusive", {{"a", "1"}, {"x", "1"}});
  for (const std::string& cache : {killed, exclusive}) {
    ExecuteSql(cache + "packagemanager.db",
               "PRAGMA journal_mode = WAL; DELETE FROM COMPONENT WHERE ID != 'a';");
  }
  testsupport::RunInChild([&] {
    sqlite3* db = nullptr;
    sqlite3_open((killed + "packagemanager.db").c_str(), &db);
    sqlite3_exec(db, "PRAGMA wal_autocheckpoint = 0; INSERT INTO COMPONENT VALUES ('k', '1', 'x');",
                 nullptr, nullptr, nullptr);
    return std::string();  // the child ends without closing the connection
  });
  const DatabaseWriter writer(exclusive + "packagemanager.db",
                              "PRAGMA locking_mode = EXCLUSIVE; "
                              "INSERT INTO COMPONENT VALUES ('x', '1', 'x');");
  const HangGuard guard(10);
  for (const auto& [cache, expected, files] :
       {std::tuple{killed,
                   Ok(InstallerMap({ListedProduct("Title a", "a"), ListedProduct("Title k", "k")})),
                   std::vector<std::string>{"packagemanager.db", "packagemanager.db-shm",
                                            "packagemanager.db-wal", "packagescache"}},
        std::tuple{exclusive, Failed(CompileError(kInstallDirQuery, "database is locked")),
                   std::vector<std::string>{"packagemanager.db", "packagemanager.db-wal",
                                            "packagescache"}}}) {
    ASSERT_EQ(DirectoryEntries(cache), files);
    const std::vector<std::string> before = FolderState(cache);
    const std::string read = testsupport::RunInChild([&cache = cache] {
      const rlimit noFile{0, 0};
      setrlimit(RLIMIT_FSIZE, &noFile);
      return ReadOne(cache);
    });
    EXPECT_EQ(read, expected) << cache;
    EXPECT_TRUE(FolderState(cache) == before) << cache;
  }
}

// One run's budget holds however many databases and manifests there are: databases that each
// spend their own whole budget stop the run after three, with a message for those not read; a
// manifest that many components share is read once, so that it does not spend the budget many
// times over; a manifest of more values than any holds is refused before json-c parses it.
TEST_F(InstallerSource, OneRunsBudgetStopsWithAMessageAndASharedManifestIsReadOnce) {
  const HangGuard guard(90);
  std::vector<std::string> endless;
  for (const char* name : {"e1", "e2", "e3", "e4", "e5"}) {
    endless.push_back(Database(name, {}));
    ExecuteSql(endless.back() + "packagemanager.db",
               "DROP TABLE COMPONENT; CREATE VIEW COMPONENT AS WITH RECURSIVE n(x) AS (SELECT 1 "
               "UNION ALL SELECT x + 1 FROM n) SELECT x AS ID, x AS VERSION FROM n;");
  }
  const std::string ownBudget = "needs more work than one database may take";
  EXPECT_EQ(ReadAll(endless),
            Failed(StoppedMessage(endless[0], kComponentQuery, ownBudget) +
                   StoppedMessage(endless[1], kComponentQuery, ownBudget) +
                   "Reading of Zivaro Zizovirad database " + endless[2] +
                   "packagemanager.db stopped: the run has spent its time or work for installer "
                   "data.\n2 more Zivaro Zizovirad databases were not read.\n"));

  // Forty components, one manifest of 15 MiB: 600 MiB if each read it, past the run's 256 MiB.
  std::vector<testsupport::InstallerComponent> components;
  for (int i = 0; i < 40; ++i) {
    components.push_back({"c" + std::to_string(100 + i), "1"});
  }
  const std::string shared = Database("shared", components, false);
  const std::string manifest =
      tree.Write("big.json", R"({ "padding": ")" + std::string(size_t{15} << 20, 'p') + "\", " +
                                 VisibleManifest("Shared").substr(1));
  for (const auto& component : components) {
    std::filesystem::create_directories(shared + "packagescache/" + component.id + ",v=1");
    std::filesystem::create_symlink(
        manifest, shared + "packagescache/" + component.id + ",v=1/manifest.json");
  }
  EXPECT_EQ(ReadOne(shared), Ok(InstallerMap({ListedProduct("Shared", "c139")})));

  const std::string many = Database("many", {{"m", "1"}}, false);
  std::string values = "[0";
  for (int i = 0; i < 100000; ++i) {
    values += ",0";
  }
  const std::string path = WriteManifest(many, "m", "1", values + "]");
  EXPECT_EQ(ReadOne(many), Failed("Cannot obtain human readable product names: File \"" + path +
                                  "\" holds more than 100000 JSON values \n"));
}

// Running out of memory while a manifest is parsed is no manifest that is not JSON: the product
// must never go missing from a listing that looks complete.
TEST_F(InstallerSource, RunningOutOfMemoryWhileParsingAManifestIsNeverAMissingProduct) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer maps terabytes of shadow memory: an address-space limit is not "
                  "testable here";
#endif
  const std::string cache = Database("db", {{"a", "1"}}, false);
  // Values that json-c makes one by one, about 2 MiB of them.
  std::string padding = R"({ "padding": [ 1)";
  for (int i = 0; i < 30000; ++i) {
    padding += ", 1";
  }
  WriteManifest(cache, "a", "1", padding + " ], " + VisibleManifest("Title a").substr(1));
  int outOfMemory = 0;
  for (const size_t megabytes : {1, 2, 3, 4, 6, 8, 12, 16, 32}) {
    const std::string read = testsupport::RunInChild([&cache, megabytes] {
      std::string text;
      try {
        // The cap counts from what the process has mapped now.
        std::ifstream status("/proc/self/status");
        std::string line;
        size_t mapped = 0;
        while (std::getline(status, line)) {
          if (line.rfind("VmSize:", 0) == 0) {
            mapped = std::stoul(line.substr(7)) << 10;
          }
        }
        const rlimit memory{mapped + (megabytes << 20), mapped + (megabytes << 20)};
        setrlimit(RLIMIT_AS, &memory);
        text = ReadOne(cache);
      } catch (const std::bad_alloc&) {
        text = "out of memory";
      }
      const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
      setrlimit(RLIMIT_AS, &unlimited);
      return text;
    });
    outOfMemory += read == "out of memory" ? 1 : 0;
    EXPECT_TRUE(read == "out of memory" ||
                read == Ok(InstallerMap({ListedProduct("Title a", "a")})) ||
                read.rfind("false: ", 0) == 0)
        << megabytes << " MiB: " << read;
  }
  EXPECT_GT(outOfMemory, 0);
}

TEST_F(InstallerSource, ReadingLeavesTheDatabaseFolderAsItWas) {
  const std::string cache = Database("db", {{"a", "1"}});
  const std::vector<std::string> before = DirectoryEntries(cache);
  EXPECT_EQ(ReadOne(cache), Ok(InstallerMap({ListedProduct("Title a", "a")})));
  EXPECT_EQ(DirectoryEntries(cache), before);
}

// Reading all databases.

TEST_F(InstallerSource, NoCacheDirectoriesGiveFalseAndNoText) {
  EXPECT_EQ(ReadAll({}), Failed(""));
}

TEST_F(InstallerSource, TwoDatabasesAreSplicedIntoOneMap) {
  const std::string first = Database("one", {{"a", "1"}, {"b", "1"}});
  const std::string second = Database("two", {{"c", "1"}});
  const std::vector<InstallerProduct> firstProducts = {ListedProduct("Title a", "a"),
                                                       ListedProduct("Title b", "b")};
  const std::vector<InstallerProduct> secondProducts = {ListedProduct("Title c", "c")};
  EXPECT_EQ(ReadAll({first, second}), Ok(SplicedInstallerMaps({firstProducts, secondProducts})));
  EXPECT_EQ(ReadAll({second, first}), Ok(SplicedInstallerMaps({secondProducts, firstProducts})));
}

TEST_F(InstallerSource, TitlesRepeatAcrossDatabases) {
  const std::string first = Database("one", {{"a", "1"}});
  const std::string second = Database("two", {{"a", "2"}});
  WriteManifest(second, "a", "2", VisibleManifest("Title a"));
  EXPECT_EQ(ReadAll({first, second}),
            Ok(SplicedInstallerMaps(
                {{ListedProduct("Title a", "a")}, {ListedProduct("Title a", "a", "2")}})));
}

TEST_F(InstallerSource, DatabasesWithoutVisibleProductsAddNothing) {
  const std::string empty = Database("empty", {});
  const std::string listing = Database("listing", {{"a", "1"}});
  EXPECT_EQ(ReadAll({empty, listing, empty}), Ok(InstallerMap({ListedProduct("Title a", "a")})));
  EXPECT_EQ(ReadAll({empty, empty}), Failed(""));
  // Only empty maps were read, so the failure's message goes too.
  EXPECT_EQ(ReadAll({Cache("missing"), empty}), Failed(""));
}

TEST_F(InstallerSource, FailingDatabasesAmongGoodOnesAppendTheirMessagesInOrder) {
  const std::string good = Database("good", {{"a", "1"}});
  const std::string missing = Cache("missing");
  const std::string noTable = Database("no-table", {});
  ExecuteSql(noTable + "packagemanager.db", "DROP TABLE COMPONENT;");
  const std::string openFailure = "Cannot open Zivaro Zizovirad database " + missing +
                                  "packagemanager.db: unable to open database file\n";
  const std::string compileFailure = CompileError(kComponentQuery, "no such table: COMPONENT");
  const std::string goodMap = InstallerMap({ListedProduct("Title a", "a")});
  EXPECT_EQ(ReadAll({good, missing}), Failed(goodMap + openFailure));
  EXPECT_EQ(ReadAll({missing, good}), Failed(goodMap + openFailure));
  EXPECT_EQ(ReadAll({noTable, good, missing}), Failed(goodMap + compileFailure + openFailure));
  EXPECT_EQ(ReadAll({missing, noTable}), Failed(openFailure + compileFailure));
}

// Finding the databases.

TEST_F(InstallerSource, FindsEveryDatabaseFileInNestedFolders) {
  Database("a", {{"a", "1"}});
  Database("a/b/c", {{"c", "1"}});
  Database("d", {{"d", "1"}});
  tree.MakeDir("e/packagemanager.db");  // a folder, not a database
  tree.Write("e/old-packagemanager.db", "");
  std::string message;
  ASSERT_TRUE(BInstallerChecker::Initialize(message));
  std::vector<std::string> found = BInstallerChecker::CachePaths;
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{Cache("a"), Cache("a/b/c"), Cache("d")}));

  // The products come in the order in which find printed the folders.
  std::vector<std::vector<InstallerProduct>> databases;
  for (const std::string& cache : BInstallerChecker::CachePaths) {
    const std::string id(1, cache[cache.size() - 2]);
    databases.push_back({ListedProduct("Title " + id, id)});
  }
  std::string text;
  EXPECT_TRUE(BInstallerChecker::GetAppInfo(text));
  EXPECT_EQ(text, SplicedInstallerMaps(databases));
}

TEST_F(InstallerSource, SecondRunReportsWhatTheFirstDid) {
  Database("a", {{"a", "1"}});
  Database("b", {{"b", "1"}});
  Database("c", {});
  ExecuteSql(Cache("c") + "packagemanager.db", "DROP TABLE INSTALL_DIR;");
  std::string first;
  std::string second;
  for (std::string* text : {&first, &second}) {
    std::string message;
    ASSERT_TRUE(BInstallerChecker::Initialize(message));
    EXPECT_EQ(BInstallerChecker::CachePaths.size(), 3u);
    EXPECT_FALSE(BInstallerChecker::GetAppInfo(*text));
  }
  EXPECT_EQ(second, first);
  EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 1) << first;
}

TEST_F(InstallerSource, FailedSearchLeavesTheListAndSaysSo) {
  tree.MakeDir("empty");
  for (const std::string& directory : {tree / "empty", tree / "missing", std::string()}) {
    std::vector<std::string> caches = {"earlier/"};
    std::string message = "earlier";
    EXPECT_FALSE(BInstallerChecker::FindCaches(directory, caches, message)) << directory;
    EXPECT_EQ(message, kNoCaches);
    EXPECT_EQ(caches, (std::vector<std::string>{"earlier/"}));
  }
  std::vector<std::string> caches = {"earlier/"};
  std::string message = "untouched";
  Database("x", {});
  EXPECT_TRUE(BInstallerChecker::FindCaches(tree.path(), caches, message));
  EXPECT_EQ(message, "untouched");
  EXPECT_EQ(caches, (std::vector<std::string>{"earlier/", Cache("x")}));
}

// The superuser may read every folder, so find's status 1 means it could not finish (here: too
// few descriptors for the deep folder); the databases it did reach are read, and the run says that
// others may be missing.
TEST_F(InstallerSource, SearchThatTheSuperuserCouldNotFinishIsReported) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root";
  }
  const std::string shallow = Database("a", {{"a", "1"}});
  std::string deep = "b";
  for (int level = 0; level < 40; ++level) {
    deep += "/l" + std::to_string(level);
  }
  Database(deep, {{"d", "1"}});
  const std::string partial = "1 false: " + InstallerMap({ListedProduct("Title a", "a")}) +
                              "The search for package manager databases in " + tree.path() +
                              " ended early: some may be missing.\n";
  int endedEarly = 0;
  // From too few descriptors to start the search at all, to enough for the deep folder.
  for (rlim_t limit = 8; limit <= 24; ++limit) {
    const std::string read = testsupport::RunInChild([limit] {
      const rlimit descriptors{limit, limit};
      setrlimit(RLIMIT_NOFILE, &descriptors);
      std::string message;
      const bool found = BInstallerChecker::Initialize(message);
      std::string text;
      const bool complete = found && BInstallerChecker::GetAppInfo(text);
      return std::to_string(BInstallerChecker::CachePaths.size()) +
             (complete ? " true: " : " false: ") + (found ? text : message);
    });
    endedEarly += read == partial ? 1 : 0;
    EXPECT_TRUE(read == partial || read == std::string("0 false: ") + kNoCaches ||
                read.rfind("2 true: ", 0) == 0)
        << limit << ": " << read;
  }
  EXPECT_GT(endedEarly, 0);
  EXPECT_EQ(shallow, Cache("a"));
}

TEST_F(InstallerSource, FolderNamesReachFindAsTheyAreAndNothingInThemRuns) {
  // The shell runs in the working directory, where a command would leave its files.
  const TempDir work;
  ASSERT_EQ(chdir(work.path().c_str()), 0);
  const std::string odd = "with space/$(touch x)/`touch y`;touch z/it's \"quoted\"/line\nfeed";
  const std::string cache = Database(odd, {{"a", "1"}});
  const InstallerLocations oddRoot(tree / "with space/$(touch x)");
  std::string message;
  ASSERT_TRUE(BInstallerChecker::Initialize(message));
  EXPECT_EQ(BInstallerChecker::CachePaths, (std::vector<std::string>{cache}));
  std::string text;
  EXPECT_TRUE(BInstallerChecker::GetAppInfo(text));
  EXPECT_EQ(text, InstallerMap({ListedProduct("Title a", "a")}));
  EXPECT_EQ(DirectoryEntries(work.path()), std::vector<std::string>{});
  EXPECT_EQ(DirectoryEntries(tree.path()), std::vector<std::string>{"with space"});
}

TEST_F(InstallerSource, FolderNamesThatLookLikeFindExpressionsAreStartingPoints) {
  const TempDir work;
  ASSERT_EQ(chdir(work.path().c_str()), 0);
  work.Write("keep/packagemanager.db", "");
  work.Write("keep/other", "");
  std::vector<std::string> caches;
  std::string message;
  EXPECT_FALSE(BInstallerChecker::FindCaches("-delete", caches, message));
  EXPECT_FALSE(BInstallerChecker::FindCaches("!", caches, message));
  EXPECT_EQ(caches, std::vector<std::string>{});
  EXPECT_EQ(DirectoryEntries(work / "keep"),
            (std::vector<std::string>{"other", "packagemanager.db"}));

  work.Write("-delete/packagemanager.db", "");
  EXPECT_TRUE(BInstallerChecker::FindCaches("-delete", caches, message));
  // Made absolute against the working folder, since find itself runs in "/".
  EXPECT_EQ(caches, std::vector<std::string>{work / "-delete/"});
  EXPECT_EQ(DirectoryEntries(work / "keep"),
            (std::vector<std::string>{"other", "packagemanager.db"}));
}

// An installer tree moved to a larger disk leaves a symbolic link in its place; find follows that
// one link, and still none below it.
TEST_F(InstallerSource, SymbolicLinkAsTheSearchedFolderIsFollowed) {
  const TempDir disk;
  const std::string moved = InstallerCache(disk / "corva/a/", {{"a", "1"}});
  const TempDir outside;
  InstallerCache(outside / "b/", {{"b", "1"}});
  std::filesystem::create_symlink(outside.path(), disk / "corva/linked");
  std::filesystem::create_symlink(disk / "corva", tree / "corva");
  std::vector<std::string> caches;
  std::string message;
  ASSERT_TRUE(BInstallerChecker::FindCaches(tree / "corva", caches, message));
  EXPECT_EQ(caches, std::vector<std::string>{tree / "corva/a/"});
}

// A folder named "packagemanager.db" followed by a line feed makes find print a line that looks
// like a database elsewhere; it is read as the rest of the path inside the tree.
TEST_F(InstallerSource, PrintedPathsNeverLeadOutOfTheSearchedFolder) {
  const TempDir outside;
  InstallerCache(outside / "x/", {{"outside", "1"}});
  const std::string inside =
      Database("a/packagemanager.db\n" + outside.path() + "/x", {{"in", "1"}});
  std::string message;
  ASSERT_TRUE(BInstallerChecker::Initialize(message));
  EXPECT_EQ(BInstallerChecker::CachePaths, std::vector<std::string>{inside});
  std::string text;
  EXPECT_TRUE(BInstallerChecker::GetAppInfo(text));
  EXPECT_EQ(text, InstallerMap({ListedProduct("Title in", "in")}));
}
