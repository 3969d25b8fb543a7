// What starting and collecting one command costs: the runner (a helper process that waits for
// the shell) against popen and pclose, on a command that does nothing and on one that prints a
// listing-sized text.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "ShellCommand.h"

namespace {

const char* const kPrintsTwelveMiB = "head -c 12582912 /dev/zero | tr '\\0' 'x' | fold -w 120";

void RunWithRunner(benchmark::State& state, const char* command) {
  while (state.KeepRunning()) {
    std::string output;
    benchmark::DoNotOptimize(ShellCommand::Run(command, output, CommandLimits()));
  }
}

void RunWithPopen(benchmark::State& state, const char* command) {
  while (state.KeepRunning()) {
    std::string output;
    FILE* pipe = popen(command, "r");
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
      output.append(buffer);
    }
    benchmark::DoNotOptimize(pclose(pipe));
  }
}

}  // namespace

BENCHMARK_CAPTURE(RunWithRunner, true, "true")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(RunWithPopen, true, "true")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(RunWithRunner, listing, kPrintsTwelveMiB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunWithPopen, listing, kPrintsTwelveMiB)->Unit(benchmark::kMillisecond);
