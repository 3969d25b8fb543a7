#include "AllUsers.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "HostStatus.h"
#include "PathInRoot.h"
#include "UntrustedChild.h"

namespace {

// The per-user folder the library appends to a home.
const char* const kUserFolder = "/corva";

// A per-user folder no account can make: climbed from any home up to "/", then below a device.
// The library's own per-user search then finds nothing, so each account's tree is read once.
const std::string& NoUserFolder() {
  static const std::string folder = [] {
    std::string climb;
    for (int level = 0; level < 64; ++level) {
      climb += "/..";
    }
    return climb + "/dev/null/corva";
  }();
  return folder;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  std::string field;
  while (std::getline(stream, field, ':')) {
    fields.push_back(field);
  }
  if (!line.empty() && line.back() == ':') {
    fields.emplace_back();
  }
  return fields;
}

bool Number(const std::string& text, unsigned long& value) {
  char* end = nullptr;
  value = std::strtoul(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && value < UINT_MAX;
}

// An offline root's accounts, each with the groups etc/group lists it in.
std::vector<Account> ReadRootAccounts(const std::string& root) {
  std::vector<Account> accounts;
  std::ifstream passwd(PathInRoot(root, "etc/passwd"));
  for (std::string line; std::getline(passwd, line);) {
    const std::vector<std::string> fields = Fields(line);
    unsigned long uid = 0, gid = 0;
    if (fields.size() >= 7 && Number(fields[2], uid) && Number(fields[3], gid)) {
      accounts.push_back(
          {fields[0], {static_cast<uid_t>(uid), static_cast<gid_t>(gid), {}}, fields[5]});
    }
  }
  std::ifstream group(PathInRoot(root, "etc/group"));
  for (std::string line; std::getline(group, line);) {
    const std::vector<std::string> fields = Fields(line);
    unsigned long gid = 0;
    if (fields.size() < 4 || !Number(fields[2], gid)) {
      continue;
    }
    std::stringstream members(fields[3]);
    for (std::string member; std::getline(members, member, ',');) {
      for (Account& account : accounts) {
        if (account.name == member) {
          account.ids.groups.push_back(static_cast<gid_t>(gid));
        }
      }
    }
  }
  return accounts;
}

std::vector<Account> ReadMachineAccounts() {
  std::vector<Account> accounts;
  setpwent();
  while (const passwd* entry = getpwent()) {
    accounts.push_back({entry->pw_name,
                        {entry->pw_uid, entry->pw_gid, {}},
                        entry->pw_dir != nullptr ? entry->pw_dir : ""});
  }
  endpwent();
  for (Account& account : accounts) {
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(account.name.c_str(), account.ids.gid, groups.data(), &count) < 0) {
      groups.resize(static_cast<size_t>(count));
      getgrouplist(account.name.c_str(), account.ids.gid, groups.data(), &count);
    }
    groups.resize(static_cast<size_t>(count));
    account.ids.groups = groups;
  }
  return accounts;
}

// What a child of an account reports: its installer products only, strictly read.
bool ReadUserAnswer(const std::string& text, const std::string& user,
                    std::vector<InstalledProduct>& found, std::string& failure) {
  ProductList list;
  if (!ReadProductList(text, list, failure)) {
    failure = "answered with a text that is not a report";
    return false;
  }
  for (InstalledProduct& product : list.products) {
    if (product.source != "installer") {
      failure = "answered with products of a package manager";
      return false;
    }
    product.user = user;
    found.push_back(std::move(product));
  }
  return true;
}

// Why a child ended without an answer, from the status its body returned.
std::string ChildFailure(const std::string& reason) {
  static const std::pair<const char*, const char*> kSteps[] = {
      {"ended with status 10", "cannot close the host's descriptors"},
      {"ended with status 11", "cannot point the check at the account's folder"},
      {"ended with status 12", "cannot become the account"},
      {"ended with status 13", "the check returned no report"},
  };
  for (const auto& step : kSteps) {
    if (reason == step.first) {
      return step.second;
    }
  }
  return reason;
}

}  // namespace

bool PlainPath(const std::string& path) {
  if (path.empty() || path[0] != '/') {
    return false;
  }
  for (const char character : path) {
    const bool plain = (character >= 'a' && character <= 'z') ||
                       (character >= 'A' && character <= 'Z') ||
                       (character >= '0' && character <= '9') ||
                       std::string("/._-+@,%=").find(character) != std::string::npos;
    if (!plain) {
      return false;
    }
  }
  return true;
}

std::vector<Account> ReadAccounts(const std::string& root) {
  return root.empty() ? ReadMachineAccounts() : ReadRootAccounts(root);
}

