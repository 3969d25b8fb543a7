#include "StandardOutput.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "HostStatus.h"

void PrepareStandardOutput() { std::signal(SIGPIPE, SIG_IGN); }

int FinishStandardOutput(int status) {
  errno = 0;
  std::cout.flush();
  // The C stream holds what std::cout passed on; its error flag also keeps earlier failures.
  if (std::cout && std::fflush(stdout) == 0 && !std::ferror(stdout)) {
    return status;
  }
  const int failure = errno;
  Complain(std::string("cannot write to standard output") +
           (failure != 0 ? std::string(": ") + std::strerror(failure) : std::string()) +
           "; the output is incomplete");
  return status > kCannotWrite ? status : kCannotWrite;
}
