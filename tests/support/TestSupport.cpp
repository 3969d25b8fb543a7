#include "TestSupport.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "BInstallerChecker.h"
#include "zorvex_plugin.h"

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zorvex-test.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary directory from " << pattern;
  }
  path_ = pattern;
}

TempDir::TempDir(const std::string& base) {
  std::string pattern = base + "/zorvex-test.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary directory in " << base;
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Give back what a test took away, so that removal can reach everything.
  for (auto it = fs::recursive_directory_iterator(
           path_, fs::directory_options::skip_permission_denied, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& relative, const std::string& content) const {
  std::string full = *this / relative;
  fs::create_directories(fs::path(full).parent_path());
  std::ofstream file(full, std::ios::binary | std::ios::trunc);
  file << content;
  if (!file) {
    ADD_FAILURE() << "cannot write " << full;
  }
  return full;
}

std::string TempDir::MakeDir(const std::string& relative) const {
  std::string full = *this / relative;
  fs::create_directories(full);
  return full;
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  const char* old = std::getenv(name_.c_str());
  had_ = old != nullptr;
  old_ = had_ ? old : "";
  setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::ScopedEnv(std::string name) : name_(std::move(name)) {
  const char* old = std::getenv(name_.c_str());
  had_ = old != nullptr;
  old_ = had_ ? old : "";
  unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ToolDir::ToolDir() = default;

void ToolDir::Link(const std::string& tool) const {
  const std::string real = FindTool(tool);
  ASSERT_FALSE(real.empty()) << "this machine has no " << tool;
  std::error_code error;
  fs::create_symlink(real, dir_ / tool, error);
  ASSERT_FALSE(error) << "cannot link " << tool << ": " << error.message();
}

void ToolDir::Link(std::initializer_list<const char*> tools) const {
  for (const char* tool : tools) {
    Link(std::string(tool));
  }
}

void ToolDir::Script(const std::string& name, const std::string& body) const {
  const std::string path = dir_.Write(name, "#!/bin/sh\n" + body + "\n");
  chmod(path.c_str(), 0755);
}

ToolsOnPath::ToolsOnPath(std::initializer_list<const char*> tools, const std::string& whichBody) {
  tools_.Link(tools);
  if (!whichBody.empty()) {
    tools_.Script("which", whichBody);
  }
  path_.emplace("PATH", tools_.path());
}

std::string FindTool(const std::string& tool) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = (dir.empty() ? "." : dir) + "/" + tool;
    if (access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return "";
}

int Shell(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return -1;
  }
  char buffer[4096];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    if (output != nullptr) {
      output->append(buffer, got);
    }
  }
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

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

std::string StatusFile(const std::vector<DpkgPackage>& packages) {
  std::string status;
  for (const DpkgPackage& package : packages) {
    status += StatusStanza(package);
  }
  return status;
}

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

DpkgAdminDir::DpkgAdminDir(const std::vector<DpkgPackage>& packages)
    : env_("DPKG_ADMINDIR", dir_.path()) {
  dir_.Write("status", StatusFile(packages));
  dir_.Write("available", "");
  dir_.MakeDir("info");
  dir_.MakeDir("updates");
}

namespace {

// rpmbuild expands macros in every spec line; a "%" of the test's text must stay a "%".
std::string SpecText(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    escaped += c == '%' ? std::string("%%") : std::string(1, c);
  }
  return escaped;
}

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

}  // namespace

RpmDatabase::RpmDatabase(const std::vector<RpmPackage>& packages) : env_("HOME", home_.path()) {
  Register(packages);
}

void RpmDatabase::Register(const std::vector<RpmPackage>& packages) const {
  // rpmbuild's scripts go to %_tmppath (/var/tmp by default): keep them in the test's folder.
  home_.Write(".rpmmacros", "%_topdir " + (home_ / "rpmbuild") + "\n%_dbpath " + (home_ / "rpmdb") +
                                "\n%_tmppath " + (home_ / "tmp") + "\n");
  home_.MakeDir("rpmdb");
  home_.MakeDir("tmp");
  std::string output;
  ASSERT_EQ(Shell("rpm --initdb 2>&1", &output), 0) << output;
  for (size_t i = 0; i < packages.size(); ++i) {
    // Each package gets a folder of its own, so that the install below takes exactly it.
    const std::string rpms = home_ / ("rpms/" + std::to_string(i));
    const std::string specFile =
        home_.Write("specs/" + std::to_string(i) + ".spec", RpmSpec(packages[i]));
    ASSERT_EQ(Shell(RpmBuildCommand(specFile, packages[i].architecture, rpms), &output), 0)
        << output;
    // One transaction per package: rpm lists packages in the order they were registered, while
    // within one transaction it orders them itself.
    ASSERT_EQ(Shell(RpmInstallCommand(rpms), &output), 0) << output;
  }
}

namespace {

void AddText(json_object* object, const char* name, const std::optional<std::string>& text) {
  if (text) {
    json_object_object_add(object, name, json_object_new_string(text->c_str()));
  }
}

std::string SqlQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c == '\'' ? std::string("''") : std::string(1, c);
  }
  return quoted + "'";
}

}  // namespace

