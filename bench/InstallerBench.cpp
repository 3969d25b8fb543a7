// The installer source's own work: databases and manifests on disk into the product-map text.
#include <benchmark/benchmark.h>

#include "BInstallerChecker.h"
#include "BenchSupport.h"

namespace {

void ReportComponents(benchmark::State& state, int64_t components) {
  state.SetComplexityN(components);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * components);
}

// The one-argument reading of every database of the tree through CachePaths.
void TimeAllDatabases(benchmark::State& state, const benchsupport::InstallerTree& tree) {
  BInstallerChecker::CachePaths = tree.cachePaths();
  while (state.KeepRunning()) {
    std::string text;
    benchmark::DoNotOptimize(BInstallerChecker::GetAppInfo(text));
  }
  BInstallerChecker::CachePaths.clear();
}

// `databases` databases sharing state.range(0) components.
void BM_InstallerGetAppInfo(benchmark::State& state, size_t databases) {
  TimeAllDatabases(
      state, benchsupport::SharedInstallerTree(databases, static_cast<size_t>(state.range(0))));
  ReportComponents(state, state.range(0));
}

// The three-argument reading of one database of state.range(0) components.
void BM_InstallerGetAppInfoOneDatabase(benchmark::State& state) {
  const benchsupport::InstallerTree& tree =
      benchsupport::SharedInstallerTree(1, static_cast<size_t>(state.range(0)));
  const std::string cachePath = tree.cachePaths().front();
  while (state.KeepRunning()) {
    std::string text;
    benchmark::DoNotOptimize(
        BInstallerChecker::GetAppInfo(cachePath + "packagemanager.db", cachePath, text));
  }
  ReportComponents(state, state.range(0));
}

// The databases alone: 100 components in each of 1, 10 and 100 databases.
void BM_InstallerDatabases(benchmark::State& state) {
  const size_t databases = static_cast<size_t>(state.range(0));
  TimeAllDatabases(state, benchsupport::SharedInstallerTree(databases, databases * 100));
  ReportComponents(state, state.range(0));
}

}  // namespace

BENCHMARK_CAPTURE(BM_InstallerGetAppInfo, databases_1, 1)
    ->Apply(benchsupport::HundredToTenThousand);
BENCHMARK_CAPTURE(BM_InstallerGetAppInfo, databases_10, 10)
    ->Apply(benchsupport::HundredToTenThousand);
BENCHMARK_CAPTURE(BM_InstallerGetAppInfo, databases_100, 100)
    ->Apply(benchsupport::HundredToTenThousand);
BENCHMARK(BM_InstallerGetAppInfoOneDatabase)->Apply(benchsupport::HundredToTenThousand);
BENCHMARK(BM_InstallerDatabases)->Apply(benchsupport::OneToHundred);
