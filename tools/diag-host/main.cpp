// diag-host: loads check plug-ins, lists their checks and runs them, printing each report as the
// check returned it or as a readable tree. See HostUsage for the options and exit statuses.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "HostOptions.h"
#include "PluginDirectory.h"
#include "PluginLibrary.h"
#include "ProductList.h"
#include "PrometheusText.h"
#include "TextReport.h"
#include "WholeFile.h"

namespace {

// Exit statuses; when several apply, the highest wins.
enum ExitStatus : int {
  kClean = 0,
  kFailReported = 2,
  kErrorReported = 3,
  kNoReport = 4,
  kBadPlugin = 5,
  kUsage = 64,
  kCannotWrite = 73,
};

void Complain(const std::string& message) { std::cerr << "diag-host: " << message << "\n"; }

// The status a report speaks for by the words it holds: "ERROR" outranks "FAIL".
int ReportStatus(const std::string& report) {
  if (report.find("ERROR") != std::string::npos) {
    return kErrorReported;
  }
  if (report.find("FAIL") != std::string::npos) {
    return kFailReported;
  }
  return kClean;
}

// The library appends USER_IC_PATH to the home directory of the account; climbing from there to
// "/" lets the text name any directory. The depth is that of the home directory's real path,
// since ".." follows the real path. (A home that does not exist cannot be climbed from; the
// search then finds nothing, as it would in the home itself.)
bool UserInstallerSuffix(const std::string& directory, std::string& suffix, std::string& error) {
  const passwd* account = getpwuid(geteuid());
  if (account == nullptr || account->pw_dir == nullptr) {
    error = "--user-installer-dir: the current user has no home directory";
    return false;
  }
  std::error_code failure;
  const std::filesystem::path home = std::filesystem::weakly_canonical(account->pw_dir, failure);
  suffix.clear();
  for (const auto& part :
       (failure ? std::filesystem::path(account->pw_dir) : home).relative_path()) {
    if (!part.empty()) {
      suffix += "/..";
    }
  }
  suffix += std::filesystem::absolute(directory).string();
  return true;
}

// A check's report with the status the host reads from it, when the run began and how long it
// took.
struct TimedRun {
  std::string report;
  int status;
  double startedAt;  // seconds since the epoch
  double seconds;
};

class Host {
 public:
  explicit Host(const HostOptions& options) : options_(options) {}

  int Run();

 private:
  bool PrepareGlobals(std::string& error);
  bool Load(const std::string& path);
  bool Selected(const CheckInfo& info) const {
    return !options_.check || info.name == *options_.check;
  }
  void List(const PluginLibrary& library);
  void RunChecks(const PluginLibrary& library);
  void Print(const PluginLibrary& library, const CheckInfo& info, const TimedRun& run);
  void Collect(const PluginLibrary& library, const CheckInfo& info, const TimedRun& run);
  void WriteMetrics();
  void Raise(int status) { status_ = std::max(status_, status); }

