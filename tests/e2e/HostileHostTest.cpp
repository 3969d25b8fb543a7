// Hosts that would turn the check against the machine or hang it, through the loaded library: a
// root host that kept an ordinary user's HOME and PATH, hosts that fork while a run is under way,
// and a host thread with a small stack.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "LoadedPlugin.h"
#include "TestSupport.h"

using e2e::LoadedPlugin;
using e2e::SampleInstallation;
using e2e::SummarizeComplete;
using testsupport::ScopedEnv;
using testsupport::Shell;
using testsupport::TempDir;
using testsupport::ToolDir;

namespace {

// A root run with an ordinary user's HOME and a folder of the user's first on PATH: the user's
// dpkg options, rpm macros and programs are none of them obeyed.
TEST(HostileHost, RootRunObeysNoUser) {
  const std::optional<testsupport::TestAccount> user = testsupport::TestUserAccount();
  if (geteuid() != 0 || !user) {
    GTEST_SKIP() << "a root run with a user's home: needs root and the test account";
  }
  const TempDir marks;  // root's: what an obeyed user file would leave
  const TempDir home;
  ToolDir usersTools;
  const std::string planted = "ii  corva-zorvex-planted  6.6  amd64  Planted product";
  // dpkg reads the options of ~/.dpkg.cfg: an administrative folder with a planted product.
  testsupport::WriteDpkgAdminDir(home / "planted",
                                 {{"corva-zorvex-planted", "6.6", "amd64", "Planted product"}});
  home.Write(".dpkg.cfg", "admindir " + (home / "planted") + "\n");
  // rpm expands the macros of ~/.rpmmacros, and %(...) runs a command.
  home.Write(".rpmmacros", "%_dbpath %(touch " + (marks / "rpmmacros") + "; echo /nonexistent)\n");
  usersTools.Script("dpkg", "touch " + (marks / "dpkg") + "; echo '" + planted + "'");
  for (const std::string& owned : {home.path(), usersTools.path()}) {
    ASSERT_EQ(Shell("chown -R " + std::to_string(user->uid) + ":" + std::to_string(user->gid) +
                    " '" + owned + "'"),
              0);
  }
  const ScopedEnv usersHome("HOME", home.path());
  LoadedPlugin plugin;
  plugin.SetInstallerRoot(marks / "absent");
  const struct {
    const char* name;
    std::vector<std::string> tools;  // with which, grep and find, the whole PATH; else PATH kept
  } cases[] = {
      {"dpkg with the user's .dpkg.cfg", {}},
      {"rpm with the user's .rpmmacros", {"rpm"}},
  };
  for (const auto& each : cases) {
    std::optional<testsupport::ToolsOnPath> path;
    if (!each.tools.empty()) {
      std::vector<std::string> tools = each.tools;
      tools.insert(tools.end(), {"which", "grep", "find"});
      path.emplace(tools);
    }
    const std::string report = plugin.RunCheck();
    EXPECT_EQ(report.find("Planted"), std::string::npos) << each.name << report;
  }
  // The user's folder first on PATH: its dpkg is not run.
  const char* hostPath = getenv("PATH");
  const ScopedEnv path("PATH", usersTools.path() + ":" + (hostPath != nullptr ? hostPath : ""));
  EXPECT_EQ(plugin.RunCheck().find("Planted"), std::string::npos);
  EXPECT_EQ(testsupport::DirectoryEntries(marks.path()), std::vector<std::string>{});
}

// A run on a host thread whose stack is 20 KiB.
TEST(HostileHost, ThreadWithASmallStackGetsTheReport) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers enlarge every frame: the stack a run needs is not measured here";
#endif
  const SampleInstallation sample;
  LoadedPlugin plugin;
  plugin.SetInstallerRoot(sample.InstallerRoot());
  const std::string quiet = plugin.RunCheck();
  struct Run {
    const LoadedPlugin* plugin;
    std::string report;
  } run{&plugin, ""};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, size_t{20} * 1024), 0);
  pthread_t thread;
  const auto body = [](void* argument) -> void* {
    auto* run = static_cast<Run*>(argument);
    run->report = run->plugin->RunCheck();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, &run), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  EXPECT_EQ(run.report, quiet);
}

// Forking hosts: a child forked while another thread is inside the check runs the check itself;
// workers forked all the while, which hold the run's pipes open for as long as they live, do not
// hold the run up.
TEST(HostileHost, ForkingHostsGetTheirReports) {
  const SampleInstallation sample;
  const TempDir marks;
  ToolDir tools;
  tools.Link({"which", "grep", "find", "dpkg-query"});
  // A dpkg that says it has started and takes a while, so that a run is surely under way.
  tools.Script("dpkg", testsupport::FindTool("touch") + " '" + (marks / "started") + "'; " +
                           testsupport::FindTool("sleep") + " 1; exec '" +
                           testsupport::FindTool("dpkg") + "' \"$@\"");
  const ScopedEnv path("PATH", tools.path());
  LoadedPlugin plugin;
  plugin.SetInstallerRoot(sample.InstallerRoot());
  const std::string quiet = plugin.RunCheck();
  EXPECT_EQ(SummarizeComplete(quiet).command,
            "Parse installed zorvex caches and installed dpkg packages");
  const testsupport::HangGuard guard(50);

  std::filesystem::remove(marks / "started");
  std::string inThread;
  std::thread running([&] { inThread = plugin.RunCheck(); });
  for (int wait = 0; wait < 2000 && !std::filesystem::exists(marks / "started"); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(std::filesystem::exists(marks / "started"));
  const testsupport::ChildRun child = testsupport::RunForked([&plugin](int out) {
    alarm(30);  // a child whose check never returns fails instead of hanging the test
    const std::string report = plugin.RunCheck();
    return write(out, report.data(), report.size()) == static_cast<ssize_t>(report.size()) ? 0 : 1;
  });
  running.join();
  EXPECT_EQ(inThread, quiet);
  EXPECT_EQ(child.status, 0);
  EXPECT_EQ(child.output, quiet);

  // Workers that live long past the run's deadline, forked every few milliseconds.
  std::atomic<bool> forking{true};
  std::vector<pid_t> workers;
  std::thread host([&] {
    while (forking) {
      const pid_t worker = fork();
      if (worker == 0) {
        sleep(120);
        _exit(0);
      }
      if (worker > 0) {
        workers.push_back(worker);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const std::string withWorkers = plugin.RunCheck();
  forking = false;
  host.join();
  for (const pid_t worker : workers) {
    kill(worker, SIGKILL);
    waitpid(worker, nullptr, 0);
  }
  EXPECT_EQ(withWorkers, quiet);
}

}  // namespace
