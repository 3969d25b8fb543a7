#include "Account.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

// getpwuid_r: the record of getpwuid lives in storage that every thread shares.
std::optional<std::string> HomeDirectory(uid_t user) {
  const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 1024);
  passwd record{};
  passwd* account = nullptr;
  int error = 0;
  // No account record needs a megabyte; a lookup that keeps asking for more has failed.
  constexpr size_t kLargestBuffer = 1 << 20;
  while ((error = getpwuid_r(user, &record, buffer.data(), buffer.size(), &account)) == ERANGE &&
         buffer.size() < kLargestBuffer) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != 0 || account == nullptr || account->pw_dir == nullptr) {
    return std::nullopt;
  }
  return std::string(account->pw_dir);
}