  const HostOptions& options_;
  // The texts the library's globals point at while it runs.
  std::string installerRoot_;
  std::string userInstallerDir_;
  std::vector<std::unique_ptr<PluginLibrary>> libraries_;
  PrometheusMetrics metrics_;
  size_t selected_ = 0;
  int status_ = kClean;
};

bool Host::PrepareGlobals(std::string& error) {
  if (options_.installerRoot) {
    installerRoot_ = std::filesystem::absolute(*options_.installerRoot).string();
  }
  if (options_.userInstallerDir) {
    if (geteuid() == 0) {
      Complain(
          "note: the superuser's own installer directory is never searched; "
          "--user-installer-dir has no effect");
    }
    return UserInstallerSuffix(*options_.userInstallerDir, userInstallerDir_, error);
  }
  return true;
}

bool Host::Load(const std::string& path) {
  std::string error;
  std::unique_ptr<PluginLibrary> library = PluginLibrary::Open(path, error);
  const bool ready = library != nullptr &&
                     (!options_.installerRoot ||
                      library->SetGlobalText("ROOT_IC_PATH", installerRoot_.c_str(), error)) &&
                     (!options_.userInstallerDir ||
                      library->SetGlobalText("USER_IC_PATH", userInstallerDir_.c_str(), error));
  if (!ready) {
    Complain(error);
    Raise(kBadPlugin);
    return false;
  }
  libraries_.push_back(std::move(library));
  return true;
}

void Host::List(const PluginLibrary& library) {
  std::cout << library.path() << " (interface " << kHostApiVersion << ")\n";
  for (const check_descriptor* check : library.checks()) {
    const CheckInfo info = PluginLibrary::Describe(*check);
    if (!Selected(info)) {
      continue;
    }
    ++selected_;
    std::cout << "  " << info.name << "\n"
              << "    kind:        " << info.kind << "\n"
              << "    groups:      " << info.groups << "\n"
              << "    description: " << info.description << "\n"
              << "    version:     " << info.version << "\n";
  }
}

void Host::Print(const PluginLibrary& library, const CheckInfo& info, const TimedRun& run) {
  if (options_.format == HostOptions::Format::kJson) {
    std::cout << run.report << "\n";
    return;
  }
  if (options_.format != HostOptions::Format::kText) {
    Collect(library, info, run);
    return;
  }
  std::string text;
  if (!RenderTextReport(run.report, options_.verbosity, text)) {
    Complain(library.path() + ": check " + info.name + " returned a report that is not JSON:\n" +
             run.report);
    Raise(kNoReport);
    return;
  }
  std::cout << info.name << " (" << library.path() << ")\n" << text;
}

// The flat formats: a product list printed at once, or metrics kept until every check has run.
void Host::Collect(const PluginLibrary& library, const CheckInfo& info, const TimedRun& run) {
  ProductList list;
  std::string error;
  if (!ReadProductList(run.report, list, error)) {
    Complain(library.path() + ": check " + info.name + " " + error);
    Raise(kNoReport);
    return;
  }
  if (options_.format == HostOptions::Format::kProducts) {
    std::cout << ProductListDocument(info.name, run.status, list) << "\n";
  } else {
    metrics_.Add(list, run.status, run.seconds, run.startedAt);
  }
}

// Metrics that miss a check would pass for a complete inventory; the file stays as it was and
// its last-run time goes stale instead.
void Host::WriteMetrics() {
  if (status_ >= kNoReport || selected_ == 0) {
    Complain("no metrics written: not every check gave a product list");
    return;
  }
  const std::string text = metrics_.Text();
  std::string error;
  if (!options_.output) {
    std::cout << text;
  } else if (!WriteWholeFile(*options_.output, text, error)) {
    Complain(error);
    Raise(kCannotWrite);
  }
}

void Host::RunChecks(const PluginLibrary& library) {
  for (const check_descriptor* check : library.checks()) {
    const CheckInfo info = PluginLibrary::Describe(*check);
    if (!Selected(info)) {
      continue;
    }
    ++selected_;
    const std::chrono::duration<double> startedAt =
        std::chrono::system_clock::now().time_since_epoch();
    const auto start = std::chrono::steady_clock::now();
    CheckRun run = PluginLibrary::Run(*check);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    if (!run.received) {
      Complain(library.path() + ": check " + info.name + " " + run.error);
      Raise(kNoReport);
      continue;
    }
    const int status = ReportStatus(run.report);
    Print(library, info, {std::move(run.report), status, startedAt.count(), seconds.count()});
    Raise(status);
  }
}

int Host::Run() {
  std::string error;
  if (!PrepareGlobals(error)) {
    Complain(error);
    return kUsage;
  }
  for (const std::string& path : options_.libraries) {
    if (Load(path)) {
      if (options_.list) {
        List(*libraries_.back());
      } else {
        RunChecks(*libraries_.back());
      }
    }
  }
  if (options_.check && selected_ == 0 && !libraries_.empty()) {
    Complain("no check named \"" + *options_.check + "\" in the loaded libraries");
    Raise(kBadPlugin);
  }
  if (options_.format == HostOptions::Format::kPrometheus && !options_.list) {
    WriteMetrics();
  }
  std::cout.flush();
  return status_;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
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
  Host host(options);
  return host.Run();
}
