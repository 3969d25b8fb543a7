#include "InstallerDatabase.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <optional>

namespace {

const char* const kInstallDirQuery = "SELECT PATH FROM INSTALL_DIR;";
const char* const kComponentQuery = "SELECT ID, VERSION FROM COMPONENT ORDER BY ID, VERSION;";

// Why a file of `mode` is not read as a database: what it is instead.
std::string NotRegularFile(mode_t mode) {
  const char* kind = S_ISDIR(mode)                    ? "a directory"
                     : S_ISFIFO(mode)                 ? "a FIFO"
                     : S_ISSOCK(mode)                 ? "a socket"
                     : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                                                      : nullptr;
  return kind != nullptr ? std::string(kind) + ", not a regular file" : "not a regular file";
}

// SQLite opens its files without O_NONBLOCK: a FIFO in the place of the database, its "-wal" or
// its "-shm" would hold the run until some writer came, and a device would be opened for real.
// So each file that is there is first opened here without blocking and must be a regular one.
// Returns false with the reason when it is not; a file that is missing or that cannot be opened
// is left to SQLite, which says so itself.
bool IsRegularOrAbsent(const std::string& path, std::string& reason) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return true;
  }
  // The open itself is the check that counts: the name may have been given to another file since.
  if (S_ISREG(status.st_mode)) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      return true;
    }
    const bool checked = fstat(fd, &status) == 0;
    close(fd);
    if (!checked || S_ISREG(status.st_mode)) {
      return true;
    }
  }
  reason = NotRegularFile(status.st_mode);
  return false;
}

// Checks the database and the "-wal" and "-shm" files that SQLite would open beside it. False
// with the reason ("it is a FIFO, ...", "its -wal file is ...") when one is not a regular file.
bool DatabaseFilesAreRegular(const std::string& path, std::string& reason) {
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::string kind;
    if (!IsRegularOrAbsent(path + suffix, kind)) {
      reason =
          *suffix == '\0' ? "it is " + kind : std::string("its ") + suffix + " file is " + kind;
      return false;
    }
  }
  return true;
}

// A read-only connection to a database in write-ahead-log mode creates whichever of the "-wal"
// and "-shm" files beside it is missing, and leaves it there. A connection that has the database
// open keeps both, so with either missing none has, and the main file holds the database (but
// for what a log left without its "-shm" holds, which cannot be read without creating one): such
// a database is read as immutable, which creates nothing.
bool IsIdleWalDatabase(const std::string& path) {
  struct stat ignored {};
  if (lstat((path + "-wal").c_str(), &ignored) == 0 &&
      lstat((path + "-shm").c_str(), &ignored) == 0) {
    return false;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  // Byte 19 of the header, the read version, is 2 for write-ahead-log mode.
  constexpr off_t kReadVersionOffset = 19;
  unsigned char readVersion = 0;
  const bool wal = pread(fd, &readVersion, 1, kReadVersionOffset) == 1 && readVersion == 2;
  close(fd);
  return wal;
}

// The URI that opens `path` as immutable; every byte that a URI could read otherwise ("%", "?",
// "#", blanks, ...) is percent-encoded.
std::string ImmutableUri(const std::string& path) {
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
  return uri + "?immutable=1";
}

// Opens the database read-only, without creating anything beside it.
int OpenReadOnly(const std::string& path, sqlite3** connection) {
  if (IsIdleWalDatabase(path)) {
    return sqlite3_open_v2(ImmutableUri(path).c_str(), connection,
                           SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
  }
  return sqlite3_open_v2(path.c_str(), connection, SQLITE_OPEN_READONLY, nullptr);
}

// A database is data, yet its schema can make a query endless: a view over a recursive common
// table expression yields rows without end, and sorting them never finishes. Each reading gets a
// bounded amount of work, ten million instructions, where listing a hundred thousand components
// takes about one million, and of memory: sorted rows are kept in memory (SQLite would otherwise
// spill them to temporary files), and a view's rows of large texts grow it fast. Past either
// limit SQLite interrupts the statement and the database fails.
constexpr int kInstructionsPerCheck = 1000;
constexpr long kChecksPerDatabase = 10000;
constexpr sqlite3_int64 kMemoryPerDatabase = sqlite3_int64{64} << 20;

struct Budget {
  long checks = 0;
  // SQLite counts its memory for the whole process; a reading is measured from its start.
  sqlite3_int64 memoryAtStart = sqlite3_memory_used();
};

int StopWhenSpent(void* budget) {
  Budget& spent = *static_cast<Budget*>(budget);
  return ++spent.checks > kChecksPerDatabase ||
                 sqlite3_memory_used() - spent.memoryAtStart > kMemoryPerDatabase
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

// An open database and its path, for the messages.
struct Database {
  sqlite3* connection;
  std::string path;
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
  return !StoppedByALimit(database, kComponentQuery, result, text);
}

}  // namespace

bool ReadInstallerDatabase(const std::string& path, const ComponentVisitor& visit,
                           std::string& message) {
  Budget budget;  // outlives the connection that counts with it
  std::string irregular;
  if (!DatabaseFilesAreRegular(path, irregular)) {
    message = CannotOpenMessage(path, irregular);
    return false;
  }
  sqlite3* opened = nullptr;
  const int result = OpenReadOnly(path, &opened);
  const Connection connection(opened, sqlite3_close_v2);
  if (result != SQLITE_OK) {
    message = CannotOpenMessage(path, sqlite3_errmsg(connection.get()));
    return false;
  }
  sqlite3_progress_handler(connection.get(), kInstructionsPerCheck, StopWhenSpent, &budget);
  sqlite3_exec(connection.get(), "PRAGMA temp_store = MEMORY;", nullptr, nullptr, nullptr);
  sqlite3_limit(connection.get(), SQLITE_LIMIT_LENGTH, kLargestValue);
  const Database database{connection.get(), path};
  std::string installDir;
  return ReadInstallDir(database, installDir, message) &&
         ReadComponents(database, installDir, visit, message);
}
