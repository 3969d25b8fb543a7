#ifndef DIAG_HOST_OFFLINE_ROOT_H
#define DIAG_HOST_OFFLINE_ROOT_H

#include <string>

#include "ToolFolder.h"

// The audit of a file system that is not running (--root DIR): a chroot, a mounted image, an
// unpacked container root, a backup. As root the process first moves into a mount namespace of
// its own in which DIR is bound read-only, without set-id, devices or execution, so nothing in it
// is written or run; an ordinary user reads it with its own rights. The check then runs with
// ROOT_IC_PATH at DIR's var/corva, DPKG_ADMINDIR at DIR's dpkg database, rpm's database at DIR's
// (usr/lib/sysimage/rpm, else var/lib/rpm, set in the .rpmmacros of a private home put over the
// account's own, as root only) and a PATH of links to this machine's find, grep, which and only the
// package managers whose database DIR has and this run can read.
class OfflineRoot {
 public:
  // Checks `given`, protects it and sets this process's environment for the check. False with the
  // reason in `error` and the exit status in `status`: 64 for "/", 66 for a folder that is not
  // there, 65 for a dpkg database this machine's dpkg cannot read, 71 when protecting fails.
  bool Prepare(const std::string& given, bool verbose, int& status, std::string& error);

  const std::string& dir() const { return dir_; }  // real path, no final "/"
  const std::string& installerRoot() const { return installerRoot_; }
  const std::string& os() const { return os_; }  // as its os-release names it; "" when it does not

 private:
  bool Protect(std::string& error) const;
  bool PointTools(bool verbose, std::string& error);
  bool PointRpm() const;
  bool DpkgReadable(std::string& error) const;

  std::string dir_;
  std::string installerRoot_;
  std::string dpkgAdminDir_;
  std::string rpmDbPath_;
  std::string os_;
  ToolFolder tools_;
};

#endif  // DIAG_HOST_OFFLINE_ROOT_H