std::string ManifestJson(bool visible, const std::vector<LocalizedEntry>& entries) {
  json_object* manifest = json_object_new_object();
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

void ExecuteSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK) << path;
  char* error = nullptr;
  const int result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  const std::string message = error != nullptr ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(result, SQLITE_OK) << message;
}

std::string CreateInstallerDatabase(const std::string& cacheDir, const std::string& installDir,
                                    const std::vector<InstallerComponent>& components) {
  fs::create_directories(cacheDir);
  std::string path = cacheDir + "packagemanager.db";
  std::string sql =
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
  ExecuteSql(path, sql);
  return path;
}

std::string WriteManifest(const std::string& cacheDir, const std::string& id,
                          const std::string& version, const std::string& json) {
  const std::string dir = cacheDir + "packagescache/" + id + ",v=" + version;
  fs::create_directories(dir);
  std::string path = dir + "/manifest.json";
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << json;
  return path;
}

std::string JsonQuote(const std::string& text) {
  json_object* string = json_object_new_string(text.c_str());
  std::string quoted = json_object_to_json_string(string);
  json_object_put(string);
  return quoted;
}

std::string ProductMapEntry(const std::string& summary, const std::string& packages,
                            const std::string& shortVersion, const std::string& version,
                            const std::string& architecture) {
  return JsonQuote(summary) + ": { \"RetVal\": \"INFO\", \"Value\": { \"Packages\": { " +
         "\"Verbosity\": 1, \"RetVal\": \"INFO\", \"Value\": " + JsonQuote(packages) +
         " }, \"Version\": { \"RetVal\": \"INFO\", \"Value\": " + JsonQuote(shortVersion) +
         " }, \"Full Version\": { \"Verbosity\": 1, \"RetVal\": \"INFO\", \"Value\": " +
         JsonQuote(version) + " }, \"Architecture\": { \"Verbosity\": 1, \"RetVal\": \"INFO\", " +
         "\"Value\": " + JsonQuote(architecture) + " }, \"Path\": { \"Verbosity\": 1, " +
         "\"RetVal\": \"INFO\", \"Value\": \"\\/opt\\/corva\\/zorvex\" } } }";
}

std::string ProductMap(const std::vector<std::string>& entries) {
  std::string map = "{ ";
  for (size_t i = 0; i < entries.size(); ++i) {
    map += (i == 0 ? "" : ", ") + entries[i];
  }
  return map + " }";
}

