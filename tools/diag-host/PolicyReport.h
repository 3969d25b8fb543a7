#ifndef DIAG_HOST_POLICY_REPORT_H
#define DIAG_HOST_POLICY_REPORT_H

#include <string>
#include <vector>

#include "Policy.h"

// The policy's verdicts as Prometheus families: zorvex_product_outdated{product, source,
// version (the full version compared), minimum} 1 or 0 for every product a rule names, and
// zorvex_products_outdated, the number outdated, always written.
std::string PolicyMetricsText(const std::vector<PolicyVerdict>& verdicts);

// The outdated products as a JSON array in json-c's plain form, each {"name", "source",
// "full_version", "minimum"}.
std::string OutdatedJson(const std::vector<PolicyVerdict>& verdicts);

#endif  // DIAG_HOST_POLICY_REPORT_H
