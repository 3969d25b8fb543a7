#ifndef ZORVEX_TEST_SUPPORT_H
#define ZORVEX_TEST_SUPPORT_H

#include <sys/types.h>

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction, even
// when the test fails. Permissions that a test took away are restored before removal.
class TempDir {
 public:
  TempDir();
  // A fresh directory under `base` instead.
  explicit TempDir(const std::string& base);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // `relative` below this directory.
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
  // Writes `content` to `relative`, creating the parent directories; returns the full path.
  std::string Write(const std::string& relative, const std::string& content) const;
  // Creates `relative` and its parents; returns the full path.
  std::string MakeDir(const std::string& relative) const;

 private:
  std::string path_;
};

// Sets (or, with `unset`, removes) one environment variable for the scope and restores it after.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  explicit ScopedEnv(std::string name);  // unsets
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

// A folder to put first on, or to make up all of, PATH: links to real tools of this machine and
// scripts standing in for tools where no real one can produce a case.
class ToolDir {
 public:
  ToolDir();
  // Links `tool` (found on the current PATH) into the folder; fails the test if there is none.
  void Link(const std::string& tool) const;
  void Link(std::initializer_list<const char*> tools) const;
  // Writes an executable "#!/bin/sh" script named `name` with `body`.
  void Script(const std::string& name, const std::string& body) const;
  const std::string& path() const { return dir_.path(); }

 private:
  TempDir dir_;
};

// For its scope, PATH is a folder holding links to `tools` (found on the PATH before) and, where
// `whichBody` is given, a "which" script with that body, and nothing else.
class ToolsOnPath {
 public:
  explicit ToolsOnPath(std::initializer_list<const char*> tools, const std::string& whichBody = "");

 private:
  ToolDir tools_;
  std::optional<ScopedEnv> path_;
};

// The full path of `tool` on the current PATH, or "" when there is none.
std::string FindTool(const std::string& tool);

// Runs `command` through /bin/sh and returns its exit status (or -1); its output is discarded
// unless `output` is given.
int Shell(const std::string& command, std::string* output = nullptr);

// Reads a whole file; "" when it cannot be read.
std::string ReadFile(const std::string& path);

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

// A dpkg administrative directory of the test's own (status, available, info/, updates/) that
// the real dpkg reads through DPKG_ADMINDIR while the object lives.
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
// whose .rpmmacros sets %_dbpath, %_topdir and %_tmppath, and the packages, built with rpmbuild
// for their architecture, are registered there with "rpm -i --justdb", one at a time and in the
// given order, which is the order "rpm -q -a" lists them in. Fails the test when rpm cannot do it.
class RpmDatabase {
 public:
  explicit RpmDatabase(const std::vector<RpmPackage>& packages);
  const std::string& home() const { return home_.path(); }

 private:
  void Register(const std::vector<RpmPackage>& packages) const;

  TempDir home_;
  ScopedEnv env_;
};

// One entry of a manifest's "display"/"localized" array; unset members are left out.
struct LocalizedEntry {
  std::optional<std::string> language;
  std::optional<std::string> title;
  std::optional<std::string> description;
  std::optional<std::string> version;
};

// A manifest text with the given "visible" member and localized entries.
std::string ManifestJson(bool visible, const std::vector<LocalizedEntry>& entries);

// One component row of an installer database.
struct InstallerComponent {
  std::string id;
  std::string version;
};

// Creates an installer database at `cacheDir` + "packagemanager.db" with INSTALL_DIR (one row,
// `installDir`) and COMPONENT (`components`), each with a column beside the ones the library
// reads, and an unrelated table. Returns the database path.
std::string CreateInstallerDatabase(const std::string& cacheDir, const std::string& installDir,
                                    const std::vector<InstallerComponent>& components);

// Runs `sql` on the SQLite database at `path` (created if missing); fails the test on error.
void ExecuteSql(const std::string& path, const std::string& sql);

// Writes `json` as the manifest of component `id`, version `version`, under `cacheDir`.
std::string WriteManifest(const std::string& cacheDir, const std::string& id,
                          const std::string& version, const std::string& json);

// JSON-quotes `text` the way json-c writes it ("/" becomes "\/").
std::string JsonQuote(const std::string& text);

// One member of a package source's product-map text, as json-c's spaced form writes it.
std::string ProductMapEntry(const std::string& summary, const std::string& packages,
                            const std::string& shortVersion, const std::string& version,
                            const std::string& architecture);

