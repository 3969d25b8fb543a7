#include "LibraryAdapters.h"

#include "BInstallerChecker.h"
#include "zorvex_plugin.h"

namespace testsupport {

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
