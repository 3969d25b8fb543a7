#ifndef ZORVEX_TEST_SUPPORT_H
#define ZORVEX_TEST_SUPPORT_H

// The whole fixture library: scoped state, the fixture machine, the expected texts, children and
// accounts, and the adapters to the library's own state.
#include "Children.h"
#include "ExpectedText.h"
#include "FixtureMachine.h"
#include "ScopedState.h"

#endif  // ZORVEX_TEST_SUPPORT_H
