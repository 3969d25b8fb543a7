#include "Failure.h"

#include <cstdio>
#include <cstdlib>

namespace testsupport {

namespace {

void PrintAndExit(const std::string& message) {
  std::fprintf(stderr, "fixture setup failed: %s\n", message.c_str());
  std::exit(1);
}

FailureHandler handler = &PrintAndExit;

}  // namespace

void SetFailureHandler(FailureHandler newHandler) { handler = newHandler; }

void Fail(const std::string& message) { handler(message); }

}  // namespace testsupport
