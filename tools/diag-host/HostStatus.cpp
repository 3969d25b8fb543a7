#include "HostStatus.h"

#include <iostream>

void Complain(const std::string& message) { std::cerr << "diag-host: " << message << "\n"; }

int ReportStatus(const std::string& report) {
  if (report.find("ERROR") != std::string::npos) {
    return kErrorReported;
  }
  if (report.find("FAIL") != std::string::npos) {
    return kFailReported;
  }
  return kClean;
}
