#ifndef ZORVEX_FIXTURES_LIBRARY_ADAPTERS_H
#define ZORVEX_FIXTURES_LIBRARY_ADAPTERS_H

#include <string>
#include <vector>

// The library's own state, set and read the way a run does, for tests that link it directly.
namespace testsupport {

// Reads the databases of `caches` as a run does (BInstallerChecker::GetAppInfo after setting
// CachePaths): "true: " or "false: ", then the text.
std::string ReadAllDatabases(const std::vector<std::string>& caches);

// Points ROOT_IC_PATH and USER_IC_PATH at test trees for the scope (DB_NAME stays) and empties
// BInstallerChecker::CachePaths on entry and exit. The default per-user directory is one that no
// home holds, so that only the system-wide tree is found.
class InstallerLocations {
 public:
  explicit InstallerLocations(std::string root, std::string user = "/.zorvex-test-absent");
  ~InstallerLocations();
  InstallerLocations(const InstallerLocations&) = delete;
  InstallerLocations& operator=(const InstallerLocations&) = delete;

 private:
  std::string root_;
  std::string user_;
  const char* oldRoot_;
  const char* oldUser_;
};

}  // namespace testsupport

#endif  // ZORVEX_FIXTURES_LIBRARY_ADAPTERS_H
