#ifndef DIAG_HOST_PROMETHEUS_TEXT_H
#define DIAG_HOST_PROMETHEUS_TEXT_H

#include <string>
#include <vector>

#include "ProductList.h"

// The metrics of the check runs of one host invocation, in the text exposition format that
// node_exporter's textfile collector reads. No sample carries a timestamp: the collector refuses
// files with them, so the time of the run is a gauge of its own.
class PrometheusMetrics {
 public:
  // Adds one check run: its products, its status code, how long it ran and when it started, both
  // in seconds (the start since the epoch).
  void Add(const ProductList& list, int status, double seconds, double startedAt);

  // Each family with its HELP and TYPE lines: zorvex_product_info (one series of value 1 per
  // product, labels product, version, full_version, source, path), zorvex_products (the count per
  // source, all three always present), zorvex_check_status, zorvex_check_duration_seconds and
  // zorvex_check_last_run_timestamp_seconds, then zorvex_source_up (per source, all three always
  // present: 1 when it answered, 0 when it failed or the report does not say). A product of an
  // account's own folder carries a user label, and every product of an offline root an os label;
  // with --all-users, zorvex_user_search_ok says per account whether its search completed (1) or
  // failed (0), so every series stays present when one part fails. Runs add up: the products of
  // all (a label set once), the highest status, the total duration, the earliest start, a source
  // up only when it was up in every run.
  std::string Text() const;

 private:
  std::vector<InstalledProduct> products_;
  std::vector<UserPart> users_;
  std::string os_;
  int status_ = 0;
  double seconds_ = 0;
  double startedAt_ = 0;
  bool empty_ = true;
  bool sourceUp_[3] = {true, true, true};  // kSourceNames order
};

// `value` escaped for a label: backslash, double quote and line feed as \\, \" and \n.
std::string EscapeLabelValue(const std::string& value);

// The HELP and TYPE lines of the gauge family `name`.
std::string GaugeFamily(const char* name, const char* help);

// name="value", the value escaped.
std::string LabelPair(const char* name, const std::string& value);

#endif  // DIAG_HOST_PROMETHEUS_TEXT_H
