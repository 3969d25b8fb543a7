#ifndef ZORVEX_B_INSTALLER_CHECKER_H
#define ZORVEX_B_INSTALLER_CHECKER_H

#include <json-c/json.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class SystemCommands;

// The products that the family's own installer put on the machine: its SQLite databases
// (DB_NAME under ROOT_IC_PATH and under the user's home + USER_IC_PATH) and the manifests of
// their package caches. Only reads; never writes a file or a database.
class BInstallerChecker {
 public:
  BInstallerChecker() = default;
  virtual ~BInstallerChecker() = default;

  // The texts of one component's manifest that the report shows.
  struct ManifestTexts {
    bool visible = false;
    std::optional<std::string> title;
    std::optional<std::string> description;
    std::optional<std::string> version;
  };

  // One run's reading of its databases, each read as soon as the search finds it, in the order
  // found, all within one budget of reading time and work (the time spent waiting for the search
  // does not count); a manifest that several components share is read once.
  class Reading {
   public:
    Reading();
    ~Reading();
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;

    // Reads the database of `cachePath` (ending in "/") now; once the budget is spent and a
    // database has failed, only counts it as not read.
    void Read(const std::string& cachePath);
    // The databases read so far.
    size_t Size() const { return databases_.size(); }
    // Forgets the databases read from the `count`th on: a search that failed in the end found
    // nothing.
    void Forget(size_t count);
    // ReadCaches of what was read, in order.
    bool Splice(std::string& map, std::string& failures) const;

   private:
    struct Database {
      bool read = false;  // false: left unread, the budget spent
      bool ok = false;
      std::string text;  // its product map, or why it failed
    };
    struct Run;
    std::unique_ptr<Run> run_;
    std::vector<Database> databases_;
    size_t failed_ = 0;
    std::chrono::steady_clock::time_point lastRead_;
  };

  // The cache directories found by the latest Initialize, each ending in "/": those under the
  // system-wide directory first, in the order the search printed them, then the user's.
  static std::vector<std::string> CachePaths;

  // What the latest Initialize's searches could not finish, one sentence a line: find run by the
  // superuser that ended with status 1 (out of descriptors, say). GetAppInfo reports it.
  static std::string SearchFailures;

  // Searches for databases afresh into CachePaths: the system-wide directory, and for a user other
  // than the superuser also the per-user one. Returns true if at least one search found a
  // database. On false `message` holds the last failure ("Cannot obtain paths to package manager
  // databases." or "Cannot get user name."); on true it may hold a failure of the other search.
  static bool Initialize(std::string& message);
  // Initialize through `commands` (a run's), reading each database into `reading` as soon as the
  // search prints its path, while the search and the run's other commands go on.
  static bool Initialize(SystemCommands& commands, Reading& reading, std::string& message);

  // Reads every database of CachePaths and splices their product maps into `text` (empty on
  // entry), all within one budget of time and work (a manifest that several components share is
  // read once). Returns true only when no database failed, no search failed (SearchFailures) and
  // at least one visible product was found. Otherwise `text` holds the failed databases' messages,
  // in CachePaths order, then a line for those the spent budget left unread and SearchFailures,
  // behind the products that were read; or, when the databases read hold no visible product,
  // SearchFailures alone.
  static bool GetAppInfo(std::string& text);

  // GetAppInfo with the two kinds of text apart: splices the product maps of the databases that
  // were read into `map` (empty on entry; "{ }" when they hold no visible product) and appends the
  // messages of those that failed to `failures`, in CachePaths order. Returns true when `map`
  // holds a visible product.
  static bool ReadCaches(std::string& map, std::string& failures);
  // ReadCaches of the databases that Initialize read as it found them.
  static bool ReadCaches(const Reading& reading, std::string& map, std::string& failures);

  // Reads the database at `databasePath` whose package cache is under `cachePath` (ending in
  // "/"), as ReadInstallerDatabase does. Returns true with its product-map text, json-c's spaced
  // form, "{ }" when it holds no visible product; false with a message ending in a line feed. A
  // component whose manifest cannot be read fails the whole database; one that would name a
  // manifest outside the cache (an ID that holds "/" or is "." or "..", a VERSION that holds "/")
  // is skipped.
  static bool GetAppInfo(std::string databasePath, std::string cachePath, std::string& text);

  // Runs find over `directory` (quoted for the shell; "./" in front where find would read it as
  // an expression; followed when it is a symbolic link; FindCommand) and appends the directory of
  // every DB_NAME file found inside it, with its final "/", to `caches`. What find printed is
  // taken also when it ended with status 1 for a folder it could not read; run by the superuser,
  // that status means the search could not finish, which is added to SearchFailures. Returns false,
  // leaving `caches` as it was and writing "Cannot obtain paths to package manager databases."
  // into `message`, when find fails otherwise (cannot start, killed, out of time) or finds
  // nothing.
  static bool FindCaches(std::string directory, std::vector<std::string>& caches,
                         std::string& message);
  // FindCaches through `commands`, handing `reading` (when given) each cache directory as soon as
  // find prints it; what it read is forgotten again when the search fails in the end.
  static bool FindCaches(SystemCommands& commands, const std::string& directory,
                         std::vector<std::string>& caches, std::string& message, Reading* reading);

  // Reads visibility and the chosen texts of a parsed manifest (null for a file that is not JSON):
  // each text from the last entry of "display"/"localized" whose "language" is "en-us", else
  // from the first entry that has it. A text that no entry supplies stays unset.
  static ManifestTexts ReadManifest(json_object* manifest);
};

#endif  // ZORVEX_B_INSTALLER_CHECKER_H
