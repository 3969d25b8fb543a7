#include "Host.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>

#include "HostStatus.h"

namespace {

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

// The search of a folder that cannot be read finds nothing and says only that no database was
// found; the operator learns here which folder was meant.
void WarnUnlessReadableDirectory(const char* option, const std::string& directory) {
  std::error_code failure;
  const auto type = std::filesystem::status(directory, failure).type();
  const std::string problem = type == std::filesystem::file_type::not_found ? "does not exist"
                              : failure ? "cannot be reached: " + failure.message()
                              : type != std::filesystem::file_type::directory ? "is not a directory"
                              : access(directory.c_str(), R_OK | X_OK) != 0
                                  ? "cannot be read by this user"
                                  : "";
  if (!problem.empty()) {
    Complain("warning: " + std::string(option) + " " + directory + " " + problem +
             "; no installer database can be found there");
  }
}

}  // namespace

bool Host::PrepareGlobals(std::string& error) {
  if (options_.installerRoot) {
    installerRoot_ = std::filesystem::absolute(*options_.installerRoot).string();
    WarnUnlessReadableDirectory("--installer-root", installerRoot_);
  }
  if (root_) {
    installerRoot_ = root_->installerRoot();
  }
  if (options_.userInstallerDir) {
    if (geteuid() == 0) {
      Complain(
          "note: the superuser's own installer directory is never searched; "
          "--user-installer-dir has no effect");
    } else {
      WarnUnlessReadableDirectory("--user-installer-dir", *options_.userInstallerDir);
    }
    return UserInstallerSuffix(*options_.userInstallerDir, userInstallerDir_, error);
  }
  return true;
}

bool Host::Load(const std::string& path) {
  std::string error;
  std::unique_ptr<PluginLibrary> library = PluginLibrary::Open(path, error);
  const bool ready = library != nullptr &&
                     (installerRoot_.empty() ||
                      library->SetGlobalText("ROOT_IC_PATH", installerRoot_.c_str(), error)) &&
                     (!options_.userInstallerDir ||
                      library->SetGlobalText("USER_IC_PATH", userInstallerDir_.c_str(), error));
  if (!ready) {
    Miss(error, kBadPlugin);
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
      Miss(library.path() + ": check " + info.name + " " + run.error, kNoReport);
      continue;
    }
    CheckResult result{library.path(),  info, std::move(run.report), 0, startedAt.count(),
                       seconds.count(), {}};
    result.status = ReportStatus(result.report);
    Hand(result, library, *check);
  }
}

// The report is read into products once, for whichever format renders them.
void Host::Hand(CheckResult& result, const PluginLibrary& library, const check_descriptor& check) {
  Raise(result.status);
  std::string error;
  if (output_->RendersProducts() && !ReadProductList(result.report, result.products, error)) {
    Miss(result.library + ": check " + result.info.name + " " + error, kNoReport);
    return;
  }
  if (root_) {
    result.products.os = root_->os();
  }
  if (allUsers_) {
    Raise(allUsers_->AddUserProducts(library, check, result.products));
  }
  Raise(output_->Add(result));
}

void Host::Raise(int status) { status_ = std::max(status_, status); }

// What the host could not get is said on standard error and, for the formats that make a
// document of every run, in the document too.
void Host::Miss(const std::string& reason, int status) {
  Complain(reason);
  output_->Missed(reason);
  Raise(status);
}

// Before any library is loaded: an offline root is protected before anything reads it.
bool Host::PrepareAuditModes(int& status) {
  std::string error;
  if (options_.allUsers && !options_.list && geteuid() != 0) {
    Complain("--all-users needs root: only root can search every account's folder as that account");
    status = kNotRoot;
    return false;
  }
  if (options_.root && !options_.list) {
    root_ = std::make_unique<OfflineRoot>();
    if (!root_->Prepare(*options_.root, options_.verbosity > 0, status, error)) {
      Complain(error);
      return false;
    }
  }
  if (options_.allUsers && !options_.list) {
    allUsers_ = std::make_unique<AllUsersAudit>(root_ ? root_->dir() : "", options_.verbosity > 0);
    if (!allUsers_->Prepare(error)) {
      Complain("--all-users: " + error);
      status = kSystemFailure;
      return false;
    }
  }
  return true;
}

int Host::Run() {
  std::string error;
  int status = kClean;
  if (!PrepareAuditModes(status)) {
    return status;
  }
  if (!PrepareGlobals(error)) {
    Complain(error);
    return output_->ExitStatus(kUsage);
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
  if (!options_.list) {
    Raise(output_->Finish(status_, selected_));
  }
  std::cout.flush();
  return options_.list ? status_ : output_->ExitStatus(status_);
}
