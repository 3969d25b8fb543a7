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

// Reads `fd` to its end (or first error).
std::string ReadAll(int fd);

// The names in `dir`, sorted: to see that reading a directory left nothing behind.
std::vector<std::string> DirectoryEntries(const std::string& dir);

// The number of descriptors this process has open, from /proc/self/fd (the one that lists them
// not counted).
size_t OpenDescriptorCount();

// The processes of group `group` that have not ended (zombies, which no init may reap inside a
// container, do not count), after waiting up to two seconds for them to go: a process killed with
// SIGKILL ends only once it is scheduled again.
size_t LiveGroupMembers(pid_t group);

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

// What a child sent back and its exit status (-1 when it did not exit normally).
struct ChildRun {
  int status = -1;
  std::string output;
};

// Runs `body` in a forked child, which ends with the status that `body` returns, at once, without
// exit handlers or the test framework; what it writes to the descriptor it is given (closed on
// exec) comes back as the output.
ChildRun RunForked(const std::function<int(int out)>& body);

// Runs `body` in a forked child and returns the text it returned. Fails unless the child ends
// with status 0.
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

}  // namespace testsupport

#endif  // ZORVEX_FIXTURES_CHILDREN_H
