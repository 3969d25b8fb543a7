#include "PrivilegeDrop.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool Failed(const char* step, std::string& error) {
  error = std::string(step) + ": " + std::strerror(errno);
  return false;
}

// Every capability set empty: the kernel clears them when all user ids leave 0, checked here
// rather than assumed.
bool NoCapabilityLeft() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) {
    return false;
  }
  for (const auto& set : data) {
    if (set.effective != 0 || set.permitted != 0 || set.inheritable != 0) {
      return false;
    }
  }
  return prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, CAP_SYS_ADMIN, 0, 0) <= 0;
}

}  // namespace

bool DropToAccount(const AccountIds& account, std::string& error) {
  if (account.uid == 0) {
    error = "refusing to run as the superuser";
    return false;
  }
  if (setgroups(account.groups.size(), account.groups.data()) != 0) {
    return Failed("setgroups", error);
  }
  if (setresgid(account.gid, account.gid, account.gid) != 0) {
    return Failed("setresgid", error);
  }
  if (setresuid(account.uid, account.uid, account.uid) != 0) {
    return Failed("setresuid", error);
  }
  uid_t real = 0, effective = 0, saved = 0;
  gid_t realGroup = 0, effectiveGroup = 0, savedGroup = 0;
  if (getresuid(&real, &effective, &saved) != 0 || real != account.uid ||
      effective != account.uid || saved != account.uid ||
      getresgid(&realGroup, &effectiveGroup, &savedGroup) != 0 || realGroup != account.gid ||
      effectiveGroup != account.gid || savedGroup != account.gid) {
    error = "the ids did not change";
    return false;
  }
  if (setuid(0) == 0) {
    error = "setuid(0) still succeeds";
    return false;
  }
  if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
    return Failed("PR_SET_DUMPABLE", error);
  }
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
    return Failed("PR_SET_NO_NEW_PRIVS", error);
  }
  if (!NoCapabilityLeft()) {
    error = "a capability is left";
    return false;
  }
  return true;
}

bool KeepOnlyDescriptor(int keep) {
  // Moved out of the way first: `keep` may itself be one of 0 to 3.
  const int moved = fcntl(keep, F_DUPFD_CLOEXEC, 10);
  const int nothing = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (moved < 0 || nothing < 0) {
    return false;
  }
  for (int standard = 0; standard < 3; ++standard) {
    if (nothing != standard && dup2(nothing, standard) != standard) {
      return false;
    }
  }
  // Close-on-exec: the commands the check runs never hold the answer open.
  return dup3(moved, 3, O_CLOEXEC) == 3 && syscall(SYS_close_range, 4U, ~0U, 0U) == 0;
}
