#ifndef DIAG_HOST_PLUGIN_DIRECTORY_H
#define DIAG_HOST_PLUGIN_DIRECTORY_H

#include <optional>
#include <string>
#include <vector>

// What the host loads when the command line names no library: one file, or every plug-in of a
// directory.
struct DefaultPlugins {
  std::string path;
  bool isDirectory = false;
};

// The built-in default of this build of the host: in the build tree the library it was built with,
// installed the plug-in directory of its installation (see DefaultPlugins.cpp).
DefaultPlugins BuiltInPlugins();

// `fromProgram` taken from the folder of the running program, normalised; `fallback` when the
// program's own path cannot be read.
std::string DirectoryBesideProgram(const std::string& fromProgram, const std::string& fallback);

// The plug-ins of `directory`: its files named "*.so" (links to files included), sorted by name.
// Returns false with the reason in `error` when the directory cannot be read or holds none.
bool ListPlugins(const std::string& directory, std::vector<std::string>& plugins,
                 std::string& error);

// Fills `plugins` with what runs without a library argument: the plug-ins of `pluginDir` when it
// is given, otherwise the built-in default. Returns false with the reason in `error` as
// ListPlugins does.
bool FindDefaultPlugins(const std::optional<std::string>& pluginDir,
                        std::vector<std::string>& plugins, std::string& error);

// Says for --help what runs without a library argument.
std::string DescribeDefaultPlugins(const std::optional<std::string>& pluginDir);

#endif  // DIAG_HOST_PLUGIN_DIRECTORY_H
