#ifndef ZORVEX_E2E_LOADED_PLUGIN_H
#define ZORVEX_E2E_LOADED_PLUGIN_H

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "zorvex_plugin.h"

namespace e2e {

// The built libzorvex_checker.so, loaded with dlopen as a host loads it; every symbol is reached
// through dlsym. The exported search locations are restored when the object goes, and while it
// lives the per-user search (made by ordinary users only) points at a directory that does not
// exist, so that the reports do not depend on who runs the tests.
class LoadedPlugin {
 public:
  LoadedPlugin();
  ~LoadedPlugin();
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  // The address of an exported symbol; fails the test when there is none.
  void* Symbol(const char* name) const;

  // Points ROOT_IC_PATH at `directory` (kept alive by this object).
  void SetInstallerRoot(const std::string& directory);
  // Puts back the locations the library was loaded with.
  void RestoreLocations();

  // Runs the check through the descriptor's run pointer, as a host does, and releases the buffer.
  std::string RunCheck(void* argument = nullptr) const;
  // Runs the exported main in a child process, capturing its standard output and exit status.
  testsupport::ChildRun RunMain() const;

 private:
  void* handle_;
  const char** root_ = nullptr;
  const char** user_ = nullptr;
  const char* originalRoot_ = nullptr;
  const char* originalUser_ = nullptr;
  std::string installerRoot_;
};

// What a diag-host child process printed and returned.
struct HostRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the built diag-host with `arguments` (already quoted for the shell), its standard error
// going through a file in `scratch`. The per-user search points at a directory that does not
// exist, so that the reports do not depend on who runs the tests.
HostRun RunDiagHost(const std::string& arguments, const testsupport::TempDir& scratch);

// What a report holds, read back with json-c's strict parser.
struct ReportSummary {
  bool complete = false;  // one strict JSON text, and nothing after it
  std::string command;    // the product node's "Command"; empty in the nothing-found form
  std::vector<std::string> products;  // the member names of the product map, in order
  // Per product, the "Value" text of each of its details ("Version", "Path", ...).
  std::map<std::string, std::map<std::string, std::string>> details;
  std::string information;  // the nothing-found text after its fixed first line
  std::string message;      // the product node's "Message": what failed, in either form
};

// Reads `report` back. A report that is not complete JSON leaves everything but `complete` empty.
ReportSummary Summarize(const std::string& report);

// Summarize, failing the test when `report` is not complete JSON.
ReportSummary SummarizeComplete(const std::string& report);

// A copy of examples/sample-installation in a folder of its own: the installer tree with its
// database made from its SQL script, and the dpkg database, which DPKG_ADMINDIR points at while
// the object lives.
class SampleInstallation {
 public:
  SampleInstallation();
  // The folder to search for installer databases.
  std::string InstallerRoot() const { return dir_ / "corva"; }
  // The cache folder of the sample's one database, with its final "/".
  std::string Cache() const { return dir_ / "corva/zorvex-2024.2/"; }
  std::string AdminDir() const { return dir_ / "dpkg"; }

 private:
  testsupport::TempDir dir_;
  std::optional<testsupport::ScopedEnv> admin_;
};

// The installation directory that the installer trees of the end-to-end tests record.
constexpr const char* kInstallDir = "/opt/corva/zorvex/2.4";

}  // namespace e2e

#endif  // ZORVEX_E2E_LOADED_PLUGIN_H
