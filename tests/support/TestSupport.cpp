#include "TestSupport.h"

#include <gtest/gtest.h>
#include <json-c/json.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zorvex-test.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary directory from " << pattern;
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Give back what a test took away, so that removal can reach everything.
  for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& relative, const std::string& content) const {
  const std::string full = *this / relative;
  fs::create_directories(fs::path(full).parent_path());
  std::ofstream file(full, std::ios::binary | std::ios::trunc);
  file << content;
  if (!file) {
    ADD_FAILURE() << "cannot write " << full;
  }
  return full;
}

std::string TempDir::MakeDir(const std::string& relative) const {
  const std::string full = *this / relative;
  fs::create_directories(full);
  return full;
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  const char* old = std::getenv(name_.c_str());
  had_ = old != nullptr;
  old_ = had_ ? old : "";
  setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::ScopedEnv(std::string name) : name_(std::move(name)) {
  const char* old = std::getenv(name_.c_str());
  had_ = old != nullptr;
  old_ = had_ ? old : "";
  unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ToolDir::ToolDir() = default;

void ToolDir::Link(const std::string& tool) const {
  const std::string real = FindTool(tool);
  ASSERT_FALSE(real.empty()) << "this machine has no " << tool;
  std::error_code error;
  fs::create_symlink(real, dir_ / tool, error);
  ASSERT_FALSE(error) << "cannot link " << tool << ": " << error.message();
}

void ToolDir::Link(std::initializer_list<const char*> tools) const {
  for (const char* tool : tools) {
    Link(std::string(tool));
  }
}

void ToolDir::Script(const std::string& name, const std::string& body) const {
  const std::string path = dir_.Write(name, "#!/bin/sh\n" + body + "\n");
  chmod(path.c_str(), 0755);
}

std::string FindTool(const std::string& tool) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + tool;
    if (access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return "";
}

int Shell(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return -1;
  }
  char buffer[4096];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    if (output != nullptr) {
      output->append(buffer, got);
    }
  }
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

namespace {

std::string StatusStanza(const DpkgPackage& package) {
  std::ostringstream stanza;
  stanza << "Package: " << package.name << "\n"
         << "Status: " << package.status << "\n"
         << "Priority: optional\n"
         << "Section: misc\n"
         << "Installed-Size: 1\n"
         << "Maintainer: Corva Corporation <packages@corva.example>\n"
         << "Architecture: " << package.architecture << "\n"
         << "Version: " << package.version << "\n"
         << "Description: " << package.description << "\n"
         << " A longer text that the listing does not show.\n\n";
  return stanza.str();
}

std::string StatusFile(const std::vector<DpkgPackage>& packages) {
  std::string status;
  for (const DpkgPackage& package : packages) {
    status += StatusStanza(package);
  }
  return status;
}

}  // namespace

DpkgAdminDir::DpkgAdminDir(const std::vector<DpkgPackage>& packages)
    : env_("DPKG_ADMINDIR", dir_.path()) {
  dir_.Write("status", StatusFile(packages));
  dir_.Write("available", "");
  dir_.MakeDir("info");
  dir_.MakeDir("updates");
}

std::string JsonQuote(const std::string& text) {
  json_object* string = json_object_new_string(text.c_str());
  std::string quoted = json_object_to_json_string(string);
  json_object_put(string);
  return quoted;
}

}  // namespace testsupport
