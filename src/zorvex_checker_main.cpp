// The stand-alone entry, kept out of the core library so that the test programs, which link the
// core, keep their own main.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "zorvex_checker.h"

namespace {

// Writes the report and a line feed to standard output and flushes; false when any of it failed.
bool WriteWhole(const EntryReport& report) {
  return std::fwrite(report.Text(), 1, report.Size(), stdout) == report.Size() &&
         std::fputc('\n', stdout) != EOF && std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
}

}  // namespace

extern "C" ZORVEX_EXPORT int main() {
  EntryReport report;
  RunForEntry(report);
  if (!WriteWhole(report)) {
    // A report cut short must not pass for one read whole.
    std::fprintf(stderr, "zorvex_app_check: cannot write the report to standard output: %s\n",
                 std::strerror(errno));
    return 3;
  }
  return report.status;
}
