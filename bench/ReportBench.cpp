// Report assembly on large product maps: choosing, merging, parsing, pretty serialisation and
// the word scan, and the product table's own serialisation.
#include <benchmark/benchmark.h>

#include "BenchSupport.h"
#include "ProductMap.h"
#include "zorvex_checker.h"

namespace {

void ReportProducts(benchmark::State& state, int64_t products) {
  state.SetComplexityN(products);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * products);
}

// Installer and dpkg products, N of each: the merge, then everything after it.
void BM_AssembleMergedReport(benchmark::State& state) {
  const size_t products = static_cast<size_t>(state.range(0));
  const SourceResult installer{benchsupport::InstallerMapText(products), true};
  const SourceResult debian{benchsupport::PackageMapText(products), true};
  const SourceResult rpm{"Obtaining information about products installed by RPM is skipped.",
                         false};
  while (state.KeepRunning()) {
    std::string report;
    benchmark::DoNotOptimize(AssembleReport(installer, debian, rpm, 0, report));
  }
  ReportProducts(state, 2 * state.range(0));
}

// One source's N products: no merge.
void BM_AssembleSingleReport(benchmark::State& state) {
  const SourceResult installer{"Cannot obtain paths to package manager databases.", false};
  const SourceResult debian{benchsupport::PackageMapText(static_cast<size_t>(state.range(0))),
                            true};
  const SourceResult rpm{"Obtaining information about products installed by RPM is skipped.",
                         false};
  while (state.KeepRunning()) {
    std::string report;
    benchmark::DoNotOptimize(AssembleReport(installer, debian, rpm, 3, report));
  }
  ReportProducts(state, state.range(0));
}

// The product table of N packages, each with its own summary, into its text.
void BM_ProductTableToText(benchmark::State& state) {
  ProductTable table;
  for (int64_t index = 0; index < state.range(0); ++index) {
    const std::string summary =
        benchsupport::Description(static_cast<size_t>(index)) + " " + std::to_string(index) + " ";
    table.Add(summary, "corva-zorvex-" + std::to_string(index), "2024.1.0-7", "amd64");
  }
  while (state.KeepRunning()) {
    benchmark::DoNotOptimize(ProductMap(table).Text());
  }
  ReportProducts(state, state.range(0));
}

}  // namespace

BENCHMARK(BM_AssembleMergedReport)->Apply(benchsupport::ThousandToHundredThousand);
BENCHMARK(BM_AssembleSingleReport)->Apply(benchsupport::ThousandToHundredThousand);
BENCHMARK(BM_ProductTableToText)->Apply(benchsupport::ThousandToHundredThousand);
