#include "PluginLibrary.h"

#include <dlfcn.h>

#include <cstring>

#include "PluginFile.h"

namespace {

// A list longer than this is taken for a list without its terminating null.
constexpr size_t kMaxChecks = 1024;

std::string FieldText(const char (&field)[ZORVEX_TEXT_FIELD_SIZE]) {
  return std::string(field, strnlen(field, sizeof field));
}

std::string LastLoaderError() {
  const char* error = dlerror();
  return error != nullptr ? error : "unknown loader error";
}

}  // namespace

std::unique_ptr<PluginLibrary> PluginLibrary::Open(const std::string& path, std::string& error) {
  // A name without "/" would send dlopen through the library search path; the user means a file.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  if (!PluginFileIsWhole(file, error)) {
    return nullptr;
  }
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    error = "cannot load " + path + ": " + LastLoaderError();
    return nullptr;
  }
  std::unique_ptr<PluginLibrary> library(new PluginLibrary(path, handle));
  if (!library->ReadInterface(error)) {
    return nullptr;
  }
  return library;
}

PluginLibrary::~PluginLibrary() { dlclose(handle_); }

bool PluginLibrary::ReadInterface(std::string& error) {
  using GetApiVersion = char* (*)();
  using GetCheckList = check_descriptor** (*)();
  auto* getApiVersion = reinterpret_cast<GetApiVersion>(dlsym(handle_, "get_api_version"));
  auto* getCheckList = reinterpret_cast<GetCheckList>(dlsym(handle_, "get_check_list"));
  if (getApiVersion == nullptr || getCheckList == nullptr) {
    error = path_ + " is not a check plug-in: it does not export " +
            (getApiVersion == nullptr ? "get_api_version" : "get_check_list");
    return false;
  }
  const char* version = getApiVersion();
  if (version == nullptr || std::strcmp(version, kHostApiVersion) != 0) {
    error = path_ + " speaks interface version \"" + (version != nullptr ? version : "") +
            "\"; this host speaks \"" + kHostApiVersion + "\"";
    return false;
  }
  check_descriptor** list = getCheckList();
  for (size_t i = 0; list != nullptr && list[i] != nullptr; ++i) {
    if (i == kMaxChecks) {
      error = path_ + " has a check list without an end";
      return false;
    }
    checks_.push_back(list[i]);
  }
  return true;
}

bool PluginLibrary::SetGlobalText(const char* name, const char* value, std::string& error) const {
  auto* global = static_cast<const char**>(dlsym(handle_, name));
  if (global == nullptr) {
    error = path_ + " does not export " + name;
    return false;
  }
  *global = value;
  return true;
}

CheckInfo PluginLibrary::Describe(const check_descriptor& check) {
  return {FieldText(check.check_name), FieldText(check.check_kind), FieldText(check.check_groups),
          FieldText(check.check_description), FieldText(check.check_version)};
}

CheckRun PluginLibrary::Run(const check_descriptor& check) {
  CheckRun run;
  if (check.run == nullptr) {
    run.error = "has no run function";
    return run;
  }
  char* report = nullptr;
  try {
    report = check.run(nullptr);
  } catch (...) {
    // The check failed inside; the library gives no text in that case.
    run.error = "failed with an exception";
    return run;
  }
  if (report == nullptr) {
    run.error = "returned no report";
    return run;
  }
  run.report = report;
  delete[] report;
  run.received = true;
  return run;
}
