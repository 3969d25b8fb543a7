#ifndef DIAG_HOST_ALL_USERS_H
#define DIAG_HOST_ALL_USERS_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "PluginLibrary.h"
#include "PrivilegeDrop.h"
#include "ProductList.h"
#include "ToolFolder.h"

// How long one account's search may take, and the whole pass over all accounts.
constexpr std::chrono::seconds kUserDeadline{10};
constexpr std::chrono::seconds kAllUsersDeadline{60};
// The longest answer an account's search may give.
constexpr size_t kUserAnswerLimit = 8 << 20;

// One account as its password database records it.
struct Account {
  std::string name;
  AccountIds ids;
  std::string home;
};

// The per-user pass of --all-users: for every account whose home holds the per-user installer
// folder, the check runs in a child that has become that account (PrivilegeDrop.h) with a PATH
// that holds `find` alone, so it lists no package manager's packages again, and with the
// library's system-wide folder pointed at the account's own folder. Each child's answer is read
// as untrusted (UntrustedChild.h): bounded in size and time and parsed strictly.
class AllUsersAudit {
 public:
  // `root` is "" for this machine, or the folder of an offline root whose /etc/passwd and
  // /etc/group name the accounts (taken by number) and under which their homes lie.
  // `verbose` says why accounts are skipped.
  AllUsersAudit(std::string root, bool verbose) : root_(std::move(root)), verbose_(verbose) {}

  // Reads the accounts and makes the children's tool folder; false with the reason in `error`.
  bool Prepare(std::string& error);

  // Runs every account's search with `check` of `library` and adds what each found to `list`,
  // each product carrying its account's name, and one entry per account to `list.users`.
  // Returns the exit status this adds: kFailReported when an account's part failed.
  int AddUserProducts(const PluginLibrary& library, const check_descriptor& check,
                      ProductList& list) const;

 private:
  struct Candidate {
    Account account;
    std::string home;    // the home as this process reaches it (under the root)
    std::string folder;  // the account's installer folder, as this process reaches it
  };
  bool Eligible(const Account& account, Candidate& candidate, std::string& skipped) const;
  UserPart Audit(const PluginLibrary& library, const check_descriptor& check,
                 const Candidate& candidate, std::chrono::steady_clock::time_point passEnd,
                 std::vector<InstalledProduct>& found) const;

  std::string root_;
  bool verbose_;
  std::vector<Candidate> candidates_;
  ToolFolder tools_;
};

// The accounts of the password database of this machine (`root` "") or of `root`'s etc/passwd,
// with their supplementary groups (from the group database, or `root`'s etc/group).
std::vector<Account> ReadAccounts(const std::string& root);

// Whether `path` can stand unquoted in the library's search command: no blank, quote or other
// character the shell would take apart.
bool PlainPath(const std::string& path);

#endif  // DIAG_HOST_ALL_USERS_H
