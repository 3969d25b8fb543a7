// The command runner's limits and its independence from the host, on real children with short
// limits, one at a time and several at once; hosts that ignore SIGCHLD, reap children themselves
// or take timer signals run in children of their own (through the library: tests/e2e/HostTest.cpp).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Account.h"
#include "ShellCommand.h"
#include "SystemCommands.h"
#include "TestSupport.h"

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testsupport::RunInChild;
using testsupport::ScopedEnv;
using testsupport::TempDir;

namespace {

// The descriptors of this process open on `path`.
std::vector<int> DescriptorsOf(const std::string& path) {
  std::vector<int> found;
  std::error_code error;
  const std::filesystem::path target = std::filesystem::canonical(path, error);
  for (const std::string& fd : testsupport::DirectoryEntries("/proc/self/fd")) {
    if (std::filesystem::read_symlink("/proc/self/fd/" + fd, error) == target) {
      found.push_back(std::stoi(fd));
    }
  }
  return found;
}

const CommandLimits kShort{milliseconds(300), 1 << 20};

// The command's status, then its output.
std::string Outcome(const std::string& command, const CommandLimits& limits = CommandLimits()) {
  std::string output;
  const int status = ShellCommand::Run(command, output, limits);
  return std::to_string(status) + ":" + output;
}

std::string Collected(ShellCommand& command) {
  std::string output;
  const int status = command.Collect(output);
  return std::to_string(status) + ":" + output;
}

// Prints the command's process group, then runs `rest` in it.
std::string InGroup(const std::string& rest) { return "cut -d' ' -f5 /proc/$$/stat; " + rest; }

TEST(ShellCommand, DeadlineEndsTheWholeGroup) {
  for (const std::string rest : {"sleep 30 & sleep 30", "trap '' TERM; sleep 30 & sleep 30"}) {
    std::string output;
    const auto start = steady_clock::now();
    EXPECT_EQ(ShellCommand::Run(InGroup(rest), output, kShort), ShellCommand::kEnded) << rest;
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5)) << rest;
    EXPECT_EQ(testsupport::LiveGroupMembers(std::stoi(output)), 0u) << rest;
  }
}

TEST(ShellCommand, OutputPastTheCapEndsTheCommand) {
  std::string output;
  EXPECT_EQ(ShellCommand::Run("yes", output, kShort), ShellCommand::kEnded);
  EXPECT_LE(output.size(), kShort.outputCap);
  // Exactly the cap is still whole.
  EXPECT_EQ(Outcome("head -c 1048576 /dev/zero | tr '\\0' x", kShort),
            "0:" + std::string(1 << 20, 'x'));
}

// Once the status is known, output that another process holds open is drained for a short grace,
// not waited for until the deadline; what the command left behind in its group is ended.
TEST(ShellCommand, OutputHeldOpenAfterTheStatusIsDrainedForAGrace) {
  const testsupport::HangGuard guard(30);
  std::string output;
  EXPECT_EQ(ShellCommand::Run(InGroup("echo started; sleep 60 &"), output, CommandLimits()), 0);
  EXPECT_EQ(output.substr(output.find('\n') + 1), "started\n");
  EXPECT_EQ(testsupport::LiveGroupMembers(std::stoi(output)), 0u);
}

// Why a command did not run to an end of its own, which its status alone cannot tell (a command
// that could not start has status 1, as one that found nothing).
TEST(ShellCommand, FailureSaysWhyACommandDidNotRunToItsEnd) {
  const struct {
    std::string command;
    CommandLimits limits;
    std::string failure;
  } cases[] = {
      {"exit 1", CommandLimits(), ""},
      {"kill -KILL $$", CommandLimits(), "was ended by signal 9."},
      {"sleep 30", kShort, "was ended at its deadline."},
      {"yes", kShort, "was ended for printing more than it may."},
      {"kill -KILL -$(cut -d' ' -f5 /proc/$$/stat)", CommandLimits(),
       "ended with a status that could not be learnt."},
  };
  for (const auto& each : cases) {
    ShellCommand command(each.command, each.limits);
    std::string output;
    command.Collect(output);
    const std::string expected =
        each.failure.empty() ? "" : "The command \"" + each.command + "\" " + each.failure;
    EXPECT_EQ(command.Failure(), expected);
  }
  // No process can be made: an ordinary user at a process limit of one.
  const std::optional<testsupport::TestAccount> user = testsupport::TestUserAccount();
  if (geteuid() != 0 || !user) {
    GTEST_SKIP() << "a process limit binds ordinary users only: needs root and the test account";
  }
  EXPECT_EQ(RunInChild([&user] {
              testsupport::BecomeUser(user->uid, user->gid);
              const rlimit one{1, 1};
              setrlimit(RLIMIT_NPROC, &one);
              ShellCommand command("true", CommandLimits());
              std::string output;
              const int status = command.Collect(output);
              return std::to_string(status) + ":" + command.Failure();
            }),
            "1:The command \"true\" could not be started.");
}

