// The fault sweep: the stand-alone check runs on a fixture machine (two installer databases with
// their manifests, one package of the real dpkg) once cleanly, then once for every call of every
// system call that the clean run makes, with strace failing that one call in the check's own
// process. Every outcome must be the clean run's report and status, or a report whose status is
// not 0 and says what went wrong; products missing at status 0, a crash or a hang fail the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "LoadedPlugin.h"
#include "TestSupport.h"

using testsupport::ReadFile;
using testsupport::Shell;
using testsupport::TempDir;

namespace {

// Each system call the sweep fails, with the error a broken machine gives it. Left out: close,
// which frees the descriptor even when it fails, while strace's fault leaves it open (a pipe end
// kept open by nobody's code), and brk, which fails by returning the old break, while strace's
// error value is taken for the new one by the C library.
struct Fault {
  const char* call;
  const char* error;
};
const Fault kFaults[] = {
    {"read", "EIO"},
    {"pread64", "EIO"},
    {"openat", "EACCES"},
    {"newfstatat", "EIO"},
    {"statx", "EIO"},
    {"fstat", "EIO"},
    {"lseek", "EIO"},
    {"getdents64", "EIO"},
    {"clone", "EAGAIN"},
    {"clone3", "EAGAIN"},
    {"vfork", "EAGAIN"},
    {"fork", "EAGAIN"},
    {"pipe2", "EMFILE"},
    {"dup2", "EMFILE"},
    {"dup3", "EMFILE"},
    {"fcntl", "ENOLCK"},
    {"mmap", "ENOMEM"},
    {"munmap", "ENOMEM"},
    {"mprotect", "ENOMEM"},
    {"poll", "ENOMEM"},
    {"ppoll", "ENOMEM"},
    {"wait4", "ECHILD"},
    {"setpgid", "EPERM"},
    {"prlimit64", "EPERM"},
    {"rt_sigprocmask", "EINVAL"},
    {"write", "EIO"},
    {"ioctl", "ENOTTY"},
    {"access", "EACCES"},
};

// What a run ended with. A hang is ended by `timeout` (124, or 137 after its SIGKILL); a run
// killed by a signal gives 128 + the signal.
struct Result {
  int status = -1;
  std::string out;
  std::string err;
  std::string injected;  // strace's lines for the failed calls
};

enum Outcome { kSame, kLoud, kSilentLoss, kCrashOrHang, kOutcomes };
const char* const kOutcomeNames[] = {"(a) same", "(b) loud", "(c) silent loss", "(d) crash/hang"};

Outcome Classify(const Result& run, const Result& clean) {
  if (run.status == 124 || run.status >= 128 || run.status < 0) {
    return kCrashOrHang;
  }
  if (run.status == clean.status && run.out == clean.out) {
    return kSame;
  }
  // Loud: a status other than 0, with the report or standard error saying why.
  const bool said = run.out != clean.out || !run.err.empty();
  return run.status != 0 && said ? kLoud : kSilentLoss;
}

struct Job {
  Fault fault;
  int nth;
  bool startup;
  std::string tracing;  // "" for the check's process alone, "-f" for every process
  Result run;
  Outcome outcome = kSame;
};

class FaultSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0 || Shell("unshare --mount true 2>/dev/null") != 0 ||
        testsupport::FindTool("strace").empty()) {
      GTEST_SKIP() << "needs root in a mount namespace of its own, and strace";
    }
    testsupport::InstallerCache(machine_ / "corva/one/", {{"a", "1"}, {"b", "1"}});
    testsupport::InstallerCache(machine_ / "corva/two/", {{"c", "2"}});
  }

  // Runs the check under strace with `options`, in a mount namespace whose /var/corva is the
  // machine's installer tree, its outputs in `scratch_` under `name`.
  Result Check(const std::string& options, const std::string& name) const {
    const std::string out = scratch_ / (name + ".out");
    const std::string err = scratch_ / (name + ".err");
    const std::string trace = scratch_ / (name + ".trace");
    const std::string command =
        "timeout -k 5 " + std::to_string(kSecondsPerRun) +
        " unshare --mount --propagation private sh -c 'mount -t tmpfs tmpfs /var && mkdir "
        "/var/corva && mount --bind \"$0\" /var/corva && exec \"$@\"' '" +
        (machine_ / "corva") + "' strace -qq -yy -o '" + trace + "' " + options + " " +
        ZORVEX_APP_CHECK_PATH + " >'" + out + "' 2>'" + err + "'; exit $?";
    Result run;
    run.status = Shell(command);
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    run.injected = InjectedLines(ReadFile(trace));
    return run;
  }

  // strace's lines for the failed calls, each on a line of its own.
  static std::string InjectedLines(const std::string& trace) {
    std::string injected;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
      if (line.find("(INJECTED)") != std::string::npos) {
        injected += "\n    failed: " + line.substr(0, 240);
      }
    }
    return injected;
  }

  // How many times the clean run makes each system call: in all, and before the check's first
  // call (geteuid, as it gives its children their environment), while the loader and the C
  // library start the program (faults there are theirs).
  struct Calls {
    int startup = 0;
    int total = 0;
  };
  static std::map<std::string, Calls> CallCounts(const std::string& trace) {
    std::map<std::string, Calls> counts;
    bool started = false;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
      const size_t paren = line.find('(');
      if (paren == std::string::npos || line.compare(0, 3, "---") == 0) {
        continue;
      }
      const std::string call = line.substr(0, paren);
      started = started || call == "geteuid";
      ++counts[call].total;
      counts[call].startup += started ? 0 : 1;
    }
    return counts;
  }

  // With -f, the most calls that one process makes of each system call (strace counts each
  // process's calls apart); the start-up's counts stay the check's own.
  static void TakeChildCounts(const std::string& trace, std::map<std::string, Calls>& counts) {
    std::map<std::string, int> perProcess;
    std::istringstream lines(trace);
    for (std::string pid, rest; lines >> pid && std::getline(lines, rest);) {
      const size_t start = rest.find_first_not_of(' ');
      const size_t paren = rest.find('(');
      if (start != std::string::npos && paren != std::string::npos && rest[start] != '<' &&
          rest.compare(start, 3, "---") != 0) {
        const std::string call = rest.substr(start, paren - start);
        Calls& calls = counts[call];
        calls.total = std::max(calls.total, ++perProcess[pid + " " + call]);
      }
    }
  }

  // Runs every job, a few at a time: each run waits mostly on its children and on strace.
  void RunAll(std::vector<Job>& jobs, const Result& clean) const {
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < kParallelRuns; ++i) {
      workers.emplace_back([&] {
        for (size_t j = next++; j < jobs.size(); j = next++) {
          Job& job = jobs[j];
          const std::string call = job.fault.call;
          job.run = Check("-e trace=" + call + " -e inject=" + call + ":error=" + job.fault.error +
                              ":when=" + std::to_string(job.nth),
                          call + "." + std::to_string(job.nth));
          job.outcome = Classify(job.run, clean);
        }
      });
    }
    for (std::thread& worker : workers) {
      worker.join();
    }
  }

  static constexpr int kSecondsPerRun = 30;
  static constexpr int kParallelRuns = 4;
  TempDir machine_;
  TempDir scratch_;
  testsupport::DpkgAdminDir admin_{
      {{"corva-zorvex-runtime", "2024.2.0-48", "amd64", "Zorvex runtime libraries"}}};
};

