// The package sources' own work: a listing text turned into the product-map text, beside the
// time dpkg-query itself takes to list the same packages.
#include <benchmark/benchmark.h>

#include "AptChecker.h"
#include "BenchSupport.h"
#include "CheckerHelper.h"
#include "RpmChecker.h"

namespace {

void ReportLines(benchmark::State& state, const std::string& listing) {
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * listing.size()));
}

// dpkg's own listing of N family packages, as its grep hands it over.
void BM_AptParseListing(benchmark::State& state) {
  const std::string& listing = benchsupport::DpkgListing(static_cast<size_t>(state.range(0)));
  while (state.KeepRunning()) {
    std::string text;
    benchmark::DoNotOptimize(AptChecker::ParseListing(listing, text));
  }
  ReportLines(state, listing);
}

// The reference: dpkg-query itself listing the same N packages, started without a shell.
void BM_DpkgQueryListing(benchmark::State& state) {
  const benchsupport::DpkgAdmin& admin =
      benchsupport::SharedDpkgAdmin(static_cast<size_t>(state.range(0)));
  while (state.KeepRunning()) {
    benchmark::DoNotOptimize(benchsupport::RunDpkgQuery(admin));
  }
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_RpmParseListing(benchmark::State& state) {
  const std::string listing = benchsupport::RpmListing(static_cast<size_t>(state.range(0)));
  while (state.KeepRunning()) {
    std::string text;
    benchmark::DoNotOptimize(RpmChecker::ParseListing(listing, text));
  }
  ReportLines(state, listing);
}

// The splitting alone: the listing into lines, and every line into its whitespace-separated
// fields, as the Debian source does.
void BM_SplitListing(benchmark::State& state) {
  const std::string& listing = benchsupport::DpkgListing(static_cast<size_t>(state.range(0)));
  while (state.KeepRunning()) {
    size_t fields = 0;
    for (const std::string& line : CheckerHelper::SplitString(listing, "\n")) {
      fields += CheckerHelper::SplitString(line, "(\\s+)").size();
    }
    benchmark::DoNotOptimize(fields);
  }
  ReportLines(state, listing);
}

}  // namespace

BENCHMARK(BM_AptParseListing)->Apply(benchsupport::ThousandToHundredThousand);
BENCHMARK(BM_DpkgQueryListing)->Apply(benchsupport::ThousandToHundredThousand);
BENCHMARK(BM_RpmParseListing)->Apply(benchsupport::ThousandToHundredThousand);
BENCHMARK(BM_SplitListing)->Apply(benchsupport::ThousandToHundredThousand);
