// Linked into every test program: a fixture that fails fails the running test, not the program.
#include <gtest/gtest.h>

#include "ScopedState.h"

namespace {

void AddTestFailure(const std::string& message) { ADD_FAILURE() << message; }

[[maybe_unused]] const bool kInstalled = (testsupport::SetFailureHandler(&AddTestFailure), true);

}  // namespace