// The products that `run` lacks or adds against `clean`, or what else differs.
std::string Difference(const Result& run, const Result& clean) {
  const e2e::ReportSummary got = e2e::Summarize(run.out);
  const e2e::ReportSummary want = e2e::Summarize(clean.out);
  if (!got.complete) {
    return "no complete report";
  }
  std::string text;
  for (const std::string& name : want.products) {
    if (std::find(got.products.begin(), got.products.end(), name) == got.products.end()) {
      text += " -\"" + name + "\"";
    }
  }
  for (const std::string& name : got.products) {
    if (std::find(want.products.begin(), want.products.end(), name) == want.products.end()) {
      text += " +\"" + name + "\"";
    }
  }
  return text.empty() ? "report differs, same products" : "products" + text;
}

// One table a mode: system call and error by outcome. The class (c) and (d) cases go to
// `failures`, or to `startup` when they struck the check's process before its first call.
std::string Tabulate(const std::vector<Job>& jobs, const std::string& tracing, const Result& clean,
                     std::string& failures, std::string& startup) {
  std::map<std::string, std::vector<int>> table;
  std::vector<int> totals(kOutcomes);
  for (const Job& job : jobs) {
    if (job.tracing != tracing) {
      continue;
    }
    std::vector<int>& row = table[std::string(job.fault.call) + " " + job.fault.error +
                                  (job.startup ? " start-up" : "")];
    row.resize(kOutcomes);
    ++row[job.outcome];
    ++totals[job.outcome];
    if (job.outcome == kSilentLoss || job.outcome == kCrashOrHang) {
      (job.startup ? startup : failures) += std::string(kOutcomeNames[job.outcome]) + " " +
                                            tracing + " " + job.fault.call + " " + job.fault.error +
                                            " #" + std::to_string(job.nth) + ": status " +
                                            std::to_string(job.run.status) + ", " +
                                            Difference(job.run, clean) + job.run.injected + "\n";
    }
  }
  std::ostringstream text;
  text << "strace " << (tracing.empty() ? "(the check's process)" : tracing + " (every process)")
       << "\nsystem call, error           same  loud  loss  crash/hang\n";
  for (const auto& [call, row] : table) {
    text << call << std::string(call.size() < 28 ? 28 - call.size() : 1, ' ');
    for (const int count : row) {
      text << std::setw(5) << count << " ";
    }
    text << "\n";
  }
  text << "all" << std::string(25, ' ');
  for (const int count : totals) {
    text << std::setw(5) << count << " ";
  }
  return text.str() + "\n";
}

}  // namespace

