#ifndef DIAG_HOST_HOST_H
#define DIAG_HOST_HOST_H

#include <memory>
#include <string>
#include <vector>

#include "AllUsers.h"
#include "HostOptions.h"
#include "OfflineRoot.h"
#include "Output.h"
#include "PluginLibrary.h"

// One invocation of the host: loads the libraries the options name, lists or runs their checks
// and hands every run to the output format asked for. Run returns the exit status.
class Host {
 public:
  Host(const HostOptions& options, std::unique_ptr<Output> output)
      : options_(options), output_(std::move(output)) {}

  int Run();

 private:
  bool PrepareGlobals(std::string& error);
  bool Load(const std::string& path);
  bool Selected(const CheckInfo& info) const {
    return !options_.check || info.name == *options_.check;
  }
  void List(const PluginLibrary& library);
  void RunChecks(const PluginLibrary& library);
  bool PrepareAuditModes(int& status);
  void Hand(CheckResult& result, const PluginLibrary& library, const check_descriptor& check);
  void Raise(int status);
  void Miss(const std::string& reason, int status);

  const HostOptions& options_;
  std::unique_ptr<Output> output_;
  // The texts the library's globals point at while it runs.
  std::string installerRoot_;
  std::string userInstallerDir_;
  // The audit modes, when asked for.
  std::unique_ptr<OfflineRoot> root_;
  std::unique_ptr<AllUsersAudit> allUsers_;
  std::vector<std::unique_ptr<PluginLibrary>> libraries_;
  size_t selected_ = 0;
  int status_ = 0;
};

#endif  // DIAG_HOST_HOST_H
