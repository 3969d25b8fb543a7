#ifndef ZORVEX_FIXTURES_FIXTURE_MACHINE_H
#define ZORVEX_FIXTURES_FIXTURE_MACHINE_H

#include <optional>
#include <string>
#include <vector>

#include "ScopedState.h"

// The machine that the real tools read: dpkg admin directories, private rpm databases, installer
// databases with their manifests, and the library's installer locations pointed at them. Every
// writer reports what it cannot do through Fail.
namespace testsupport {

// One package in a dpkg status file.
struct DpkgPackage {
  std::string name;
  std::string version;
  std::string architecture = "amd64";
  std::string description;
  std::string status = "install ok installed";
};

// `count` family packages "corva-zorvex-part<i>", version "1.<i>-1", sharing `descriptions`
// descriptions "Zorvex part <i % descriptions>".
std::vector<DpkgPackage> ManyPackages(int count, int descriptions);

// Writes a dpkg administrative directory (status, available, info/, updates/) into `dir`,
// creating it, with `packages` in the status file in that order.
void WriteDpkgAdminDir(const std::string& dir, const std::vector<DpkgPackage>& packages);

// A dpkg administrative directory of the test's own that the real dpkg reads through
// DPKG_ADMINDIR while the object lives.
class DpkgAdminDir {
 public:
  explicit DpkgAdminDir(const std::vector<DpkgPackage>& packages);
  const std::string& path() const { return dir_.path(); }

 private:
  TempDir dir_;
  ScopedEnv env_;
};

// One package for a private rpm database. The texts go into a spec file as they are ("%" is
// escaped); rpmbuild itself refuses a "-" in the version and an empty summary, and drops the
// summary's leading and trailing blanks.
struct RpmPackage {
  std::string name;
  std::string version;
  std::string summary;
  std::string vendor = "Corva Corporation";  // "" for none
  std::string release = "1";
  std::string architecture = "noarch";  // any name: rpmbuild builds nothing, rpm ignores it
};

// A private rpm database that the real rpm reads while the object lives: HOME points at a folder
// whose .rpmmacros sets %_dbpath, %_topdir and %_tmppath, mounted over the home of the effective
// user's account in a mount namespace of the test process (so root only), and the packages, built
// with rpmbuild for their architecture, are registered there with "rpm -i --justdb", one at a time
// and in the given order, which is the order "rpm -q -a" lists them in. Fails when rpm cannot do
// it.
class RpmDatabase {
 public:
  explicit RpmDatabase(const std::vector<RpmPackage>& packages);
  ~RpmDatabase();
  RpmDatabase(const RpmDatabase&) = delete;
  RpmDatabase& operator=(const RpmDatabase&) = delete;
  const std::string& home() const { return home_.path(); }

 private:
  void Register(const std::vector<RpmPackage>& packages) const;

  TempDir home_;
  ScopedEnv env_;
  std::string mountedOver_;
};

// One entry of a manifest's "display"/"localized" array; unset members are left out.
struct LocalizedEntry {
  std::optional<std::string> language;
  std::optional<std::string> title;
  std::optional<std::string> description;
  std::optional<std::string> version;
};

// A manifest text with the given "visible" member and localized entries. A non-empty `id` is
// written first as an "id" member, which the installer writes and the library does not read.
std::string ManifestJson(bool visible, const std::vector<LocalizedEntry>& entries,
                         const std::string& id = "");

// A manifest text with one visible "en-us" entry.
std::string VisibleManifest(const std::string& title, const std::string& description = "About it",
                            const std::string& version = "2026");

// One component row of an installer database.
struct InstallerComponent {
  std::string id;
  std::string version;
  std::string manifest = "";  // written as its manifest when not empty
};

// Runs `sql` on the SQLite database at `path` (created if missing); fails on error.
void ExecuteSql(const std::string& path, const std::string& sql);

// Creates an installer database at `cacheDir` + "packagemanager.db" with INSTALL_DIR (one row,
// `installDir`) and COMPONENT (`components`), each with a column beside the ones the library
// reads, and an unrelated table, in one transaction, and the components' manifests. Returns the
// database path.
std::string CreateInstallerDatabase(const std::string& cacheDir, const std::string& installDir,
                                    const std::vector<InstallerComponent>& components);

// Writes `json` as the manifest of component `id`, version `version`, under `cacheDir`.
std::string WriteManifest(const std::string& cacheDir, const std::string& id,
                          const std::string& version, const std::string& json);

// The installation directory that the installer databases of these fixtures record by default.
extern const char* const kTestInstallDir;

// An installer database in `cacheDir` (ending in "/") with `components`, each with a visible
// manifest titled "Title " + its id. Returns `cacheDir`.
std::string InstallerCache(const std::string& cacheDir, std::vector<InstallerComponent> components);

// One visible product of an installer database: what its row and manifest hold, which is what
// the product map shows of it.
struct InstallerProduct {
  std::string title;
  std::string id;
  std::string version;      // the manifest's
  std::string fullVersion;  // the database's
  std::string description;
  std::string path = kTestInstallDir;  // the database's installation directory
};

// A product as a database of InstallerCache lists it, with VisibleManifest's default texts.
InstallerProduct ListedProduct(const std::string& title, const std::string& id,
                               const std::string& fullVersion = "1",
                               const std::string& description = "About it",
                               const std::string& version = "2026");

// Writes an installer tree below `tree`: one database, recording the first product's path (or
// kTestInstallDir), with `products` visible (their manifests hold a French entry first, then the
// preferred "en-us" one) and one component that is not. Returns the directory to search.
std::string WriteInstallerTree(const TempDir& tree, const std::vector<InstallerProduct>& products);

// For tests that link the library: reads the databases of `caches` as a run does
// (BInstallerChecker::GetAppInfo after setting CachePaths): "true: " or "false: ", then the text.
std::string ReadAllDatabases(const std::vector<std::string>& caches);

// Points ROOT_IC_PATH and USER_IC_PATH at test trees for the scope (DB_NAME stays) and empties
// BInstallerChecker::CachePaths on entry and exit. The default per-user directory is one that no
// home holds, so that only the system-wide tree is found.
class InstallerLocations {
 public:
  explicit InstallerLocations(std::string root, std::string user = "/.zorvex-test-absent");
  ~InstallerLocations();
  InstallerLocations(const InstallerLocations&) = delete;
  InstallerLocations& operator=(const InstallerLocations&) = delete;

 private:
  std::string root_;
  std::string user_;
  const char* oldRoot_;
  const char* oldUser_;
};

}  // namespace testsupport

#endif  // ZORVEX_FIXTURES_FIXTURE_MACHINE_H
