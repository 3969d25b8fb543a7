// Eight host threads call the check at once over 200 installer databases: each must get the
// report that a lone call gets. CI also runs it built with ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "LoadedPlugin.h"
#include "TestSupport.h"

namespace {

constexpr int kThreads = 8;
constexpr int kDatabases = 200;

TEST(Concurrency, EightThreadsEachGetTheReportOfALoneCall) {
  const testsupport::TempDir tree;
  for (int i = 0; i < kDatabases; ++i) {
    const std::string id = "zorvex.part" + std::to_string(i);
    testsupport::InstallerCache(tree / ("corva/db" + std::to_string(i) + "/"), {{id, "1.0"}});
  }
  const testsupport::DpkgAdminDir admin(
      {{"corva-zorvex-cli", "3.1-2", "amd64", "Zorvex command line tools"}});
  e2e::LoadedPlugin plugin;
  plugin.SetInstallerRoot(tree / "corva");
  auto* version = reinterpret_cast<char* (*)()>(plugin.Symbol("get_api_version"));
  const std::string lone = plugin.RunCheck();
  ASSERT_EQ(e2e::SummarizeComplete(lone).products.size(), kDatabases + 1u);

  std::atomic<int> waiting{kThreads};
  std::vector<std::string> reports(kThreads);
  std::vector<std::string> versions(kThreads);
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      // Start together, so that the calls overlap.
      --waiting;
      while (waiting.load() > 0) {
        std::this_thread::yield();
      }
      versions[i] = version();
      reports[i] = plugin.RunCheck();
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(versions[i], "0.1");
    EXPECT_TRUE(reports[i] == lone) << "thread " << i << " got:\n" << reports[i];
  }
}

}  // namespace
