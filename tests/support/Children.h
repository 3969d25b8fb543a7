#ifndef ZORVEX_FIXTURES_CHILDREN_H
#define ZORVEX_FIXTURES_CHILDREN_H

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Child processes, accounts and what a process holds: for tests that must change the user id,
// watch descriptors and process groups, or hold a database from outside.
namespace testsupport {

// Writes all of `text` to `fd`, as far as the other end takes it.
void WriteAll(int fd, const std::string& text);

// Reads `fd` to its end (or first error).
std::string ReadAll(int fd);

// Waits for `child`; its exit status, or -1 when it did not exit normally.
int WaitFor(pid_t child);

// The names in `dir`, sorted: to see that reading a directory left nothing behind.
std::vector<std::string> DirectoryEntries(const std::string& dir);

// The number of descriptors this process has open, from /proc/self/fd (the one that lists them
// not counted).
size_t OpenDescriptorCount();

// The descriptors of this process open on `path`.
std::vector<int> DescriptorsOf(const std::string& path);

// The processes of group `group` that have not ended (zombies, which no init may reap inside a
// container, do not count), after waiting up to two seconds for them to go: a process killed with
// SIGKILL ends only once it is scheduled again.
size_t LiveGroupMembers(pid_t group);

// This process's resident memory in KiB (VmRSS of /proc/self/status), or -1.
long ResidentKiB();

// A writer in another process that holds the SQLite database at `path` in an open transaction,
// begun with `begin` (say "BEGIN EXCLUSIVE;" and a write), until the object is destroyed.
class DatabaseWriter {
 public:
  DatabaseWriter(const std::string& path, const std::string& begin);
  ~DatabaseWriter();
  DatabaseWriter(const DatabaseWriter&) = delete;
  DatabaseWriter& operator=(const DatabaseWriter&) = delete;

 private:
  pid_t child_ = -1;
  int release_ = -1;
};

// Runs `body` in a forked child and returns the text it returned, sent back through a pipe. The
// child then ends at once, without exit handlers or the test framework. Fails unless the child
// ends with status 0.
std::string RunInChild(const std::function<std::string()>& body);

// In a child of RunInChild: becomes `uid` and `gid` for good, without supplementary groups, and
// moves to "/". Ends the child with status 3 when it cannot.
void BecomeUser(uid_t uid, gid_t gid);

// The unprivileged account that per-user tests run as.
struct TestAccount {
  uid_t uid;
  gid_t gid;
  std::string home;
};

// The account "zorvex-test", created by support/create-test-user.sh (idempotent, under a lock)
// when missing. Only root can create it; nullopt when it is missing and cannot be created.
std::optional<TestAccount> TestUserAccount();

// A user id above 40000 with no account record.
uid_t UnusedUid();

// Makes the tree at `path` belong to `uid` and `gid`.
void ChangeOwner(const std::string& path, uid_t uid, gid_t gid);

}  // namespace testsupport

#endif  // ZORVEX_FIXTURES_CHILDREN_H
