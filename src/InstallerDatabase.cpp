#include "InstallerDatabase.h"

#include <fcntl.h>
#include <malloc.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <optional>

#include "RegularFile.h"

namespace {

const char* const kInstallDirQuery = "SELECT PATH FROM INSTALL_DIR;";
const char* const kComponentQuery = "SELECT ID, VERSION FROM COMPONENT ORDER BY ID, VERSION;";

// SQLite opens its files without O_NONBLOCK: a FIFO in the place of the database, its "-journal",
// its "-wal" or its "-shm" would hold the run until some writer came (the hot-journal check opens
// the "-journal" of any database), and a device would be opened for real. So each file that is
// there must be a regular one, which the reading's file system (CheckedOpen) checks again as
// SQLite opens it. Returns false with the reason when one is not; a file that is missing or that
// cannot be opened is left to SQLite, which says so itself.
bool DatabaseFilesAreRegular(const std::string& path, std::string& reason) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    const RegularFile file = OpenRegularFile(path + suffix);
    if (file.fd >= 0) {
      close(file.fd);
    }
    if (file.outcome == RegularFile::Outcome::kNotRegular) {
      const std::string kind = NotRegularFile(file.status.st_mode);
      reason =
          *suffix == '\0' ? "it is " + kind : std::string("its ") + suffix + " file is " + kind;
      return false;
    }
  }
  return true;
}

// The file system every reading goes through: SQLite's own ("unix"), except that it opens only
// the database, its rollback journal and its log, only read-only and never creating one, and
// each only when it is a regular file, checked before and after SQLite opens it. Temporary files
// are refused: sorting happens in memory.
sqlite3_vfs* gUnix = nullptr;

int CheckedOpen(sqlite3_vfs* /*vfs*/, sqlite3_filename name, sqlite3_file* file, int flags,
                int* outFlags) {
  file->pMethods = nullptr;
  constexpr int kReadable = SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_WAL;
  if (name == nullptr || (flags & kReadable) == 0) {
    return SQLITE_CANTOPEN;
  }
  const RegularFile before = OpenRegularFile(name);
  if (before.outcome != RegularFile::Outcome::kOpened) {
    return SQLITE_CANTOPEN;
  }
  close(before.fd);
  const int readOnly =
      (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE)) |
      SQLITE_OPEN_READONLY;
  const int result = gUnix->xOpen(gUnix, name, file, readOnly, outFlags);
  struct stat after {};
  if (result == SQLITE_OK && (stat(name, &after) != 0 || after.st_dev != before.status.st_dev ||
                              after.st_ino != before.status.st_ino)) {
    file->pMethods->xClose(file);
    file->pMethods = nullptr;
    return SQLITE_CANTOPEN;
  }
  return result;
}

const char* CheckedVfsName() {
  static const char* const name = [] {
    static sqlite3_vfs checked{};
    gUnix = sqlite3_vfs_find("unix");
    if (gUnix == nullptr) {
      return static_cast<const char*>(nullptr);
    }
    checked = *gUnix;
    checked.zName = "zorvex-checked";
    checked.pNext = nullptr;
    checked.xOpen = CheckedOpen;
    return sqlite3_vfs_register(&checked, 0) == SQLITE_OK ? checked.zName : nullptr;
  }();
  return name;
}

// Whether a process may hold a lock on bytes [start, start + length) of the open file `fd`: the
// test fails safe, a lock that cannot be tested counts as held. A process's own locks never show.
bool LockHeld(int fd, off_t start, off_t length) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = length;
  return fcntl(fd, F_GETLK, &lock) != 0 || lock.l_type != F_UNLCK;
}

// Every connection to a database in write-ahead-log mode holds a lock on it as long as it is
// open: a shared one on the database's lock bytes (an exclusive one in exclusive locking mode,
// where it keeps no "-shm") and one on the "-shm".
constexpr off_t kDatabaseLockBytes = off_t{0x40000000};  // SQLite's pending byte and what follows
constexpr off_t kDatabaseLockLength = 512;
constexpr off_t kSharedMemoryLocks = 120;  // the log's read and write locks and its "in use" byte
constexpr off_t kSharedMemoryLockLength = 9;

// Whether a connection may hold the "-shm": one that is there but cannot be tested counts as held.
bool SharedMemoryLocked(const std::string& path) {
  const RegularFile file = OpenRegularFile(path + "-shm");
  if (file.outcome != RegularFile::Outcome::kOpened) {
    return file.outcome != RegularFile::Outcome::kUnreachable ||
           access((path + "-shm").c_str(), F_OK) == 0;
  }
  const bool held = LockHeld(file.fd, kSharedMemoryLocks, kSharedMemoryLockLength);
  close(file.fd);
  return held;
}

