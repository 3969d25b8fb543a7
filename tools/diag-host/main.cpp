// diag-host: loads check plug-ins, lists their checks and runs them, printing each report as the
// check returned it or in one of the formats of Output.h. See HostUsage for the options and exit
// statuses.
#include <iostream>
#include <string>
#include <vector>

#include "Host.h"
#include "HostOptions.h"
#include "HostStatus.h"
#include "Output.h"
#include "PluginDirectory.h"
#include "StandardOutput.h"

namespace {

// A run that cannot start: the reason on standard error, or for the nagios format in its UNKNOWN
// answer, since a scheduler reads the first line of what it gets.
int Refuse(const HostOptions& options, const std::string& reason, int status,
           const char* hint = "") {
  if (options.format == "nagios") {
    return NagiosUnknown(reason);
  }
  Complain(reason);
  std::cerr << hint;
  return status;
}

int Run(const std::vector<std::string>& arguments) {
  HostOptions options;
  std::string error;
  if (!ParseHostOptions(arguments, options, error)) {
    return Refuse(options, error, kUsage, "Try 'diag-host --help'.\n");
  }
  if (options.help) {
    std::cout << HostUsage(DescribeDefaultPlugins(options.pluginDir));
    return kClean;
  }
  if (options.version) {
    std::cout << "diag-host " ZORVEX_VERSION "\n";
    return kClean;
  }
  if (options.policyFile) {
    const int status = LoadPolicyFile(*options.policyFile, options.policy, error);
    if (status != kClean) {
      return Refuse(options, error, status);
    }
  }
  if (options.libraries.empty() &&
      !FindDefaultPlugins(options.pluginDir, options.libraries, error)) {
    return Refuse(options, error, kBadPlugin);
  }
  Host host(options, MakeOutput(options));
  return host.Run();
}

}  // namespace

int main(int argc, char** argv) {
  PrepareStandardOutput();
  return FinishStandardOutput(Run(std::vector<std::string>(argv + 1, argv + argc)));
}
