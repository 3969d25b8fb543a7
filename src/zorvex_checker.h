#ifndef ZORVEX_CHECKER_H
#define ZORVEX_CHECKER_H

#include <string>

#include "zorvex_plugin.h"

// What one product source said: its product-map text when `found`, otherwise its message.
struct SourceResult {
  std::string text;
  bool found = false;
};

// Runs the check once: asks the installer, dpkg and rpm sources in that order, builds the report
// and replaces `out` with its pretty-printed JSON text. Returns the status code: 0, 2 when the
// report of found products holds "FAIL", 3 when it holds "ERROR" or when a source could not start
// (unless "WARNING" or "FAIL" in a report of found products says otherwise). Never 1.
int test(std::string& out);

// The assembly step of `test`, apart from the sources: chooses or merges the sources' texts,
// replaces `out` with the report and returns the status code, starting from `status` (3 when a
// source could not start, else 0).
int AssembleReport(const SourceResult& installer, const SourceResult& debian,
                   const SourceResult& rpm, int status, std::string& out);

#endif  // ZORVEX_CHECKER_H
