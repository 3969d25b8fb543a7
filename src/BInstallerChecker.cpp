#include "BInstallerChecker.h"

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "CheckerHelper.h"
#include "JsonNode.h"
#include "JsonText.h"
#include "zorvex_plugin.h"

const char* ROOT_IC_PATH = "/var/corva";
const char* USER_IC_PATH = "/corva";
const char* DB_NAME = "packagemanager.db";

std::vector<std::string> BInstallerChecker::CachePaths;

namespace {

const char* const kInstallDirQuery = "SELECT PATH FROM INSTALL_DIR;";
const char* const kComponentQuery = "SELECT ID, VERSION FROM COMPONENT ORDER BY ID, VERSION;";
const char* const kNoCachesMessage = "Cannot obtain paths to package manager databases.";
const char* const kEmptyMap = "{ }";

// The globals may be pointed anywhere by the host; a null pointer reads as the empty text.
std::string GlobalText(const char* text) { return text != nullptr ? text : ""; }

// Single-quotes a text for the shell, so that blanks and metacharacters in a directory name stay
// part of the name and nothing in it runs.
std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// find reads a first argument that begins with "-", or is one of its operators, as part of its
// expression: a directory named "-delete" would delete whatever lies under the working directory.
// "./" in front keeps such a relative directory a starting point.
std::string FindStartingPoint(const std::string& directory) {
  const bool looksLikeExpression =
      !directory.empty() && (directory[0] == '-' || directory == "!" || directory == "(" ||
                             directory == ")" || directory == ",");
  return looksLikeExpression ? "./" + directory : directory;
}

bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

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
    if (!checked) {
      return true;
    }
  }
  if (S_ISREG(status.st_mode)) {
    return true;
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

struct ConnectionCloser {
  void operator()(sqlite3* connection) const { sqlite3_close_v2(connection); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

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

bool Prepare(const Database& database, const char* query, Statement& statement, std::string& text) {
  sqlite3_stmt* prepared = nullptr;
  const int result = sqlite3_prepare_v2(database.connection, query, -1, &prepared, nullptr);
  statement.reset(prepared);
  if (result != SQLITE_OK) {
    if (!StoppedByALimit(database, query, result, text)) {
      text = std::string("Error while compiling SQL statement \"") + query +
             "\": " + sqlite3_errmsg(database.connection) + "\n";
    }
    return false;
  }
  return true;
}

// The first row of INSTALL_DIR; SQL NULL, or a text too long to be a folder, gives an empty path.
bool ReadInstallDir(const Database& database, std::string& installDir, std::string& text) {
  Statement statement;
  if (!Prepare(database, kInstallDirQuery, statement, text)) {
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

std::optional<std::string> MemberText(json_object* object, const char* name) {
  const char* text = json_object_get_string(json_object_object_get(object, name));
  if (text == nullptr) {
    return std::nullopt;
  }
  return std::string(text);
}

// The product map of one database, written as json-c writes the tree of report nodes that it
// stands for (building that tree costs many times the text). As in the tree, a title given again
// keeps its first place and takes the later product's details.
class ProductMap {
 public:
  // One component as the report shows it. A title that no manifest entry gives falls back to the
  // component's identifier, so the product is still listed under a name.
  void Add(const BInstallerChecker::ManifestTexts& texts, const std::string& id,
           const std::string& version, const std::string& installDir) {
    // json-c takes a name up to its first NUL.
    std::string title = texts.title.value_or(id);
    title.resize(std::strlen(title.c_str()));
    static const std::string kNoText;
    std::string member;
    AppendSpacedObjectNode(member, title,
                           {{"Product ID", 1, id},
                            {"Version", 0, texts.version ? *texts.version : kNoText},
                            {"Full Version", 1, version},
                            {"Description", 1, texts.description ? *texts.description : kNoText},
                            {"Path", 1, installDir}});
    const auto known = places_.emplace(title, members_.size());
    if (known.second) {
      members_.push_back(std::move(member));
    } else {
      members_[known.first->second] = std::move(member);
    }
  }

  // json-c's spaced form: "{ }" without members.
  std::string Text() const {
    std::string text = "{";
    for (const std::string& member : members_) {
      text += text.size() == 1 ? " " : ", ";
      text += member;
    }
    return text + " }";
  }

 private:
  std::vector<std::string> members_;
  std::unordered_map<std::string, size_t> places_;
};

// Whether a component names a manifest inside its cache: an identifier is one folder name, and
// the version is part of that same name.
bool NamesAManifest(const std::optional<std::string>& id,
                    const std::optional<std::string>& version) {
  return id && version && *id != "." && *id != ".." && id->find('/') == std::string::npos &&
         version->find('/') == std::string::npos;
}

// Lists the components of an open database into `map`. False, with the message in `text`, when a
// manifest cannot be read or a limit stops the listing; another failing step ends the listing
// with the products read so far.
bool ListComponents(const Database& database, const std::string& cachePath,
                    const std::string& installDir, ProductMap& map, std::string& text) {
  Statement statement;
  if (!Prepare(database, kComponentQuery, statement, text)) {
    return false;
  }
  int result = SQLITE_ROW;
  while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
    const std::optional<std::string> id = ColumnText(statement.get(), 0);
    const std::optional<std::string> version = ColumnText(statement.get(), 1);
    if (!NamesAManifest(id, version)) {
      continue;
    }
    const std::string manifestPath =
        cachePath + "packagescache/" + *id + ",v=" + *version + "/manifest.json";
    json_object* manifest = nullptr;
    if (!JsonNode::ParseFile(manifestPath, &manifest, text)) {
      text.insert(0, "Cannot obtain human readable product names: ");
      return false;
    }
    const BInstallerChecker::ManifestTexts texts = BInstallerChecker::ReadManifest(manifest);
    json_object_put(manifest);
    if (texts.visible) {
      map.Add(texts, *id, *version, installDir);
    }
  }
  return !StoppedByALimit(database, kComponentQuery, result, text);
}

// Adds one database's successful map text to the merged text, keeping it one JSON object.
void SpliceMap(std::string& merged, const std::string& map) {
  if (merged.empty() || merged == kEmptyMap) {
    merged = map;
  } else if (map != kEmptyMap) {
    merged.pop_back();
    merged += ',';
    merged.append(map, 1, std::string::npos);
  }
}

// Appends the cache directory of every database path in find's `output`, one a line, that lies
// inside `start`. A folder name may itself hold a line feed: find prints only paths that begin
// with `start` + "/", so a line that does not, or that follows a path not yet ending in "/" and
// the database name, continues the path before it. A path that does not begin there is
// dropped. Returns whether any was taken; `caches` is unchanged otherwise.
bool TakeCaches(const std::string& output, const std::string& start, const std::string& dbName,
                std::vector<std::string>& caches) {
  const std::string inside = EndsWith(start, "/") ? start : start + "/";
  const std::string tail = "/" + dbName;
  const size_t before = caches.size();
  // The first line of every path that find prints; all of `inside` unless that holds a line feed.
  const size_t lineFeed = inside.find('\n');
  const auto startsAPath = [&](const std::string& line) {
    return lineFeed == std::string::npos ? StartsWith(line, inside)
                                         : line == inside.substr(0, lineFeed);
  };
  const auto complete = [&](const std::string& path) {
    return StartsWith(path, inside) && EndsWith(path, tail);
  };
  const auto take = [&](const std::string& path) {
    if (complete(path)) {
      caches.push_back(path.substr(0, path.size() - dbName.size()));
    }
  };
  std::string path;
  for (const std::string& line : CheckerHelper::SplitString(output, "\n")) {
    if (path.empty() || (startsAPath(line) && (complete(path) || !StartsWith(path, inside)))) {
      take(path);
      path = line;
    } else {
      path += '\n' + line;
    }
  }
  take(path);
  return caches.size() > before;
}

// The effective user's home directory from the account database, or nullopt without an account
// or a home. getpwuid_r: the record of getpwuid lives in storage that every thread shares.
std::optional<std::string> HomeDirectory(uid_t user) {
  const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 1024);
  passwd record{};
  passwd* account = nullptr;
  int error = 0;
  // No account record needs a megabyte; a lookup that keeps asking for more has failed.
  constexpr size_t kLargestBuffer = 1 << 20;
  while ((error = getpwuid_r(user, &record, buffer.data(), buffer.size(), &account)) == ERANGE &&
         buffer.size() < kLargestBuffer) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != 0 || account == nullptr || account->pw_dir == nullptr) {
    return std::nullopt;
  }
  return std::string(account->pw_dir);
}

}  // namespace

bool BInstallerChecker::FindCaches(std::string directory, std::vector<std::string>& caches,
                                   std::string& message) {
  const std::string dbName = GlobalText(DB_NAME);
  const std::string start = FindStartingPoint(directory);
  // -H: a starting directory that is a symbolic link (an installer tree moved to a larger disk)
  // is searched where it leads; links below it are still not followed.
  const std::string command =
      "find -H " + ShellQuote(start) + " -name " + ShellQuote(dbName) + " -type f 2>/dev/null";
  std::string output;
  const int status = CheckerHelper::RunCommand(command, output);
  // Status 1 also means that find met a folder it may not read; what it printed is still there.
  if ((status != 0 && status != 1) || !TakeCaches(output, start, dbName, caches)) {
    message = kNoCachesMessage;
    return false;
  }
  return true;
}

bool BInstallerChecker::Initialize(std::string& message) {
  // Every run searches afresh: a host that runs the check twice must not read everything twice.
  CachePaths.clear();
  bool found = FindCaches(GlobalText(ROOT_IC_PATH), CachePaths, message);
  const uid_t user = geteuid();
  if (user == 0) {
    return found;
  }
  const std::optional<std::string> home = HomeDirectory(user);
  if (!home) {
    message = "Cannot get user name.";
    return found;
  }
  if (FindCaches(*home + GlobalText(USER_IC_PATH), CachePaths, message)) {
    found = true;
  }
  return found;
}

bool BInstallerChecker::GetAppInfo(std::string databasePath, std::string cachePath,
                                   std::string& text) {
  Budget budget;  // outlives the connection that counts with it
  std::string irregular;
  if (!DatabaseFilesAreRegular(databasePath, irregular)) {
    text = CannotOpenMessage(databasePath, irregular);
    return false;
  }
  sqlite3* opened = nullptr;
  const int result = OpenReadOnly(databasePath, &opened);
  const Connection connection(opened);
  if (result != SQLITE_OK) {
    text = CannotOpenMessage(databasePath, sqlite3_errmsg(connection.get()));
    return false;
  }
  sqlite3_progress_handler(connection.get(), kInstructionsPerCheck, StopWhenSpent, &budget);
  sqlite3_exec(connection.get(), "PRAGMA temp_store = MEMORY;", nullptr, nullptr, nullptr);
  sqlite3_limit(connection.get(), SQLITE_LIMIT_LENGTH, kLargestValue);
  const Database database{connection.get(), std::move(databasePath)};
  std::string installDir;
  if (!ReadInstallDir(database, installDir, text)) {
    return false;
  }
  ProductMap map;
  if (!ListComponents(database, cachePath, installDir, map, text)) {
    return false;
  }
  text = map.Text();
  return true;
}

bool BInstallerChecker::GetAppInfo(std::string& text) {
  std::string errors;
  for (const std::string& cachePath : CachePaths) {
    std::string databaseText;
    if (GetAppInfo(cachePath + GlobalText(DB_NAME), cachePath, databaseText)) {
      SpliceMap(text, databaseText);
    } else {
      errors += databaseText;
    }
  }
  if (text.empty()) {
    text = errors;
    return false;
  }
  if (text == kEmptyMap) {
    text.clear();
    return false;
  }
  if (!errors.empty()) {
    text += errors;
    return false;
  }
  return true;
}

BInstallerChecker::ManifestTexts BInstallerChecker::ReadManifest(json_object* manifest) {
  ManifestTexts texts;
  texts.visible = json_object_get_boolean(json_object_object_get(manifest, "visible")) != 0;
  if (!texts.visible) {
    return texts;
  }
  json_object* localized = JsonNode::GetObject(manifest, "display/localized");
  // The array calls assert on other types.
  if (!json_object_is_type(localized, json_type_array)) {
    return texts;
  }
  const size_t count = json_object_array_length(localized);
  for (size_t index = 0; index < count; ++index) {
    json_object* entry = json_object_array_get_idx(localized, index);
    const std::optional<std::string> language = MemberText(entry, "language");
    const bool preferred = language && *language == "en-us";
    if (!texts.description || preferred) {
      texts.description = MemberText(entry, "description");
    }
    if (!texts.title || preferred) {
      texts.title = MemberText(entry, "title");
    }
    if (!texts.version || preferred) {
      texts.version = MemberText(entry, "version");
    }
  }
  return texts;
}