bool AllUsersAudit::Eligible(const Account& account, Candidate& candidate,
                             std::string& skipped) const {
  if (account.ids.uid == 0) {
    skipped = "the superuser's own folder is never searched";
    return false;
  }
  if (account.home.empty() || account.home == "/") {
    skipped = "no home";
    return false;
  }
  if (!PlainPath(account.home)) {
    skipped = "home " + account.home + " holds characters the search cannot take";
    return false;
  }
  candidate = {account, root_ + account.home, PathInRoot(root_, account.home + kUserFolder)};
  struct stat home {};
  if (stat(candidate.home.c_str(), &home) != 0 || !S_ISDIR(home.st_mode)) {
    skipped = "home " + account.home + " does not exist";
    return false;
  }
  if (home.st_uid != account.ids.uid) {
    skipped = "home " + account.home + " belongs to another account";
    return false;
  }
  struct stat folder {};
  if (candidate.folder.empty() || lstat(candidate.folder.c_str(), &folder) != 0 ||
      !S_ISDIR(folder.st_mode)) {
    skipped = "no installer folder in the home";
    return false;
  }
  return true;
}

bool AllUsersAudit::Prepare(std::string& error) {
  for (const Account& account : ReadAccounts(root_)) {
    Candidate candidate;
    std::string skipped;
    if (Eligible(account, candidate, skipped)) {
      candidates_.push_back(std::move(candidate));
    } else if (verbose_) {
      Complain("--all-users: skipped " + account.name + ": " + skipped);
    }
  }
  return tools_.Make({"find"}, error);
}

UserPart AllUsersAudit::Audit(const PluginLibrary& library, const check_descriptor& check,
                              const Candidate& candidate,
                              std::chrono::steady_clock::time_point passEnd,
                              std::vector<InstalledProduct>& found) const {
  const auto body = [&](int out) {
    if (!KeepOnlyDescriptor(out)) {
      return 10;
    }
    const Account& account = candidate.account;
    std::string error;
    if (clearenv() != 0 || setenv("HOME", candidate.home.c_str(), 1) != 0 ||
        setenv("PATH", tools_.path().c_str(), 1) != 0 ||
        setenv("USER", account.name.c_str(), 1) != 0 ||
        setenv("LOGNAME", account.name.c_str(), 1) != 0 || chdir("/") != 0 ||
        !library.SetGlobalText("ROOT_IC_PATH", candidate.folder.c_str(), error) ||
        !library.SetGlobalText("USER_IC_PATH", NoUserFolder().c_str(), error)) {
      return 11;
    }
    if (!DropToAccount(account.ids, error)) {
      return 12;
    }
    const CheckRun run = PluginLibrary::Run(check);
    if (!run.received) {
      return 13;
    }
    for (size_t written = 0; written < run.report.size();) {
      const ssize_t step = write(3, run.report.data() + written, run.report.size() - written);
      if (step <= 0) {
        return 14;
      }
      written += static_cast<size_t>(step);
    }
    return 0;
  };
  const auto userEnd = std::chrono::steady_clock::now() + kUserDeadline;
  const ChildAnswer answer = RunUntrustedChild(body, std::min(userEnd, passEnd), kUserAnswerLimit);
  UserPart part{candidate.account.name, ""};
  if (!answer.ok) {
    part.failure = answer.reason != "timed out" ? ChildFailure(answer.reason)
                   : userEnd <= passEnd
                       ? "timed out after " + std::to_string(kUserDeadline.count()) + " s"
                       : "the pass of all accounts ran out of its " +
                             std::to_string(kAllUsersDeadline.count()) + " s";
    return part;
  }
  std::vector<InstalledProduct> products;
  if (ReadUserAnswer(answer.text, part.user, products, part.failure)) {
    found.insert(found.end(), products.begin(), products.end());
  }
  return part;
}

int AllUsersAudit::AddUserProducts(const PluginLibrary& library, const check_descriptor& check,
                                   ProductList& list) const {
  const auto passEnd = std::chrono::steady_clock::now() + kAllUsersDeadline;
  int status = kClean;
  std::vector<InstalledProduct> found;
  for (const Candidate& candidate : candidates_) {
    const UserPart part = Audit(library, check, candidate, passEnd, found);
    if (!part.failure.empty()) {
      Complain("--all-users: " + part.user + ": " + part.failure + "; their products are missing");
      status = kFailReported;
    }
    list.users.push_back(part);
  }
  if (list.products.empty() && !found.empty()) {
    list.message.clear();  // the accounts' products answer what the system-wide run could not
  }
  list.products.insert(list.products.end(), found.begin(), found.end());
  AddInstallerProducts(list.sources, found.size());
  return status;
}
