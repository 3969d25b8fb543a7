#include "ScopedState.h"

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

namespace {

void PrintAndExit(const std::string& message) {
  std::fprintf(stderr, "fixture setup failed: %s\n", message.c_str());
  std::exit(1);
}

FailureHandler failureHandler = &PrintAndExit;

std::string MakeTempDir(const std::string& base) {
  std::string pattern = base + "/zorvex-test.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    Fail("cannot create a temporary directory in " + base);
  }
  return pattern;
}

std::string DefaultTempBase() {
  const char* base = std::getenv("TMPDIR");
  return base != nullptr && *base != '\0' ? base : "/tmp";
}

}  // namespace

void SetFailureHandler(FailureHandler handler) { failureHandler = handler; }

void Fail(const std::string& message) { failureHandler(message); }

TempDir::TempDir() : path_(MakeTempDir(DefaultTempBase())) {}

TempDir::TempDir(const std::string& base) : path_(MakeTempDir(base)) {}

TempDir::~TempDir() {
  std::error_code ignored;
  // Give back what a test took away, so that removal can reach everything.
  for (auto it = fs::recursive_directory_iterator(
           path_, fs::directory_options::skip_permission_denied, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& relative, const std::string& content) const {
  std::string full = *this / relative;
  WriteFile(full, content);
  return full;
}

std::string TempDir::MakeDir(const std::string& relative) const {
  std::string full = *this / relative;
  fs::create_directories(full);
  return full;
}

void WriteFile(const std::string& path, const std::string& content) {
  std::error_code ignored;
  fs::create_directories(fs::path(path).parent_path(), ignored);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
  if (!file) {
    Fail("cannot write " + path);
  }
}

// Setting keeps a variable's place in the environment, which children see in that order.
ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  Save();
  setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::ScopedEnv(std::string name) : name_(std::move(name)) {
  Save();
  unsetenv(name_.c_str());
}

void ScopedEnv::Save() {
  const char* old = std::getenv(name_.c_str());
  had_ = old != nullptr;
  old_ = had_ ? old : "";
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

void ToolDir::Link(const std::vector<std::string>& tools) const {
  for (const std::string& tool : tools) {
    const std::string real = FindTool(tool);
    std::error_code error;
    if (real.empty()) {
      Fail("this machine has no " + tool);
    } else if (fs::create_symlink(real, dir_ / tool, error); error) {
      Fail("cannot link " + tool + ": " + error.message());
    }
  }
}

void ToolDir::Script(const std::string& name, const std::string& body) const {
  const std::string path = dir_.Write(name, "#!/bin/sh\n" + body + "\n");
  chmod(path.c_str(), 0755);
}

ToolsOnPath::ToolsOnPath(const std::vector<std::string>& tools, const std::string& whichBody) {
  tools_.Link(tools);
  if (!whichBody.empty()) {
    tools_.Script("which", whichBody);
  }
  path_.emplace("PATH", tools_.path());
}

std::string FindTool(const std::string& tool) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = (dir.empty() ? "." : dir) + "/" + tool;
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
  char buffer[65536];
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

HangGuard::HangGuard(unsigned int seconds) { alarm(seconds); }

HangGuard::~HangGuard() { alarm(0); }

}  // namespace testsupport