// How a database is opened: always read-only, with its "-shm" only ever read (a stale log that a
// killed writer left is read into private memory, a live writer's log through its "-shm"); or,
// in write-ahead-log mode with its "-wal" or "-shm" missing and no connection holding it, as
// immutable: reading the log would need the missing file created, so the main file alone is read
// (what a log left without its "-shm" holds is lost). A live writer, in any locking mode, is
// never read as immutable: what it has not written back yet would be shown as missing, and in
// exclusive locking mode it keeps no "-shm" at all; SQLite then says the database is locked.
bool ReadAsImmutable(const std::string& path) {
  const RegularFile file = OpenRegularFile(path);
  if (file.outcome != RegularFile::Outcome::kOpened) {
    return false;
  }
  // Byte 19 of the header, the read version, is 2 for write-ahead-log mode.
  constexpr off_t kReadVersionOffset = 19;
  unsigned char readVersion = 0;
  const bool wal = pread(file.fd, &readVersion, 1, kReadVersionOffset) == 1 && readVersion == 2;
  const bool held = wal && LockHeld(file.fd, kDatabaseLockBytes, kDatabaseLockLength);
  close(file.fd);
  if (!wal || held || SharedMemoryLocked(path)) {
    return false;
  }
  struct stat ignored {};
  return lstat((path + "-wal").c_str(), &ignored) != 0 ||
         lstat((path + "-shm").c_str(), &ignored) != 0;
}

// The URI that opens `path` with `parameters`; every byte that a URI could read otherwise ("%",
// "?", "#", blanks, ...) is percent-encoded.
std::string DatabaseUri(const std::string& path, const char* parameters) {
  static const char kHex[] = "0123456789ABCDEF";
  // An empty authority, so that a path beginning with "//" is not read as a host.
  std::string uri = !path.empty() && path[0] == '/' ? "file://" : "file:";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) != 0 || std::strchr("/-._~", c) != nullptr) {
      uri += c;
    } else {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0x0f];
    }
  }
  return uri + parameters;
}

// Opens the database read-only through the checked file system, writing nothing beside it.
int OpenReadOnly(const std::string& path, const char* vfs, sqlite3** connection) {
  const char* parameters = ReadAsImmutable(path) ? "?immutable=1" : "?readonly_shm=1";
  return sqlite3_open_v2(DatabaseUri(path, parameters).c_str(), connection,
                         SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, vfs);
}

// A database is data, yet its schema can make a query endless: a view over a recursive common
// table expression yields rows without end, and sorting them never finishes. Each reading gets a
// bounded amount of work, ten million instructions, where listing a hundred thousand components
// takes about one million, and of memory: sorted rows are kept in memory (SQLite would otherwise
// spill them to temporary files), and a view's rows of large texts grow it fast. Past either
// limit SQLite interrupts the statement and the database fails.
constexpr int kInstructionsPerCheck = 1000;
constexpr long kChecksPerDatabase = 10000;
constexpr size_t kMemoryPerDatabase = size_t{64} << 20;

// Heap in use by the whole process. SQLite's own count stands still when the host configured it
// off (SQLITE_CONFIG_MEMSTATUS), so the allocator's is taken as well.
size_t HeapInUse() {
  const struct mallinfo2 heap = mallinfo2();
  return heap.uordblks + heap.hblkhd;
}

struct Budget {
  explicit Budget(InstallerRunBudget& run) : run(run) {}
  InstallerRunBudget& run;
  long checks = 0;
  bool runSpent = false;
  // Memory is counted for the whole process; a reading is measured from its start.
  sqlite3_int64 sqliteAtStart = sqlite3_memory_used();
  size_t heapAtStart = HeapInUse();
};

int StopWhenSpent(void* budget) {
  Budget& spent = *static_cast<Budget*>(budget);
  if (!spent.run.TakeWork()) {
    spent.runSpent = true;
    return 1;
  }
  const size_t heap = HeapInUse();
  return ++spent.checks > kChecksPerDatabase ||
                 sqlite3_memory_used() - spent.sqliteAtStart >
                     static_cast<sqlite3_int64>(kMemoryPerDatabase) ||
                 (heap > spent.heapAtStart && heap - spent.heapAtStart > kMemoryPerDatabase)
             ? 1
             : 0;
}

// Identifiers, versions and folders are short; a longer text (a view yields texts of any size)
// would be repeated into the report for every product, so it names nothing, as SQL NULL does.
constexpr int kLongestText = 4096;
// The largest value SQLite may make or read for a reading, well above any real row: a view could
// otherwise build texts of a gigabyte before kLongestText is ever asked.
constexpr int kLargestValue = 1 << 20;

using Connection = std::unique_ptr<sqlite3, decltype(&sqlite3_close_v2)>;
using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

// An open database, its path for the messages and the budget it spends.
struct Database {
  sqlite3* connection;
  std::string path;
  const Budget& budget;
};

std::string CannotOpenMessage(const std::string& path, const std::string& reason) {
  return "Cannot open Zivaro Zizovirad database " + path + ": " + reason + "\n";
}

// A text column; nullopt for SQL NULL and for a text longer than kLongestText.
std::optional<std::string> ColumnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  if (text == nullptr || sqlite3_column_bytes(statement, column) > kLongestText) {
    return std::nullopt;
  }
  return std::string(reinterpret_cast<const char*>(text));
}

