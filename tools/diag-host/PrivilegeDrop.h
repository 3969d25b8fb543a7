#ifndef DIAG_HOST_PRIVILEGE_DROP_H
#define DIAG_HOST_PRIVILEGE_DROP_H

#include <sys/types.h>

#include <string>
#include <vector>

// Who a child process becomes for good.
struct AccountIds {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;  // supplementary groups
};

// In a child about to read data of `account`'s: becomes that account for good. Sets the groups,
// then the group ids, then the user ids, and makes sure the way back is closed: setuid(0) fails,
// no capability is left, the process cannot be attached to or dumped and gains no privilege by
// executing a set-id program. Returns false with the step that failed in `error`.
bool DropToAccount(const AccountIds& account, std::string& error);

// In a child: standard input, output and error on /dev/null, `keep` as descriptor 3, and every
// other descriptor closed, so nothing the parent had open is left to the child. False when a
// step fails.
bool KeepOnlyDescriptor(int keep);

#endif  // DIAG_HOST_PRIVILEGE_DROP_H
