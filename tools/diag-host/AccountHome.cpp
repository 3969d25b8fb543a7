#include "AccountHome.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

namespace {

// getpwuid_r: the record of getpwuid lives in storage that later look-ups overwrite.
std::optional<std::string> EffectiveUsersHome() {
  std::vector<char> buffer(4096);
  passwd record{};
  passwd* account = nullptr;
  int error = 0;
  while ((error = getpwuid_r(geteuid(), &record, buffer.data(), buffer.size(), &account)) ==
             ERANGE &&
         buffer.size() < (1U << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != 0 || account == nullptr || account->pw_dir == nullptr) {
    return std::nullopt;
  }
  return std::string(account->pw_dir);
}

// `inner` is `outer` or below it (both real paths).
bool Within(const std::string& inner, const std::string& outer) {
  return inner == outer || (inner.rfind(outer, 0) == 0 && inner[outer.size()] == '/');
}

bool Failed(const std::string& what, std::string& error) {
  error = what + ": " + std::strerror(errno);
  return false;
}

// Binds the folder open as `folder` (hidden since) back at `path`, below the new home.
bool BindBack(int folder, const std::string& path, std::string& error) {
  std::error_code failure;
  std::filesystem::create_directories(path, failure);
  const std::string source = "/proc/self/fd/" + std::to_string(folder);
  if (failure || mount(source.c_str(), path.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
    return Failed("cannot show " + path + " again", error);
  }
  return true;
}

// A memory file system over `home`, seen in this mount namespace only, holding `name` alone.
bool Cover(const std::string& home, const std::string& name, const std::string& content,
           std::string& error) {
  if (mount("none", home.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
            "mode=0755,size=64k") != 0) {
    return Failed("cannot cover " + home, error);
  }
  std::ofstream out(home + "/" + name, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) {
    umount2(home.c_str(), MNT_DETACH);
    error = "cannot write " + name + " in the cover of " + home;
    return false;
  }
  return true;
}

}  // namespace

bool CoverAccountHome(const std::string& name, const std::string& content, const std::string& keep,
                      std::string& error) {
  const std::optional<std::string> account = EffectiveUsersHome();
  std::error_code failure;
  const std::string home =
      account ? std::filesystem::canonical(*account, failure).string() : std::string();
  if (!account || failure || home == "/" || !std::filesystem::is_directory(home)) {
    error = "this account has no home folder to cover";
    return false;
  }
  if (Within(home, keep)) {
    error = "this account's home " + home + " is inside it";
    return false;
  }
  const bool keepBelow = Within(keep, home);
  const int kept = keepBelow ? open(keep.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
  if (keepBelow && kept < 0) {
    return Failed("cannot open " + keep, error);
  }
  const bool covered =
      Cover(home, name, content, error) && (!keepBelow || BindBack(kept, keep, error));
  if (kept >= 0) {
    close(kept);
  }
  return covered;
}
