#ifndef ZORVEX_FIXTURES_FAILURE_H
#define ZORVEX_FIXTURES_FAILURE_H

#include <string>

namespace testsupport {

// Receives every failure of the fixtures: a test's handler fails the running test and lets it go
// on; the benchmarks keep the default, which prints the message to standard error and ends the
// program with status 1, since nothing can be measured on data that could not be made.
using FailureHandler = void (*)(const std::string& message);

// Installs `handler` for the rest of the program.
void SetFailureHandler(FailureHandler handler);

// Reports `message` through the installed handler; returns when the handler does.
void Fail(const std::string& message);

}  // namespace testsupport

#endif  // ZORVEX_FIXTURES_FAILURE_H
