#ifndef ZORVEX_CHECKER_H
#define ZORVEX_CHECKER_H

#include <cstring>
#include <string>

#include "Report.h"
#include "zorvex_plugin.h"

// The status codes of a run.
constexpr int kStatusOk = 0;     // the report says what was found, or that nothing was
constexpr int kStatusFail = 2;   // a report of found products holds "FAIL"
constexpr int kStatusError = 3;  // it holds "ERROR", a source could not start or failed, or the run
                                 // stopped

// What one product source said: its product-map text when `found`, otherwise its message.
struct SourceResult {
  std::string text;
  bool found = false;
};

// Runs the check once, one run at a time in the process (overlapping calls wait): asks the
// installer, dpkg and rpm sources in that order, builds the report and replaces `out` with its
// pretty-printed JSON text. Returns one of the status codes above, never 1: "WARNING" (0), "FAIL"
// or "ERROR" in a report of found products outranks a source that could not start.
int test(std::string& out);

class CommandsAhead;
// The run of `test` within its run lock, through `commands`, the run's own: the sources reach the
// system through it alone. Afterwards `commands` says what the run started ahead and left unused.
int RunCheck(CommandsAhead& commands, std::string& out);

// The assembly step of `test`, apart from the sources: chooses or merges the sources' texts,
// replaces `out` with the report and returns the status code, starting from `status` (3 when a
// source could not start, else 0). `failures` (each ending in a line feed) says what failed in the
// run, as opposed to what is not there: installer databases that could not be read, commands that
// could not run to an end of their own. When it is not empty, the product node's "Message" begins
// with "ERROR" and carries it, and the status is 3; without failures the report is as before.
int AssembleReport(const SourceResult& installer, const SourceResult& debian,
                   const SourceResult& rpm, int status, std::string& out,
                   const std::string& failures = std::string());

// The report an entry point hands on when memory ran out: MessageReport of this text, kept as a
// fixed text so that handing it on needs no memory.
extern const char* const kOutOfMemoryMessage;
extern const char* const kOutOfMemoryReport;

// One run as the entry points see it. When the run threw, `status` is 3 and the report says why:
// built as MessageReport, or the fixed kOutOfMemoryReport when memory ran out.
struct EntryReport {
  std::string built;
  const char* fixed = nullptr;
  int status = kStatusError;
  const char* Text() const { return fixed != nullptr ? fixed : built.c_str(); }
  size_t Size() const { return fixed != nullptr ? std::strlen(fixed) : built.size(); }
};

// Runs `test` for an entry point; nothing escapes. Runs from several threads are serialised.
void RunForEntry(EntryReport& report) noexcept;

#endif  // ZORVEX_CHECKER_H
