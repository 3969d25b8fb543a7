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
  kBadData =
      65,  // a --policy line does not parse; --root: the image's dpkg database cannot be read
  kNoInput = 66,  // the --policy file cannot be read; --root: no such folder, or not a folder
  kPolicyInvalid = kBadData,
  kPolicyUnreadable = kNoInput,
  kSystemFailure = 71,  // --root: the image cannot be made read-only
  kCannotWrite = 73,
  kNotRoot = 77,  // --all-users as an ordinary user
};

// Writes "diag-host: " + `message` as one line on standard error.
void Complain(const std::string& message);

// The status a report speaks for by the words it holds: "ERROR" outranks "FAIL".
int ReportStatus(const std::string& report);

#endif  // DIAG_HOST_HOST_STATUS_H