namespace {

std::string DetailNode(const std::string& name, bool verbose, const std::string& value) {
  return JsonQuote(name) + ": { " + (verbose ? "\"Verbosity\": 1, " : "") +
         "\"RetVal\": \"INFO\", \"Value\": " + JsonQuote(value) + " }";
}

std::string InstallerEntry(const InstallerProduct& product) {
  return JsonQuote(product.title) + ": { \"RetVal\": \"INFO\", \"Value\": { " +
         DetailNode("Product ID", true, product.id) + ", " +
         DetailNode("Version", false, product.version) + ", " +
         DetailNode("Full Version", true, product.fullVersion) + ", " +
         DetailNode("Description", true, product.description) + ", " +
         DetailNode("Path", true, product.path) + " } }";
}

}  // namespace

const char* const kTestInstallDir = "/opt/corva/zorvex";

std::string VisibleManifest(const std::string& title, const std::string& description,
                            const std::string& version) {
  return ManifestJson(true, {{"en-us", title, description, version}});
}

std::string InstallerCache(const std::string& cacheDir,
                           const std::vector<InstallerComponent>& components) {
  CreateInstallerDatabase(cacheDir, kTestInstallDir, components);
  for (const InstallerComponent& component : components) {
    WriteManifest(cacheDir, component.id, component.version,
                  VisibleManifest("Title " + component.id));
  }
  return cacheDir;
}

InstallerProduct ListedProduct(const std::string& title, const std::string& id,
                               const std::string& fullVersion, const std::string& description,
                               const std::string& version) {
  return {title, id, version, fullVersion, description, kTestInstallDir};
}

namespace {

std::string Members(const std::vector<InstallerProduct>& products) {
  std::string members;
  for (const InstallerProduct& product : products) {
    members += (members.empty() ? "" : ", ") + InstallerEntry(product);
  }
  return members;
}

}  // namespace

std::string InstallerMap(const std::vector<InstallerProduct>& products) {
  return products.empty() ? "{ }" : "{ " + Members(products) + " }";
}

std::string SplicedInstallerMaps(const std::vector<std::vector<InstallerProduct>>& databases) {
  std::string spliced;
  for (const std::vector<InstallerProduct>& products : databases) {
    spliced += (spliced.empty() ? "" : " , ") + Members(products);
  }
  return "{ " + spliced + " }";
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

std::vector<std::string> DirectoryEntries(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

size_t OpenDescriptorCount() {
  size_t count = 0;
  std::error_code error;
  // The iterator holds one descriptor of its own while it lists them.
  for (auto it = fs::directory_iterator("/proc/self/fd", error);
       !error && it != fs::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count > 0 ? count - 1 : 0;
}

std::vector<int> DescriptorsOf(const std::string& path) {
  std::vector<int> found;
  std::error_code error;
  const fs::path target = fs::canonical(path, error);
  for (auto it = fs::directory_iterator("/proc/self/fd", error);
       !error && it != fs::directory_iterator(); it.increment(error)) {
    std::error_code unreadable;
    if (fs::read_symlink(it->path(), unreadable) == target) {
      found.push_back(std::stoi(it->path().filename().string()));
    }
  }
  return found;
}

namespace {

size_t LiveGroupMembersNow(pid_t group) {
  size_t live = 0;
  std::error_code error;
  for (auto it = fs::directory_iterator("/proc", error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    // "pid (name) state ppid pgrp ...": the name may hold blanks, so read from its last ")".
    const std::string stat = ReadFile(it->path() / "stat");
    const size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) {
      continue;
    }
    std::istringstream fields(stat.substr(nameEnd + 1));
    char state = 0;
    long parent = 0;
    long processGroup = 0;
    if (fields >> state >> parent >> processGroup && processGroup == group && state != 'Z' &&
        state != 'X') {
      ++live;
    }
  }
  return live;
}

}  // namespace

size_t LiveGroupMembers(pid_t group) {
  size_t live = LiveGroupMembersNow(group);
  for (int waited = 0; live > 0 && waited < 200; ++waited) {
    usleep(10000);
    live = LiveGroupMembersNow(group);
  }
  return live;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::strtol(line.c_str() + 6, nullptr, 10);
    }
  }
  return -1;
}

HangGuard::HangGuard(unsigned int seconds) { alarm(seconds); }

HangGuard::~HangGuard() { alarm(0); }

namespace {

// Writes all of `text` to `fd`, as far as the pipe takes it.
void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      return;
    }
    done += static_cast<size_t>(wrote);
  }
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return text;
    }
    text.append(buffer, static_cast<size_t>(got));
  }
}

