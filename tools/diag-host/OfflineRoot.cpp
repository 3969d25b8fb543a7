#include "OfflineRoot.h"

#include <fcntl.h>
#include <linux/mount.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "AccountHome.h"
#include "AllUsers.h"
#include "HostStatus.h"
#include "OsRelease.h"
#include "PathInRoot.h"

namespace {

bool IsFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The rpm database folder the image's own rpm would open: the newer place first.
std::string RpmDatabase(const std::string& root) {
  for (const char* folder : {"usr/lib/sysimage/rpm", "var/lib/rpm"}) {
    std::string path = PathInRoot(root, folder);
    for (const char* file : {"rpmdb.sqlite", "Packages.db", "Packages"}) {
      if (IsFile(path + "/" + file)) {
        return path;
      }
    }
  }
  return std::string();
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char character : text) {
    quoted += character == '\'' ? std::string("'\\''") : std::string(1, character);
  }
  return quoted + "'";
}

// `text` as a macro's value reads it: "%" doubled.
std::string MacroText(const std::string& text) {
  std::string escaped;
  for (const char character : text) {
    escaped += character == '%' ? std::string("%%") : std::string(1, character);
  }
  return escaped;
}

}  // namespace

// Bound onto itself read-only in a private namespace: what follows reads the same paths, and no
// write, set-id program, device or execution can reach the image, whatever tool is asked.
bool OfflineRoot::Protect(std::string& error) const {
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount(dir_.c_str(), dir_.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
    error = std::string("cannot make a private read-only view of it: ") + std::strerror(errno);
    return false;
  }
  mount_attr attributes{};
  attributes.attr_set =
      MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV | MOUNT_ATTR_NOEXEC;
  if (syscall(SYS_mount_setattr, AT_FDCWD, dir_.c_str(), AT_RECURSIVE, &attributes,
              sizeof attributes) != 0) {
    error = std::string("cannot make it read-only: ") + std::strerror(errno);
    return false;
  }
  return true;
}

// rpm takes its database from the .rpmmacros of the account's home, the one the library gives it
// whatever HOME says: only root, in its own namespace, can put the image's there. Otherwise rpm is
// left out rather than let it list this machine's database as the image's.
bool OfflineRoot::PointRpm() const {
  // A name reached through the image's links may hold anything; "%" would start a macro.
  std::string why = "its path holds characters a macro file cannot take";
  if (PlainPath(rpmDbPath_)) {
    why = "not run as root, rpm would read this machine's database";
    if (geteuid() == 0 &&
        CoverAccountHome(".rpmmacros", "%_dbpath " + MacroText(rpmDbPath_) + "\n", dir_, why)) {
      return true;
    }
  }
  Complain("--root " + dir_ + ": its rpm database " + rpmDbPath_ + " cannot be read (" + why +
           "): rpm not searched");
  return false;
}

bool OfflineRoot::PointTools(bool verbose, std::string& error) {
  const std::string status = PathInRoot(dir_, "var/lib/dpkg/status");
  dpkgAdminDir_ = IsFile(status) ? status.substr(0, status.size() - 7) : std::string();
  rpmDbPath_ = RpmDatabase(dir_);
  const bool rpmFound = !rpmDbPath_.empty();
  if (rpmFound && !PointRpm()) {
    rpmDbPath_.clear();
  }
  std::vector<std::string> tools = {"sh", "find", "grep", "which"};
  if (!dpkgAdminDir_.empty()) {
    tools.insert(tools.end(), {"dpkg", "dpkg-query"});
  } else if (verbose) {
    Complain("--root " + dir_ + ": no dpkg database (var/lib/dpkg/status): not searched");
  }
  if (!rpmDbPath_.empty()) {
    tools.emplace_back("rpm");
  } else if (verbose && !rpmFound) {
    Complain("--root " + dir_ +
             ": no rpm database (usr/lib/sysimage/rpm, var/lib/rpm): "
             "not searched");
  }
  if (!tools_.Make(tools, error)) {
    return false;
  }
  if (dpkgAdminDir_.empty()) {
    unsetenv("DPKG_ADMINDIR");
  } else {
    setenv("DPKG_ADMINDIR", dpkgAdminDir_.c_str(), 1);
  }
  unsetenv("DPKG_ROOT");
  unsetenv("RPM_CONFIGDIR");
  setenv("PATH", tools_.path().c_str(), 1);
  return true;
}

// The library cannot tell a database dpkg refuses from one without family packages; asked here
// once, so an unreadable one is said as such.
bool OfflineRoot::DpkgReadable(std::string& error) const {
  if (dpkgAdminDir_.empty()) {
    return true;
  }
  FILE* query = popen(
      ("dpkg-query --admindir=" + Quoted(dpkgAdminDir_) + " -W -f=. 2>&1 >/dev/null").c_str(), "r");
  if (query == nullptr) {
    error = "cannot run dpkg-query";
    return false;
  }
  char line[512] = "";
  std::string said;
  while (fgets(line, sizeof line, query) != nullptr) {
    said += said.empty() ? line : "";
  }
  if (pclose(query) == 0) {
    return true;
  }
  error = "its dpkg database cannot be read: " + said.substr(0, said.find('\n'));
  return false;
}

bool OfflineRoot::Prepare(const std::string& given, bool verbose, int& status, std::string& error) {
  std::error_code failure;
  dir_ = std::filesystem::canonical(given, failure).string();
  status = kNoInput;
  if (failure) {
    error = "--root " + given + ": " + failure.message();
    return false;
  }
  if (!std::filesystem::is_directory(dir_)) {
    error = "--root " + given + ": not a folder";
    return false;
  }
  status = kUsage;
  if (dir_ == "/") {
    error = "--root " + given + " is this machine's own root; run without --root";
    return false;
  }
  if (!PlainPath(dir_)) {
    error = "--root " + given + ": the path holds characters the installer search cannot take";
    return false;
  }
  status = kSystemFailure;
  if (geteuid() == 0 ? !Protect(error) : false) {
    error = "--root " + given + ": " + error;
    return false;
  }
  if (geteuid() != 0) {
    Complain("note: not run as root: " + dir_ +
             " is read with this user's rights (what it cannot read is left out) and is not "
             "made read-only");
  }
  if (!PointTools(verbose, error)) {
    error = "--root " + given + ": " + error;
    return false;
  }
  status = kBadData;
  if (!DpkgReadable(error)) {
    error = "--root " + given + ": " + error;
    return false;
  }
  installerRoot_ = dir_ + "/var/corva";
  OsRelease release;
  std::string unread;
  if (ReadOsRelease(dir_, release, unread)) {
    os_ = release.Get("PRETTY_NAME", release.Get("ID") + (release.Get("VERSION_ID").empty()
                                                              ? ""
                                                              : " " + release.Get("VERSION_ID")));
  }
  status = kClean;
  return true;
}
