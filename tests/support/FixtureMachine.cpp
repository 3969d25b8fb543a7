#include "FixtureMachine.h"

#include <json-c/json.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "Account.h"
#include "BInstallerChecker.h"
#include "zorvex_plugin.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

std::string StatusStanza(const DpkgPackage& package) {
  std::ostringstream stanza;
  stanza << "Package: " << package.name << "\n"
         << "Status: " << package.status << "\n"
         << "Priority: optional\n"
         << "Section: misc\n"
         << "Installed-Size: 1\n"
         << "Maintainer: Corva Corporation <packages@corva.example>\n"
         << "Architecture: " << package.architecture << "\n"
         << "Version: " << package.version << "\n"
         << "Description: " << package.description << "\n"
         << " A longer text that the listing does not show.\n\n";
  return stanza.str();
}

// `text` with every `special` written twice: how SQL quotes "'" and rpmbuild's specs keep "%".
std::string Doubling(const std::string& text, char special) {
  std::string escaped;
  for (const char c : text) {
    escaped += c == special ? std::string(2, c) : std::string(1, c);
  }
  return escaped;
}

std::string SpecText(const std::string& text) { return Doubling(text, '%'); }

// No BuildArch: the architecture comes from rpmbuild's --target, which accepts any. An empty
// vendor leaves the tag out, which rpm then shows as "(none)".
std::string RpmSpec(const RpmPackage& package) {
  const std::string vendor =
      package.vendor.empty() ? std::string() : "Vendor: " + SpecText(package.vendor) + "\n";
  return "Name: " + SpecText(package.name) + "\nVersion: " + SpecText(package.version) +
         "\nRelease: " + SpecText(package.release) + "\nSummary: " + SpecText(package.summary) +
         "\nLicense: Proprietary\n" + vendor + "\n%description\nA test package.\n\n%files\n";
}

std::string RpmBuildCommand(const std::string& specFile, const std::string& architecture,
                            const std::string& rpmDir) {
  return "rpmbuild -bb --quiet --target '" + architecture + "' --define '_rpmdir " + rpmDir +
         "' '" + specFile + "' 2>&1";
}

std::string RpmInstallCommand(const std::string& rpmDir) {
  return "rpm -i --nodeps --justdb --ignorearch --ignoreos '" + rpmDir + "'/*/*.rpm 2>&1";
}

// Runs `command`; false, after reporting its output, when it fails.
bool Succeeds(const std::string& command) {
  std::string output;
  if (Shell(command, &output) == 0) {
    return true;
  }
  Fail(command + " failed: " + output);
  return false;
}

void AddText(json_object* object, const char* name, const std::optional<std::string>& text) {
  if (text) {
    json_object_object_add(object, name, json_object_new_string(text->c_str()));
  }
}

std::string SqlQuote(const std::string& text) { return "'" + Doubling(text, '\'') + "'"; }

}  // namespace

std::vector<DpkgPackage> ManyPackages(int count, int descriptions) {
  std::vector<DpkgPackage> packages;
  packages.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    packages.push_back({"corva-zorvex-part" + std::to_string(i), "1." + std::to_string(i) + "-1",
                        "amd64", "Zorvex part " + std::to_string(i % descriptions)});
  }
  return packages;
}

void WriteDpkgAdminDir(const std::string& dir, const std::vector<DpkgPackage>& packages) {
  std::string status;
  for (const DpkgPackage& package : packages) {
    status += StatusStanza(package);
  }
  WriteFile(dir + "/status", status);
  WriteFile(dir + "/available", "");
  fs::create_directories(dir + "/info");
  fs::create_directories(dir + "/updates");
}

DpkgAdminDir::DpkgAdminDir(const std::vector<DpkgPackage>& packages)
    : env_("DPKG_ADMINDIR", dir_.path()) {
  WriteDpkgAdminDir(dir_.path(), packages);
}

RpmDatabase::RpmDatabase(const std::vector<RpmPackage>& packages) : env_("HOME", home_.path()) {
  Register(packages);
  // The library gives rpm the home of the effective user's account, whatever HOME says: the
  // test's folder takes its place in a mount namespace of this test process's own.
  const std::optional<std::string> accountHome = HomeDirectory(geteuid());
  if (!accountHome || unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount(home_.path().c_str(), accountHome->c_str(), nullptr, MS_BIND, nullptr) != 0) {
    Fail("cannot mount the rpm database's folder over the account's home (needs root)");
    return;
  }
  mountedOver_ = *accountHome;
}

RpmDatabase::~RpmDatabase() {
  if (!mountedOver_.empty()) {
    umount2(mountedOver_.c_str(), MNT_DETACH);
  }
}

void RpmDatabase::Register(const std::vector<RpmPackage>& packages) const {
  // rpmbuild's scripts go to %_tmppath (/var/tmp by default): keep them in the test's folder.
  home_.Write(".rpmmacros", "%_topdir " + (home_ / "rpmbuild") + "\n%_dbpath " + (home_ / "rpmdb") +
                                "\n%_tmppath " + (home_ / "tmp") + "\n");
  home_.MakeDir("rpmdb");
  home_.MakeDir("tmp");
  if (!Succeeds("rpm --initdb 2>&1")) {
    return;
  }
  for (size_t i = 0; i < packages.size(); ++i) {
    // Each package gets a folder of its own, so that the install below takes exactly it.
    const std::string rpms = home_ / ("rpms/" + std::to_string(i));
    const std::string specFile =
        home_.Write("specs/" + std::to_string(i) + ".spec", RpmSpec(packages[i]));
    // One transaction per package: rpm lists packages in the order they were registered, while
    // within one transaction it orders them itself.
    if (!Succeeds(RpmBuildCommand(specFile, packages[i].architecture, rpms)) ||
        !Succeeds(RpmInstallCommand(rpms))) {
      return;
    }
  }
}

