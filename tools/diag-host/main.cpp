// diag-host: loads check plug-ins, lists their checks and runs them, printing each report as the
// check returned it or in one of the formats of Output.h. See HostUsage for the options and exit
// statuses.
#include <iostream>
#include <string>
#include <vector>

#include "Host.h"
#include "HostOptions.h"
#include "HostStatus.h"
#include "PluginDirectory.h"
#include "StandardOutput.h"

namespace {

int Run(const std::vector<std::string>& arguments) {
  HostOptions options;
  std::string error;
  if (!ParseHostOptions(arguments, options, error)) {
    Complain(error);
    std::cerr << "Try 'diag-host --help'.\n";
    return kUsage;
  }
  if (options.help) {
    std::cout << HostUsage(DescribeDefaultPlugins(options.pluginDir));
    return kClean;
  }
  if (options.version) {
    std::cout << "diag-host " ZORVEX_VERSION "\n";
    return kClean;
  }
  if (options.libraries.empty() &&
      !FindDefaultPlugins(options.pluginDir, options.libraries, error)) {
    Complain(error);
    return kBadPlugin;
  }
  Host host(options, MakeOutput(options));
  return host.Run();
}

}  // namespace

int main(int argc, char** argv) {
  PrepareStandardOutput();
  return FinishStandardOutput(Run(std::vector<std::string>(argv + 1, argv + argc)));
}
