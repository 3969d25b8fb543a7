#ifndef ZORVEX_B_INSTALLER_CHECKER_H
#define ZORVEX_B_INSTALLER_CHECKER_H

#include <json-c/json.h>

#include <optional>
#include <string>
#include <vector>

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

  // Reads every database of CachePaths and splices their product maps into `text` (empty on
  // entry), all within one budget of time and work (a manifest that several components share is
  // read once). Returns true only when no database failed, no search failed (SearchFailures) and
  // at least one visible product was found. Otherwise `text` holds the failed databases' messages,
  // in CachePaths order, then a line for those the spent budget left unread and SearchFailures,
  // behind the products that were read; or, when the databases read hold no visible product,
  // SearchFailures alone.
  static bool GetAppInfo(std::string& text);

  // Reads the database at `databasePath` whose package cache is under `cachePath` (ending in
  // "/"), as ReadInstallerDatabase does. Returns true with its product-map text, json-c's spaced
  // form, "{ }" when it holds no visible product; false with a message ending in a line feed. A
  // component whose manifest cannot be read fails the whole database; one that would name a
  // manifest outside the cache (an ID that holds "/" or is "." or "..", a VERSION that holds "/")
  // is skipped.
  static bool GetAppInfo(std::string databasePath, std::string cachePath, std::string& text);

  // Runs find over `directory` (quoted for the shell; "./" in front where find would read it as
  // an expression; followed when it is a symbolic link) and appends the directory of every
  // DB_NAME file found inside it, with its final "/", to `caches`. What find printed is taken
  // also when it ended with status 1 for a folder it could not read; run by the superuser, that
  // status means the search could not finish, which is added to SearchFailures. Returns false,
  // leaving `caches` as it was and writing "Cannot obtain paths to package manager databases."
  // into `message`, when find fails otherwise (cannot start, killed, out of time) or finds
  // nothing.
  static bool FindCaches(std::string directory, std::vector<std::string>& caches,
                         std::string& message);

  // Reads visibility and the chosen texts of a parsed manifest (null for a file that is not JSON):
  // each text from the last entry of "display"/"localized" whose "language" is "en-us", else
  // from the first entry that has it. A text that no entry supplies stays unset.
  static ManifestTexts ReadManifest(json_object* manifest);
};

#endif  // ZORVEX_B_INSTALLER_CHECKER_H
