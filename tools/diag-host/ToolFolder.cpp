#include "ToolFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// The first executable `tool` on `path`, resolved to its real file.
std::string FindOnPath(const std::string& tool, const std::string& path) {
  std::stringstream folders(path);
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + tool;
    if (folder.rfind('/', 0) == 0 && access(candidate.c_str(), X_OK) == 0) {
      std::error_code failure;
      const auto real = std::filesystem::canonical(candidate, failure);
      return failure ? candidate : real.string();
    }
  }
  return std::string();
}

}  // namespace

ToolFolder::~ToolFolder() {
  if (!path_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
}

bool ToolFolder::Make(const std::vector<std::string>& tools, std::string& error) {
  // Root's PATH keeps only folders no one else can change: a TMPDIR a user kept for root (sudo -E)
  // would have the folder dropped from it and this machine's own tools found instead.
  const char* base = geteuid() == 0 ? nullptr : std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/diag-host-tools.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    error = "cannot make a tool folder in " + pattern + ": " + std::strerror(errno);
    return false;
  }
  path_ = pattern;
  chmod(path_.c_str(), 0755);
  const char* path = std::getenv("PATH");
  for (const std::string& tool : tools) {
    const std::string found = FindOnPath(tool, path != nullptr ? path : "/usr/bin:/bin");
    if (found.empty()) {
      error = "this machine has no " + tool;
      return false;
    }
    if (symlink(found.c_str(), (path_ + "/" + tool).c_str()) != 0) {
      error = "cannot link " + tool + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

bool ToolFolder::Write(const std::string& name, const std::string& content,
                       std::string& error) const {
  const std::string file = path_ + "/" + name;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out || chmod(file.c_str(), 0644) != 0) {
    error = "cannot write " + file;
    return false;
  }
  return true;
}
