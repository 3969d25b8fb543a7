#ifndef ZORVEX_ACCOUNT_H
#define ZORVEX_ACCOUNT_H

#include <sys/types.h>

#include <optional>
#include <string>

// The home directory of `user` from the account database, or nullopt without an account or a
// home. Safe from any thread.
std::optional<std::string> HomeDirectory(uid_t user);

#endif  // ZORVEX_ACCOUNT_H
