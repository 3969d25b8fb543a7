#ifndef DIAG_HOST_HOST_STATUS_H
#define DIAG_HOST_HOST_STATUS_H

#include <string>

// Exit statuses of diag-host; when several apply, the highest wins.
enum HostExitStatus : int {
  kClean = 0,
  kFailReported = 2,
  kErrorReported = 3,
  kNoReport = 4,
  kBadPlugin = 5,
  kUsage = 64,
  kPolicyInvalid = 65,     // a line of the --policy file does not parse
  kPolicyUnreadable = 66,  // the --policy file cannot be read
  kCannotWrite = 73,
};

// Writes "diag-host: " + `message` as one line on standard error.
void Complain(const std::string& message);

// The status a report speaks for by the words it holds: "ERROR" outranks "FAIL".
int ReportStatus(const std::string& report);

#endif  // DIAG_HOST_HOST_STATUS_H