// The runner keeps its buffers off the stack: a host thread with a 20 KiB stack can run it.
TEST(ShellCommand, RunsOnAThreadWithASmallStack) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers enlarge every frame: the stack a run needs is not measured here";
#endif
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, size_t{20} * 1024), 0);
  std::string outcome;
  pthread_t thread;
  const auto body = [](void* result) -> void* {
    *static_cast<std::string*>(result) = Outcome("head -c 100000 /dev/zero | tr '\\0' x");
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, &outcome), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  EXPECT_EQ(outcome, "0:" + std::string(100000, 'x'));
}

TEST(ShellCommand, StatusThatCannotBeKnownIsAFailure) {
  // Killing its own group takes the process that learns the shell's status with it.
  EXPECT_EQ(Outcome("kill -KILL -$(cut -d' ' -f5 /proc/$$/stat)"), "125:");
}

// Started together and collected late, each keeps its own deadline, cap and status; one poll
// serves them all, reading each into its own keeping.
TEST(ShellCommand, SeveralAtOnceEachUnderItsOwnLimits) {
  const TempDir dir;
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // The second ends only once the first has printed all of its 3 MB, more than its pipe holds.
  ShellCommand large("head -c 3000000 /dev/zero | tr '\\0' x; echo >" + fifo, CommandLimits());
  ShellCommand awaited("cat " + fifo, CommandLimits());
  ShellCommand endedInTime("printf early; exit 3", kShort);
  ShellCommand running("echo started; sleep 30", kShort);
  ShellCommand endless("yes", kShort);
  while (!awaited.Settled()) {
    ShellCommand::Serve({&awaited, nullptr, &large});
  }
  EXPECT_EQ(Collected(awaited), "0:\n");
  std::this_thread::sleep_for(kShort.deadline * 2);  // busy elsewhere, past the short deadlines
  EXPECT_EQ(Collected(running), "124:started\n");
  EXPECT_EQ(Collected(endedInTime), "3:early");
  EXPECT_EQ(Collected(large), "0:" + std::string(3000000, 'x'));
  std::string output;
  EXPECT_EQ(endless.Collect(output), ShellCommand::kEnded);
  EXPECT_LE(output.size(), kShort.outputCap);
}

TEST(ShellCommand, ChunksAreThoseOfFgetsAcrossLargeReads) {
  // 304 bytes in one read: a 255-byte chunk cut after "ab", then the rest of the line.
  EXPECT_EQ(Outcome("printf 'ab\\000%0300d\\n' 0"), "0:ab" + std::string(48, '0') + "\n");
}

// The children's environment is given, not inherited: a root host's PATH keeps only the folders
// that only root can change (else the system's), an ordinary user's its absolute entries; HOME is
// the account's; of the host's variables only DPKG_ADMINDIR passes; the working folder is "/".
TEST(ShellCommand, ChildrenAreGivenTheirEnvironment) {
  const std::optional<testsupport::TestAccount> user = testsupport::TestUserAccount();
  if (geteuid() != 0 || !user) {
    GTEST_SKIP() << "root's rules and an ordinary user's: needs root and the test account";
  }
  const TempDir rootOwned;
  const TempDir usersOwn;
  const TempDir othersWrite;
  ASSERT_EQ(chmod(rootOwned.path().c_str(), 0755), 0);
  ASSERT_EQ(chown(usersOwn.path().c_str(), user->uid, user->gid), 0);
  ASSERT_EQ(chmod(othersWrite.path().c_str(), 0777), 0);
  const ScopedEnv locale("LC_ALL", "fr_FR.UTF-8");
  const ScopedEnv dropped("ZORVEX_DROPPED", "yes");
  const ScopedEnv home("HOME", usersOwn.path());
  const ScopedEnv admin("DPKG_ADMINDIR", "/srv/dpkg");
  const std::string shown =
      "tr '\\0' '\\n' </proc/$$/environ | grep -E "
      "'^(PATH|HOME|LC_ALL|ZORVEX_DROPPED|DPKG_ADMINDIR)=';"
      " pwd";
  const std::string rest = "DPKG_ADMINDIR=/srv/dpkg\nLC_ALL=C\n/\n";
  const std::string rootHome = HomeDirectory(0).value_or("none");
  const std::string hostPath = "bin::" + usersOwn.path() + ":" + othersWrite.path() +
                               ":/usr/bin:.:" + rootOwned.path() + ":/bin:";
  const struct {
    std::string path;
    bool asUser;
    std::string shown;
  } cases[] = {
      {hostPath, false, "PATH=/usr/bin:" + rootOwned.path() + ":/bin\nHOME=" + rootHome + "\n"},
      {".:tools:" + usersOwn.path(), false,
       "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin\nHOME=" + rootHome +
           "\n"},
      {hostPath, true,
       "PATH=" + usersOwn.path() + ":" + othersWrite.path() + ":/usr/bin:" + rootOwned.path() +
           ":/bin\nHOME=" + user->home + "\n"},
      // Nothing absolute left for an ordinary user: no PATH, and the shell's own default applies.
      {".:tools", true, "HOME=" + user->home + "\n"},
  };
  for (const auto& each : cases) {
    const ScopedEnv path("PATH", each.path);
    EXPECT_EQ(RunInChild([&] {
                if (each.asUser) {
                  testsupport::BecomeUser(user->uid, user->gid);
                }
                return Outcome(shown);
              }),
              "0:" + each.shown + rest)
        << each.path << (each.asUser ? " as the user" : " as root");
  }
}