std::string ManifestJson(bool visible, const std::vector<LocalizedEntry>& entries,
                         const std::string& id) {
  json_object* manifest = json_object_new_object();
  if (!id.empty()) {
    json_object_object_add(manifest, "id", json_object_new_string(id.c_str()));
  }
  json_object_object_add(manifest, "visible", json_object_new_boolean(visible ? 1 : 0));
  json_object* localized = json_object_new_array();
  for (const LocalizedEntry& entry : entries) {
    json_object* item = json_object_new_object();
    AddText(item, "language", entry.language);
    AddText(item, "title", entry.title);
    AddText(item, "description", entry.description);
    AddText(item, "version", entry.version);
    json_object_array_add(localized, item);
  }
  json_object* display = json_object_new_object();
  json_object_object_add(display, "localized", localized);
  json_object_object_add(manifest, "display", display);
  std::string text = json_object_to_json_string_ext(manifest, JSON_C_TO_STRING_PRETTY);
  json_object_put(manifest);
  return text;
}

std::string VisibleManifest(const std::string& title, const std::string& description,
                            const std::string& version) {
  return ManifestJson(true, {{"en-us", title, description, version}});
}

void ExecuteSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  const int opened = sqlite3_open(path.c_str(), &db);
  char* error = nullptr;
  const int result =
      opened == SQLITE_OK ? sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) : opened;
  const std::string message = error != nullptr ? error : sqlite3_errmsg(db);
  sqlite3_free(error);
  sqlite3_close(db);
  if (result != SQLITE_OK) {
    Fail("SQLite on " + path + ": " + message);
  }
}

std::string CreateInstallerDatabase(const std::string& cacheDir, const std::string& installDir,
                                    const std::vector<InstallerComponent>& components) {
  fs::create_directories(cacheDir);
  std::string path = cacheDir + "packagemanager.db";
  // One transaction: a database of a hundred thousand rows is written in a moment.
  std::string sql =
      "BEGIN;"
      "CREATE TABLE INSTALL_DIR (PATH TEXT, CREATED TEXT);"
      "CREATE TABLE COMPONENT (ID TEXT, VERSION TEXT, STATE TEXT);"
      "CREATE TABLE SETTINGS (NAME TEXT, VALUE TEXT);"
      "INSERT INTO SETTINGS VALUES ('channel', 'stable');"
      "INSERT INTO INSTALL_DIR VALUES (" +
      SqlQuote(installDir) + ", '2026-01-01');";
  for (const InstallerComponent& component : components) {
    sql += "INSERT INTO COMPONENT VALUES (" + SqlQuote(component.id) + ", " +
           SqlQuote(component.version) + ", 'installed');";
  }
  ExecuteSql(path, sql + "COMMIT;");
  for (const InstallerComponent& component : components) {
    if (!component.manifest.empty()) {
      WriteManifest(cacheDir, component.id, component.version, component.manifest);
    }
  }
  return path;
}

std::string WriteManifest(const std::string& cacheDir, const std::string& id,
                          const std::string& version, const std::string& json) {
  std::string path = cacheDir + "packagescache/" + id + ",v=" + version + "/manifest.json";
  WriteFile(path, json);
  return path;
}

const char* const kTestInstallDir = "/opt/corva/zorvex";

std::string InstallerCache(const std::string& cacheDir,
                           std::vector<InstallerComponent> components) {
  for (InstallerComponent& component : components) {
    component.manifest = VisibleManifest("Title " + component.id);
  }
  CreateInstallerDatabase(cacheDir, kTestInstallDir, components);
  return cacheDir;
}

InstallerProduct ListedProduct(const std::string& title, const std::string& id,
                               const std::string& fullVersion, const std::string& description,
                               const std::string& version) {
  return {title, id, version, fullVersion, description, kTestInstallDir};
}

std::string WriteInstallerTree(const TempDir& tree, const std::vector<InstallerProduct>& products) {
  const std::string cache = tree.MakeDir("corva/zorvex") + "/";
  std::vector<InstallerComponent> components{
      {"zorvex.helpers", "2.4.0", ManifestJson(false, {{"en-us", "Helpers", "", "2.4"}})}};
  for (const InstallerProduct& product : products) {
    components.push_back(
        {product.id, product.fullVersion,
         ManifestJson(true, {{"fr", "Autre titre", "Autre", "0"},
                             {"en-us", product.title, product.description, product.version}})});
  }
  CreateInstallerDatabase(cache, products.empty() ? kTestInstallDir : products.front().path,
                          components);
  return tree / "corva";
}

std::string ReadAllDatabases(const std::vector<std::string>& caches) {
  BInstallerChecker::CachePaths = caches;
  std::string text;
  const bool read = BInstallerChecker::GetAppInfo(text);
  return (read ? "true: " : "false: ") + text;
}

InstallerLocations::InstallerLocations(std::string root, std::string user)
    : root_(std::move(root)),
      user_(std::move(user)),
      oldRoot_(ROOT_IC_PATH),
      oldUser_(USER_IC_PATH) {
  ROOT_IC_PATH = root_.c_str();
  USER_IC_PATH = user_.c_str();
  BInstallerChecker::CachePaths.clear();
}

InstallerLocations::~InstallerLocations() {
  ROOT_IC_PATH = oldRoot_;
  USER_IC_PATH = oldUser_;
  BInstallerChecker::CachePaths.clear();
}

}  // namespace testsupport
