#include "PluginDirectory.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::string DirectoryBesideProgram(const std::string& fromProgram, const std::string& fallback) {
  std::error_code failure;
  // The kernel's link names the program's real path, so ".." below climbs real folders.
  const fs::path program = fs::read_symlink("/proc/self/exe", failure);
  if (failure || program.empty()) {
    return fallback;
  }
  return (program.parent_path() / fromProgram).lexically_normal().string();
}

bool ListPlugins(const std::string& directory, std::vector<std::string>& plugins,
                 std::string& error) {
  std::error_code failure;
  fs::directory_iterator entries(directory, failure);
  std::vector<std::string> found;
  for (; !failure && entries != fs::directory_iterator(); entries.increment(failure)) {
    const fs::directory_entry& entry = *entries;
    std::error_code ignored;
    if (entry.path().extension() == ".so" && entry.is_regular_file(ignored)) {
      found.push_back(entry.path().string());
    }
  }
  if (failure) {
    error = "cannot read the plug-in directory " + directory + ": " + failure.message();
    return false;
  }
  if (found.empty()) {
    error = "no plug-in (*.so) in the plug-in directory " + directory;
    return false;
  }
  std::sort(found.begin(), found.end());
  plugins.insert(plugins.end(), found.begin(), found.end());
  return true;
}

bool FindDefaultPlugins(const std::optional<std::string>& pluginDir,
                        std::vector<std::string>& plugins, std::string& error) {
  if (pluginDir) {
    return ListPlugins(*pluginDir, plugins, error);
  }
  const DefaultPlugins builtIn = BuiltInPlugins();
  if (builtIn.isDirectory) {
    return ListPlugins(builtIn.path, plugins, error);
  }
  plugins.push_back(builtIn.path);
  return true;
}

std::string DescribeDefaultPlugins(const std::optional<std::string>& pluginDir) {
  const DefaultPlugins plugins = pluginDir ? DefaultPlugins{*pluginDir, true} : BuiltInPlugins();
  return plugins.isDirectory ? "every plug-in in " + plugins.path : plugins.path;
}