// The host's own descriptors, inheritable or not, and an open database stay with the host; the
// library's SQLite descriptors are close-on-exec besides.
TEST(ShellCommand, ChildrenGetOnlyTheStandardStreams) {
  const TempDir dir;
  const std::string database = dir / "open.db";
  testsupport::ExecuteSql(database, "CREATE TABLE T (A);");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "SELECT * FROM T;", nullptr, nullptr, nullptr), SQLITE_OK);
  const int inheritable = open("/dev/null", O_RDONLY);
  ASSERT_GE(inheritable, 0);
  // Standard input and error are the test runner's, whatever it gives. The shell's descriptors
  // are listed while it only waits: a pipeline or a redirection would have it hold more.
  const std::string outcome = Outcome("(ls /proc/$$/fd); :");
  std::istringstream lines(outcome.substr(outcome.find(':') + 1));
  std::string listed = outcome.substr(0, outcome.find(':') + 1);
  for (std::string line; std::getline(lines, line);) {
    listed += line == "0" || line == "2" ? "" : line + "\n";
  }
  EXPECT_EQ(listed, "0:1\n");
  close(inheritable);
  const std::vector<int> databaseFds = DescriptorsOf(database);
  EXPECT_FALSE(databaseFds.empty());
  for (const int fd : databaseFds) {
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "descriptor " << fd;
  }
  sqlite3_close(db);
}

// A host that closed its standard streams: no pipe end takes their places, so the output still
// arrives and the command gets no standard input or error either.
TEST(ShellCommand, HostWithoutStandardStreams) {
  EXPECT_EQ(RunInChild([] {
              close(STDIN_FILENO);
              close(STDOUT_FILENO);
              close(STDERR_FILENO);
              return Outcome(
                  "test -e /proc/$$/fd/0 || echo no-input; test -e /proc/$$/fd/2 || echo no-error; "
                  "echo out; exit 3");
            }),
            "3:no-input\nno-error\nout\n");
}

// The statuses a quiet host gets, in the hosts that broke them: each command alone, then all three
// started together and collected in turn, the later ones long ended by then.
std::string Statuses() {
  const std::string alone =
      Outcome("printf 'a\\nb\\n'; exit 7") + Outcome("true") + Outcome("kill -TERM $$");
  ShellCommand first("printf 'a\\nb\\n'; sleep 0.1; exit 7", CommandLimits());
  ShellCommand second("true", CommandLimits());
  ShellCommand third("kill -TERM $$", CommandLimits());
  const std::string together = Collected(first) + Collected(second) + Collected(third);
  return alone == together ? alone : alone + " but together " + together;
}

void ReapEverything(int /*signal*/) {
  const int saved = errno;
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  errno = saved;
}

void Ignore(int /*signal*/) {}

TEST(ShellCommand, StatusesDoNotDependOnTheHostsSignals) {
  const std::string quiet = "7:a\nb\n0:143:";
  EXPECT_EQ(Statuses(), quiet);
  EXPECT_EQ(RunInChild([] {
              signal(SIGCHLD, SIG_IGN);
              return Statuses();
            }),
            quiet);
  EXPECT_EQ(RunInChild([] {
              signal(SIGCHLD, ReapEverything);
              return Statuses();
            }),
            quiet);
  // A timer signal without SA_RESTART interrupts every poll.
  EXPECT_EQ(RunInChild([] {
              struct sigaction action {};
              action.sa_handler = Ignore;
              sigaction(SIGALRM, &action, nullptr);
              const itimerval every2ms{{0, 2000}, {0, 2000}};
              setitimer(ITIMER_REAL, &every2ms, nullptr);
              return Statuses();
            }),
            quiet);
}

}  // namespace

namespace {

// Writes a line into `fifo` once someone reads it; false when no one has within ten seconds.
bool WriteLineWhenRead(const std::string& fifo) {
  for (int tries = 0; tries < 1000; ++tries) {
    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) {
      const bool written = write(writer, "go\n", 3) == 3;
      close(writer);
      return written;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
  return false;
}

// The command prints its first record and then waits (ten seconds at most) for a line on a FIFO
// that only the taker of that first record writes: a record handed on only once the command had
// ended would find no reader, and the command would print "late".
TEST(SystemCommands, StreamHandsOnEachRecordWhileTheCommandRuns) {
  const TempDir dir;
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::string> records;
  SystemCommands onTheSpot;
  const int status =
      onTheSpot.Stream("printf 'first\\0'; if timeout 10 sh -c 'read line <" + fifo +
                           "'; then printf 'second\\0third'; else printf 'late\\0'; fi",
                       [&](const std::string& record) {
                         records.push_back(record);
                         if (record == "first") {
                           EXPECT_TRUE(WriteLineWhenRead(fifo));
                         }
                       });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(records, (std::vector<std::string>{"first", "second", "third"}));
}

}  // namespace
