// One host process runs the check 1,000 times on the sample installation: every report must be
// the first one again, and neither resident memory nor the open descriptors may grow.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "LoadedPlugin.h"
#include "TestSupport.h"

// AddressSanitizer holds freed memory back in a quarantine of up to 256 MiB, which would show as
// growth here; this process measures memory, so it gives freed memory back at once. (Exported, so
// that the sanitizer's shared runtime finds it.)
// NOLINTNEXTLINE(bugprone-reserved-identifier): the sanitizer's own hook.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "quarantine_size_mb=0";
}

namespace {

constexpr int kRuns = 1000;
constexpr int kWarmUpRuns = 50;
// What resident memory may grow by after the warm-up: the allocator's own slack (measured: under
// 50 KiB; with AddressSanitizer's allocator about 550 KiB, the same after 3,000 runs as after
// 1,000). Keeping the reports, about 4 KiB each for the sample, would add about 4 MiB.
#ifdef __SANITIZE_ADDRESS__
constexpr long kGrowthBoundKiB = 1024;
#else
constexpr long kGrowthBoundKiB = 256;
#endif

}  // namespace

TEST(Soak, ThousandRunsGiveTheSameReportInFlatMemoryAndDescriptors) {
  const e2e::SampleInstallation sample;
  // A second database, in write-ahead-log mode, so that both ways of opening one are repeated.
  const std::string wal = sample.InstallerRoot() + "/zorvex-wal/";
  std::filesystem::copy(sample.Cache(), wal, std::filesystem::copy_options::recursive);
  testsupport::ExecuteSql(wal + "packagemanager.db", "PRAGMA journal_mode = WAL;");
  e2e::LoadedPlugin plugin;
  plugin.SetInstallerRoot(sample.InstallerRoot());

  const auto start = std::chrono::steady_clock::now();
  const std::string first = plugin.RunCheck();
  const e2e::ReportSummary summary = e2e::SummarizeComplete(first);
  ASSERT_EQ(summary.command, "Parse installed zorvex caches and installed dpkg packages") << first;
  int differing = 0;
  for (int run = 1; run < kWarmUpRuns; ++run) {
    differing += plugin.RunCheck() == first ? 0 : 1;
  }
  const long residentAfterWarmUp = testsupport::ResidentKiB();
  const size_t descriptorsAfterWarmUp = testsupport::OpenDescriptorCount();
  long peak = residentAfterWarmUp;
  for (int run = kWarmUpRuns; run < kRuns; ++run) {
    differing += plugin.RunCheck() == first ? 0 : 1;
    peak = std::max(peak, testsupport::ResidentKiB());
  }
  const long residentAtEnd = testsupport::ResidentKiB();
  const auto elapsed = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(differing, 0);
  EXPECT_EQ(testsupport::OpenDescriptorCount(), descriptorsAfterWarmUp);
  EXPECT_LE(residentAtEnd - residentAfterWarmUp, kGrowthBoundKiB);
  EXPECT_LE(peak - residentAfterWarmUp, kGrowthBoundKiB);
  std::printf(
      "%d runs in %lld ms; report %zu bytes; resident KiB %ld after %d runs, %ld at the "
      "end, %ld at most; %zu descriptors\n",
      kRuns,
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()),
      first.size(), residentAfterWarmUp, kWarmUpRuns, residentAtEnd, peak, descriptorsAfterWarmUp);
}