// The exit status of `child`, or -1 when it did not exit normally.
int WaitFor(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      return -1;
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The body of the DatabaseWriter child: exit status 0 once released, 1 when it could not lock.
[[noreturn]] void HoldTransaction(const std::string& path, const std::string& begin, int ready,
                                  int release) {
  sqlite3* db = nullptr;
  int status = 1;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
      sqlite3_exec(db, begin.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
    status = 0;
    WriteAll(ready, "1");
    char ignored = 0;
    // Blocks until the parent closes its end.
    while (read(release, &ignored, 1) < 0 && errno == EINTR) {
    }
  }
  sqlite3_close(db);
  _exit(status);
}

}  // namespace

DatabaseWriter::DatabaseWriter(const std::string& path, const std::string& begin) {
  int ready[2];
  int release[2];
  if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "cannot create pipes";
    return;
  }
  child_ = fork();
  if (child_ == 0) {
    close(ready[0]);
    close(release[1]);
    HoldTransaction(path, begin, ready[1], release[0]);
  }
  close(ready[1]);
  close(release[0]);
  release_ = release[1];
  char signal = 0;
  while (read(ready[0], &signal, 1) < 0 && errno == EINTR) {
  }
  close(ready[0]);
  if (child_ < 0 || signal != '1') {
    ADD_FAILURE() << "the writer could not begin \"" << begin << "\" on " << path;
  }
}

DatabaseWriter::~DatabaseWriter() {
  if (release_ >= 0) {
    close(release_);
  }
  if (child_ > 0) {
    EXPECT_EQ(WaitFor(child_), 0) << "the writer failed";
  }
}

std::string RunInChild(const std::function<std::string()>& body) {
  int channel[2];
  if (pipe2(channel, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "cannot create a pipe";
    return "";
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    WriteAll(channel[1], body());
    _exit(0);
  }
  close(channel[1]);
  std::string text = ReadAll(channel[0]);
  close(channel[0]);
  const int status = child < 0 ? -1 : WaitFor(child);
  EXPECT_EQ(status, 0) << "the child failed; it sent: " << text;
  return text;
}

void BecomeUser(uid_t uid, gid_t gid) {
  if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 ||
      setresuid(uid, uid, uid) != 0 || chdir("/") != 0) {
    std::perror("cannot become the test user");
    _exit(3);
  }
  // Changing the user id makes the process undumpable, which hides /proc/self from it; the
  // sanitizers read their own maps there.
  prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
}

namespace {

const char* const kTestUser = "zorvex-test";

std::optional<TestAccount> LookUpTestUser() {
  const passwd* account = getpwnam(kTestUser);
  if (account == nullptr || account->pw_dir == nullptr) {
    return std::nullopt;
  }
  return TestAccount{account->pw_uid, account->pw_gid, account->pw_dir};
}

}  // namespace

std::optional<TestAccount> TestUserAccount() {
  std::optional<TestAccount> account = LookUpTestUser();
  if (!account && geteuid() == 0) {
    std::string output;
    const int status = Shell("sh '" ZORVEX_TEST_USER_SCRIPT "' 2>&1", &output);
    EXPECT_EQ(status, 0) << output;
    account = LookUpTestUser();
  }
  return account;
}

uid_t UnusedUid() {
  uid_t uid = 40000;
  while (getpwuid(uid) != nullptr) {
    ++uid;
  }
  return uid;
}

void ChangeOwner(const std::string& path, uid_t uid, gid_t gid) {
  EXPECT_EQ(lchown(path.c_str(), uid, gid), 0) << path;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(path, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    EXPECT_EQ(lchown(it->path().c_str(), uid, gid), 0) << it->path();
  }
}

}  // namespace testsupport
