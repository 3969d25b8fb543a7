#include "LoadedPlugin.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace e2e {

namespace {

// Appended to the home directory of an ordinary user; never exists.
const char* const kAbsentUserDir = "/.zorvex-e2e-absent";

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

int ExitStatus(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child) {
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

LoadedPlugin::LoadedPlugin()
    : handle_(dlopen(ZORVEX_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL)),
      root_(nullptr),
      user_(nullptr),
      originalRoot_(nullptr),
      originalUser_(nullptr) {
  if (handle_ == nullptr) {
    ADD_FAILURE() << "cannot load " << ZORVEX_PLUGIN_PATH << ": " << dlerror();
    return;
  }
  root_ = static_cast<const char**>(Symbol("ROOT_IC_PATH"));
  user_ = static_cast<const char**>(Symbol("USER_IC_PATH"));
  if (root_ != nullptr && user_ != nullptr) {
    originalRoot_ = *root_;
    originalUser_ = *user_;
    *user_ = kAbsentUserDir;
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

MainRun LoadedPlugin::RunMain() const {
  auto* entry = reinterpret_cast<int (*)()>(Symbol("main"));
  MainRun run;
  int pipeEnds[2];
  if (entry == nullptr || pipe(pipeEnds) != 0) {
    ADD_FAILURE() << "cannot run main";
    return run;
  }
  std::fflush(nullptr);  // the child must not repeat what this process has buffered
  const pid_t child = fork();
  if (child == 0) {
    close(pipeEnds[0]);
    dup2(pipeEnds[1], STDOUT_FILENO);
    const int status = entry();
    std::fflush(nullptr);
    _exit(status);
  }
  close(pipeEnds[1]);
  run.output = ReadAll(pipeEnds[0]);
  close(pipeEnds[0]);
  run.status = child > 0 ? ExitStatus(child) : -1;
  return run;
}

std::string WriteInstallerTree(const testsupport::TempDir& tree,
                               const std::vector<InstallerProduct>& products) {
  const std::string cache = tree.MakeDir("corva/zorvex") + "/";
  std::vector<testsupport::InstallerComponent> components{{"zorvex.helpers", "2.4.0"}};
  testsupport::WriteManifest(cache, "zorvex.helpers", "2.4.0",
                             testsupport::ManifestJson(false, {{"en-us", "Helpers", "", "2.4"}}));
  for (const InstallerProduct& product : products) {
    components.push_back({product.id, product.version});
    testsupport::WriteManifest(
        cache, product.id, product.version,
        testsupport::ManifestJson(
            true, {{"fr", "Autre titre", "Autre", "0"},
                   {"en-us", product.title, product.description, product.shownVersion}}));
  }
  testsupport::CreateInstallerDatabase(cache, kInstallDir, components);
  return tree / "corva";
}

}  // namespace e2e
