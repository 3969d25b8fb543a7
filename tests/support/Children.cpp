#include "Children.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ScopedState.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

// Writes all of `text` to `fd`, as far as the other end takes it.
void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      return;
    }
    done += static_cast<size_t>(wrote);
  }
}

// Waits for `child`; its exit status, or -1 when it did not exit normally.
int WaitFor(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      return -1;
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

size_t LiveGroupMembersNow(pid_t group) {
  size_t live = 0;
  for (const std::string& entry : DirectoryEntries("/proc")) {
    // "pid (name) state ppid pgrp ...": the name may hold blanks, so read from its last ")".
    const std::string stat = ReadFile("/proc/" + entry + "/stat");
    const size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) {
      continue;
    }
    std::istringstream fields(stat.substr(nameEnd + 1));
    char state = 0;
    long parent = 0;
    long processGroup = 0;
    if (fields >> state >> parent >> processGroup && processGroup == group && state != 'Z' &&
        state != 'X') {
      ++live;
    }
  }
  return live;
}

// The body of the DatabaseWriter child: exit status 0 once released, 1 when it could not lock.
[[noreturn]] void HoldTransaction(const std::string& path, const std::string& begin, int ready,
                                  int release) {
  sqlite3* db = nullptr;
  int status = 1;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
      sqlite3_exec(db, begin.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
    status = 0;
    WriteAll(ready, "1");
    char ignored = 0;
    // Blocks until the parent closes its end.
    while (read(release, &ignored, 1) < 0 && errno == EINTR) {
    }
  }
  sqlite3_close(db);
  _exit(status);
}

const char* const kTestUser = "zorvex-test";

std::optional<TestAccount> LookUpTestUser() {
  const passwd* account = getpwnam(kTestUser);
  if (account == nullptr || account->pw_dir == nullptr) {
    return std::nullopt;
  }
  return TestAccount{account->pw_uid, account->pw_gid, account->pw_dir};
}

}  // namespace

std::vector<std::string> DirectoryEntries(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

size_t OpenDescriptorCount() {
  // The listing holds one descriptor of its own while it reads.
  const size_t listed = DirectoryEntries("/proc/self/fd").size();
  return listed > 0 ? listed - 1 : 0;
}

size_t LiveGroupMembers(pid_t group) {
  size_t live = LiveGroupMembersNow(group);
  for (int waited = 0; live > 0 && waited < 200; ++waited) {
    usleep(10000);
    live = LiveGroupMembersNow(group);
  }
  return live;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return text;
    }
    text.append(buffer, static_cast<size_t>(got));
  }
}

DatabaseWriter::DatabaseWriter(const std::string& path, const std::string& begin) {
  int ready[2];
  int release[2];
  if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) {
    Fail("cannot create pipes");
    return;
  }
  child_ = fork();
  if (child_ == 0) {
    close(ready[0]);
    close(release[1]);
    HoldTransaction(path, begin, ready[1], release[0]);
  }
  close(ready[1]);
  close(release[0]);
  release_ = release[1];
  char signal = 0;
  while (read(ready[0], &signal, 1) < 0 && errno == EINTR) {
  }
  close(ready[0]);
  if (child_ < 0 || signal != '1') {
    Fail("the writer could not begin \"" + begin + "\" on " + path);
  }
}

DatabaseWriter::~DatabaseWriter() {
  if (release_ >= 0) {
    close(release_);
  }
  if (child_ > 0) {
    if (WaitFor(child_) != 0) {
      Fail("the writer failed");
    }
  }
}

ChildRun RunForked(const std::function<int(int out)>& body) {
  ChildRun run;
  int channel[2];
  if (pipe2(channel, O_CLOEXEC) != 0) {
    Fail("cannot create a pipe");
    return run;
  }
  std::fflush(nullptr);  // the child must not repeat what this process has buffered
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    const int status = body(channel[1]);
    std::fflush(nullptr);
    _exit(status);
  }
  close(channel[1]);
  run.output = ReadAll(channel[0]);
  close(channel[0]);
  run.status = child < 0 ? -1 : WaitFor(child);
  return run;
}

std::string RunInChild(const std::function<std::string()>& body) {
  const ChildRun run = RunForked([&body](int out) {
    WriteAll(out, body());
    return 0;
  });
  if (run.status != 0) {
    Fail("the child failed with status " + std::to_string(run.status) + "; it sent: " + run.output);
  }
  return run.output;
}

void BecomeUser(uid_t uid, gid_t gid) {
  if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 ||
      setresuid(uid, uid, uid) != 0 || chdir("/") != 0) {
    std::perror("cannot become the test user");
    _exit(3);
  }
  // Changing the user id makes the process undumpable, which hides /proc/self from it; the
  // sanitizers read their own maps there.
  prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
}

std::optional<TestAccount> TestUserAccount() {
  std::optional<TestAccount> account = LookUpTestUser();
  if (!account && geteuid() == 0) {
    std::string output;
    const int status = Shell("sh '" ZORVEX_TEST_USER_SCRIPT "' 2>&1", &output);
    if (status != 0) {
      Fail("cannot create the test user: " + output);
    }
    account = LookUpTestUser();
  }
  return account;
}

}  // namespace testsupport
