#ifndef ZORVEX_CHECKER_H
#define ZORVEX_CHECKER_H

#include <string>

#include "zorvex_plugin.h"

// Runs the check once: asks the installer, dpkg and rpm sources in that order, builds the report
// and replaces `out` with its pretty-printed JSON text. Returns the status code: 0, 2 when the
// report of found products holds "FAIL", 3 when it holds "ERROR" or when a source could not start
// (unless "WARNING" or "FAIL" in a report of found products says otherwise). Never 1.
int test(std::string& out);

#endif  // ZORVEX_CHECKER_H
