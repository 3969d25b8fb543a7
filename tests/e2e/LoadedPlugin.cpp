#include "LoadedPlugin.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <unistd.h>

#include <filesystem>

namespace e2e {

LoadedPlugin::LoadedPlugin() : handle_(dlopen(ZORVEX_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL)) {
  if (handle_ == nullptr) {
    ADD_FAILURE() << "cannot load " << ZORVEX_PLUGIN_PATH << ": " << dlerror();
    return;
  }
  root_ = static_cast<const char**>(Symbol("ROOT_IC_PATH"));
  user_ = static_cast<const char**>(Symbol("USER_IC_PATH"));
  if (root_ != nullptr && user_ != nullptr) {
    originalRoot_ = *root_;
    originalUser_ = *user_;
    *user_ = "/.zorvex-e2e-absent";  // appended to an ordinary user's home: never exists
  }
}

LoadedPlugin::~LoadedPlugin() {
  if (handle_ != nullptr) {
    RestoreLocations();
    dlclose(handle_);
  }
}

void* LoadedPlugin::Symbol(const char* name) const {
  void* address = handle_ != nullptr ? dlsym(handle_, name) : nullptr;
  EXPECT_NE(address, nullptr) << "the library does not export " << name;
  return address;
}

void LoadedPlugin::SetInstallerRoot(const std::string& directory) {
  installerRoot_ = directory;
  if (root_ != nullptr) {
    *root_ = installerRoot_.c_str();
  }
}

void LoadedPlugin::RestoreLocations() {
  if (root_ != nullptr && user_ != nullptr) {
    *root_ = originalRoot_;
    *user_ = originalUser_;
  }
}

std::string LoadedPlugin::RunCheck(void* argument) const {
  auto** list = reinterpret_cast<check_descriptor** (*)()>(Symbol("get_check_list"))();
  char* report = list[0]->run(argument);
  if (report == nullptr) {
    ADD_FAILURE() << "the check returned no report";
    return "";
  }
  std::string text = report;
  delete[] report;
  return text;
}

testsupport::ChildRun LoadedPlugin::RunMain() const {
  auto* entry = reinterpret_cast<int (*)()>(Symbol("main"));
  if (entry == nullptr) {
    return {};
  }
  return testsupport::RunForked([entry](int out) {
    dup2(out, STDOUT_FILENO);
    return entry();
  });
}

namespace {

json_object* Member(json_object* object, const char* name) {
  json_object* member = nullptr;
  return json_object_object_get_ex(object, name, &member) ? member : nullptr;
}

std::string Text(json_object* value) {
  const char* text = json_object_get_string(value);
  return text != nullptr ? text : "";
}

void SummarizeProducts(json_object* map, ReportSummary& summary) {
  json_object_object_foreach(map, name, product) {
    summary.products.emplace_back(name);
    std::map<std::string, std::string>& details = summary.details[name];
    json_object_object_foreach(Member(product, "Value"), detail, node) {
      details[detail] = Text(Member(node, "Value"));
    }
  }
}

}  // namespace

ReportSummary Summarize(const std::string& report) {
  ReportSummary summary;
  json_tokener* tokener = json_tokener_new();
  json_tokener_set_flags(tokener, JSON_TOKENER_STRICT);
  json_object* root =
      json_tokener_parse_ex(tokener, report.c_str(), static_cast<int>(report.size()));
  summary.complete = root != nullptr && json_tokener_get_error(tokener) == json_tokener_success &&
                     json_tokener_get_parse_end(tokener) == report.size();
  json_tokener_free(tokener);
  if (!summary.complete) {
    json_object_put(root);
    return summary;
  }
  json_object* node =
      Member(Member(Member(Member(root, "Value"), "APP"), "Value"), "Zorvex products");
  json_object* value = Member(node, "Value");
  summary.message = Text(Member(node, "Message"));
  if (json_object_is_type(value, json_type_string)) {
    const std::string text = Text(value);
    const std::string first = testsupport::kNoProductsLine;
    summary.information =
        text.compare(0, first.size(), first) == 0 ? text.substr(first.size()) : text;
  } else {
    summary.command = Text(Member(node, "Command"));
    SummarizeProducts(value, summary);
  }
  json_object_put(root);
  return summary;
}

ReportSummary SummarizeComplete(const std::string& report) {
  ReportSummary summary = Summarize(report);
  EXPECT_TRUE(summary.complete) << report;
  return summary;
}

HostRun RunDiagHost(const std::string& arguments, const testsupport::TempDir& scratch) {
  HostRun run;
  const std::string errors = scratch / "stderr";
  run.status =
      testsupport::Shell(std::string(DIAG_HOST_PATH) + " --user-installer-dir '" +
                             (scratch / "absent") + "' " + arguments + " 2>'" + errors + "'",
                         &run.out);
  run.err = testsupport::ReadFile(errors);
  return run;
}

SampleInstallation::SampleInstallation() {
  std::filesystem::copy(ZORVEX_SAMPLE_DIR, dir_.path(), std::filesystem::copy_options::recursive);
  testsupport::ExecuteSql(Cache() + "packagemanager.db",
                          testsupport::ReadFile(Cache() + "packagemanager.sql"));
  dir_.MakeDir("dpkg/info");
  dir_.MakeDir("dpkg/updates");
  admin_.emplace("DPKG_ADMINDIR", AdminDir());
}

}  // namespace e2e