// A product-map text made of `entries` (ProductMapEntry texts), in that order.
std::string ProductMap(const std::vector<std::string>& entries);

// One product of an installer database as the product map shows it.
struct InstallerProduct {
  std::string title;
  std::string id;
  std::string version;  // the manifest's
  std::string fullVersion;
  std::string description;
  std::string path;
};

// The installation directory in the databases that InstallerCache creates.
extern const char* const kTestInstallDir;

// A manifest text with one visible "en-us" entry.
std::string VisibleManifest(const std::string& title, const std::string& description = "About it",
                            const std::string& version = "2026");

// An installer database in `cacheDir` (ending in "/") with `components`, each with a visible
// manifest titled "Title " + its id. Returns `cacheDir`.
std::string InstallerCache(const std::string& cacheDir,
                           const std::vector<InstallerComponent>& components);

// A product as a database of InstallerCache lists it, with VisibleManifest's default texts.
InstallerProduct ListedProduct(const std::string& title, const std::string& id,
                               const std::string& fullVersion = "1",
                               const std::string& description = "About it",
                               const std::string& version = "2026");

// The product-map text of an installer database listing `products`, in order.
std::string InstallerMap(const std::vector<InstallerProduct>& products);

// The text of several databases' maps spliced into one, as a run hands them back: within a
// database members are separated by ", ", between databases by " , ".
std::string SplicedInstallerMaps(const std::vector<std::vector<InstallerProduct>>& databases);

// Reads the databases of `caches` as a run does (BInstallerChecker::GetAppInfo after setting
// CachePaths): "true: " or "false: ", then the text.
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

// The names in `dir`, sorted: to see that reading a directory left nothing behind.
std::vector<std::string> DirectoryEntries(const std::string& dir);

// The number of descriptors this process has open, from /proc/self/fd (the one that lists them
// not counted).
size_t OpenDescriptorCount();

// The descriptors of this process open on `path`.
std::vector<int> DescriptorsOf(const std::string& path);

// The processes of group `group` that have not ended (zombies, which no init may reap inside a
// container, do not count), after waiting up to two seconds for them to go: a process killed with
// SIGKILL ends only once it is scheduled again.
size_t LiveGroupMembers(pid_t group);

// This process's resident memory in KiB (VmRSS of /proc/self/status), or -1.
long ResidentKiB();

// Kills the test process with SIGALRM when it is still running after `seconds`: a call that
// blocks then fails its test at once instead of hanging the run.
class HangGuard {
 public:
  explicit HangGuard(unsigned int seconds);
  ~HangGuard();
  HangGuard(const HangGuard&) = delete;
  HangGuard& operator=(const HangGuard&) = delete;
};

// A writer in another process that holds the SQLite database at `path` in an open transaction,
// begun with `begin` (say "BEGIN EXCLUSIVE;" and a write), until the object is destroyed.
class DatabaseWriter {
 public:
  DatabaseWriter(const std::string& path, const std::string& begin);
  ~DatabaseWriter();
  DatabaseWriter(const DatabaseWriter&) = delete;
  DatabaseWriter& operator=(const DatabaseWriter&) = delete;

 private:
  pid_t child_ = -1;
  int release_ = -1;
};

// Runs `body` in a forked child and returns the text it returned, sent back through a pipe. The
// child then ends at once, without exit handlers or the test framework. Fails the test unless the
// child ends with status 0.
std::string RunInChild(const std::function<std::string()>& body);

// In a child of RunInChild: becomes `uid` and `gid` for good, without supplementary groups, and
// moves to "/". Ends the child with status 3 when it cannot.
void BecomeUser(uid_t uid, gid_t gid);

// The unprivileged account that per-user tests run as.
struct TestAccount {
  uid_t uid;
  gid_t gid;
  std::string home;
};

// The account "zorvex-test", created by support/create-test-user.sh (idempotent, under a lock)
// when missing. Only root can create it; nullopt when it is missing and cannot be created.
std::optional<TestAccount> TestUserAccount();

// A user id above 40000 with no account record.
uid_t UnusedUid();

// Makes the tree at `path` belong to `uid` and `gid`.
void ChangeOwner(const std::string& path, uid_t uid, gid_t gid);

}  // namespace testsupport

#endif  // ZORVEX_TEST_SUPPORT_H
