#include "PathInRoot.h"

#include <filesystem>

std::string PathInRoot(const std::string& root, const std::string& path) {
  const std::string relative = path.rfind('/', 0) == 0 ? path.substr(1) : path;
  if (root.empty()) {
    return "/" + relative;
  }
  std::error_code failure;
  std::string resolved = std::filesystem::weakly_canonical(root + "/" + relative, failure).string();
  if (failure || (resolved != root && resolved.rfind(root + "/", 0) != 0)) {
    return std::string();
  }
  return resolved;
}
