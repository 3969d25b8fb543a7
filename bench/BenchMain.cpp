#include <benchmark/benchmark.h>
#include <malloc.h>

// Every size reuses the memory that its previous iteration freed, as the small sizes do anyway:
// otherwise the texts of tens of megabytes go back to the system after each iteration and are
// faulted in anew, and the large sizes time the kernel clearing pages rather than the library.
int main(int argc, char** argv) {
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, -1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