TEST_F(FaultSweep, EverySingleSystemCallFailureIsLoudOrHarmless) {
  const Result clean = Check("", "clean");
  ASSERT_EQ(clean.status, 0) << clean.err;
  ASSERT_EQ(e2e::Summarize(clean.out).products.size(), 4u) << clean.out;
  ASSERT_EQ(Check("-f", "every").out, clean.out);
  std::map<std::string, Calls> ownCounts = CallCounts(ReadFile(scratch_ / "clean.trace"));
  std::map<std::string, Calls> everyCounts = ownCounts;
  TakeChildCounts(ReadFile(scratch_ / "every.trace"), everyCounts);

  std::vector<Job> jobs;
  for (const auto& [tracing, counts] : {std::pair{"", &ownCounts}, std::pair{"-f", &everyCounts}}) {
    for (const Fault& fault : kFaults) {
      const Calls calls = (*counts)[fault.call];
      for (int nth = 1; nth <= calls.total; ++nth) {
        jobs.push_back({fault, nth, nth <= calls.startup, tracing, {}});
      }
    }
  }
  RunAll(jobs, clean);

  std::string failures;
  std::string startup;
  std::cout << Tabulate(jobs, "", clean, failures, startup) << "\n"
            << Tabulate(jobs, "-f", clean, failures, startup)
            << "\nIn the start-up, before the check runs (not failures):\n"
            << startup << "\nIn the run:\n"
            << failures;
  EXPECT_TRUE(failures.empty()) << "faults lost at status 0 without a word, or crashes or hangs "
                                   "(listed above)";
}
