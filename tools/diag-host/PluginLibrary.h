#ifndef DIAG_HOST_PLUGIN_LIBRARY_H
#define DIAG_HOST_PLUGIN_LIBRARY_H

#include <memory>
#include <string>
#include <vector>

#include "zorvex_plugin.h"

// The interface version this host speaks.
constexpr const char* kHostApiVersion = "0.1";

// The descriptor's texts, each read up to its NUL or its field's end.
struct CheckInfo {
  std::string name;
  std::string kind;
  std::string groups;
  std::string description;
  std::string version;
};

// What running one check gave: the report text, or why there is none.
struct CheckRun {
  bool received = false;
  std::string report;
  std::string error;
};

// One check plug-in loaded with dlopen. Unloaded when the object goes.
class PluginLibrary {
 public:
  // Loads `path` and checks its interface: get_api_version must yield "0.1" and get_check_list
  // must be there. Returns null with the reason in `error` otherwise.
  static std::unique_ptr<PluginLibrary> Open(const std::string& path, std::string& error);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  const std::string& path() const { return path_; }
  // The descriptors of the null-terminated check list, in list order.
  const std::vector<const check_descriptor*>& checks() const { return checks_; }

  // Points the exported text pointer `name` (ROOT_IC_PATH, say) at `value`, which must outlive
  // every run. Returns false with the reason in `error` when the library does not export it.
  bool SetGlobalText(const char* name, const char* value, std::string& error) const;

  static CheckInfo Describe(const check_descriptor& check);
  // Runs the check and takes over its report, releasing the library's buffer with delete[].
  static CheckRun Run(const check_descriptor& check);

 private:
  PluginLibrary(std::string path, void* handle) : path_(std::move(path)), handle_(handle) {}
  bool ReadInterface(std::string& error);

  std::string path_;
  void* handle_;
  std::vector<const check_descriptor*> checks_;
};

#endif  // DIAG_HOST_PLUGIN_LIBRARY_H