// Whether `result` is one of the reading's own limits stopping `query`; the database then fails
// with a message that says so, never with a quietly shortened listing.
bool StoppedByALimit(const Database& database, const char* query, int result, std::string& text) {
  if (result == SQLITE_INTERRUPT && database.budget.runSpent) {
    text = RunSpentMessage(database.path);
    return true;
  }
  const char* why = result == SQLITE_INTERRUPT ? "needs more work than one database may take"
                    : result == SQLITE_TOOBIG  ? "meets a value larger than 1 MiB"
                                               : nullptr;
  if (why == nullptr) {
    return false;
  }
  text = "Reading of Zivaro Zizovirad database " + database.path + " stopped: \"" + query + "\" " +
         why + ".\n";
  return true;
}

// The compiled `query`; null, as SQLite leaves it, with the message in `text` when it fails.
Statement Prepare(const Database& database, const char* query, std::string& text) {
  sqlite3_stmt* prepared = nullptr;
  const int result = sqlite3_prepare_v2(database.connection, query, -1, &prepared, nullptr);
  if (result != SQLITE_OK && !StoppedByALimit(database, query, result, text)) {
    text = std::string("Error while compiling SQL statement \"") + query +
           "\": " + sqlite3_errmsg(database.connection) + "\n";
  }
  return Statement(prepared, sqlite3_finalize);
}

// The first row of INSTALL_DIR; SQL NULL, or a text too long to be a folder, gives an empty path.
bool ReadInstallDir(const Database& database, std::string& installDir, std::string& text) {
  const Statement statement = Prepare(database, kInstallDirQuery, text);
  if (!statement) {
    return false;
  }
  const int result = sqlite3_step(statement.get());
  if (result != SQLITE_ROW) {
    if (!StoppedByALimit(database, kInstallDirQuery, result, text)) {
      text = "INSTALL_DIR is empty. Cannot obtain path to Zorvex package.\n";
    }
    return false;
  }
  installDir = ColumnText(statement.get(), 0).value_or(std::string());
  return true;
}

// Hands `visit` the component rows that name something; false when it refuses one or a limit
// stops the listing.
bool ReadComponents(const Database& database, const std::string& installDir,
                    const ComponentVisitor& visit, std::string& text) {
  const Statement statement = Prepare(database, kComponentQuery, text);
  if (!statement) {
    return false;
  }
  int result = SQLITE_ROW;
  while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
    std::optional<std::string> id = ColumnText(statement.get(), 0);
    std::optional<std::string> version = ColumnText(statement.get(), 1);
    if (id && version && !visit(installDir, {std::move(*id), std::move(*version)})) {
      return false;
    }
  }
  // Any other failure of a step (an I/O error, a damaged page, a lock) is no end of the rows.
  if (result != SQLITE_DONE && !StoppedByALimit(database, kComponentQuery, result, text)) {
    text = "Reading of Zivaro Zizovirad database " + database.path + " stopped: \"" +
           kComponentQuery + "\" failed: " + sqlite3_errmsg(database.connection) + ".\n";
  }
  return result == SQLITE_DONE;
}

}  // namespace

InstallerRunBudget::InstallerRunBudget()
    : deadline_(std::chrono::steady_clock::now() + std::chrono::seconds(kSeconds)) {}

bool InstallerRunBudget::TakeWork() {
  if (checks_ > 0) {
    --checks_;
  }
  return !Spent();
}

bool InstallerRunBudget::TakeManifest(off_t bytes) {
  manifestBytes_ -= bytes;
  return !Spent();
}

bool InstallerRunBudget::Spent() const {
  return checks_ == 0 || manifestBytes_ < 0 || std::chrono::steady_clock::now() > deadline_;
}

std::string RunSpentMessage(const std::string& path) {
  return "Reading of Zivaro Zizovirad database " + path +
         " stopped: the run has spent its time or work for installer data.\n";
}

bool ReadInstallerDatabase(const std::string& path, const ComponentVisitor& visit,
                           InstallerRunBudget& run, std::string& message) {
  Budget budget(run);  // outlives the connection that counts with it
  if (run.Spent()) {
    message = RunSpentMessage(path);
    return false;
  }
  std::string irregular;
  if (!DatabaseFilesAreRegular(path, irregular)) {
    message = CannotOpenMessage(path, irregular);
    return false;
  }
  const char* vfs = CheckedVfsName();
  if (vfs == nullptr) {
    message = CannotOpenMessage(path, "its files cannot be checked");
    return false;
  }
  sqlite3* opened = nullptr;
  const int result = OpenReadOnly(path, vfs, &opened);
  const Connection connection(opened, sqlite3_close_v2);
  if (result != SQLITE_OK) {
    message = CannotOpenMessage(path, sqlite3_errmsg(connection.get()));
    return false;
  }
  sqlite3_progress_handler(connection.get(), kInstructionsPerCheck, StopWhenSpent, &budget);
  sqlite3_exec(connection.get(), "PRAGMA temp_store = MEMORY;", nullptr, nullptr, nullptr);
  sqlite3_limit(connection.get(), SQLITE_LIMIT_LENGTH, kLargestValue);
  const Database database{connection.get(), path, budget};
  std::string installDir;
  return ReadInstallDir(database, installDir, message) &&
         ReadComponents(database, installDir, visit, message);
}
