// The stand-alone entry, kept out of the core library so that the test programs, which link the
// core, keep their own main.
#include <iostream>
#include <string>

#include "zorvex_checker.h"

extern "C" ZORVEX_EXPORT int main() {
  std::string report;
  const int status = test(report);
  std::cout << report << std::endl;
  return status;
}
