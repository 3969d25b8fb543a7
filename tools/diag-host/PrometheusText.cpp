#include "PrometheusText.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace {

std::string Number(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

std::string GaugeFamily(const char* name, const char* help) {
  return std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
}

std::string LabelPair(const char* name, const std::string& value) {
  return std::string(name) + "=\"" + EscapeLabelValue(value) + "\"";
}

std::string EscapeLabelValue(const std::string& value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (const char character : value) {
    if (character == '\\') {
      escaped += "\\\\";
    } else if (character == '"') {
      escaped += "\\\"";
    } else if (character == '\n') {
      escaped += "\\n";
    } else {
      escaped += character;
    }
  }
  return escaped;
}

void PrometheusMetrics::Add(const ProductList& list, int status, double seconds, double startedAt) {
  products_.insert(products_.end(), list.products.begin(), list.products.end());
  users_.insert(users_.end(), list.users.begin(), list.users.end());
  os_ = list.os;
  status_ = std::max(status_, status);
  seconds_ += seconds;
  startedAt_ = empty_ ? startedAt : std::min(startedAt_, startedAt);
  empty_ = false;
  for (const SourceHealth& health : list.sources) {
    for (size_t index = 0; index < 3; ++index) {
      if (health.source == kSourceNames[index] && !SourceUp(health.state)) {
        sourceUp_[index] = false;
      }
    }
  }
}

std::string PrometheusMetrics::Text() const {
  std::string text = GaugeFamily(
      "zorvex_product_info", "A Zorvex product installed on this machine, as the labels name it.");
  // Two identical series would make the collector reject the whole file.
  std::set<std::string> series;
  for (const InstalledProduct& product : products_) {
    const std::string line = "zorvex_product_info{" + LabelPair("product", product.name) + "," +
                             LabelPair("version", product.version) + "," +
                             LabelPair("full_version", product.fullVersion) + "," +
                             LabelPair("source", product.source) + "," +
                             LabelPair("path", product.path) +
                             (product.user.empty() ? "" : "," + LabelPair("user", product.user)) +
                             (os_.empty() ? "" : "," + LabelPair("os", os_)) + "} 1\n";
    if (series.insert(line).second) {
      text += line;
    }
  }
  text += GaugeFamily("zorvex_products", "Number of Zorvex products found, by source.");
  for (const char* source : kSourceNames) {
    const auto count = std::count_if(
        products_.begin(), products_.end(),
        [source](const InstalledProduct& product) { return product.source == source; });
    text += "zorvex_products{" + LabelPair("source", source) + "} " + std::to_string(count) + "\n";
  }
  if (!users_.empty()) {
    text += GaugeFamily("zorvex_user_search_ok",
                        "Whether the search of an account's own installer folder completed.");
    std::set<std::string> seen;
    for (const UserPart& part : users_) {
      if (seen.insert(part.user).second) {
        text += "zorvex_user_search_ok{" + LabelPair("user", part.user) + "} " +
                (part.failure.empty() ? "1" : "0") + "\n";
      }
    }
  }
  text +=
      GaugeFamily("zorvex_check_status",
                  "Status code of the check: 0 clean, 2 the report holds FAIL, 3 it holds ERROR.");
  text += "zorvex_check_status " + std::to_string(status_) + "\n";
  text += GaugeFamily("zorvex_check_duration_seconds", "How long the check ran, in seconds.");
  text += "zorvex_check_duration_seconds " + Number("%.6f", seconds_) + "\n";
  text += GaugeFamily("zorvex_check_last_run_timestamp_seconds",
                      "When the check last ran, in seconds since the epoch.");
  text += "zorvex_check_last_run_timestamp_seconds " + Number("%.3f", startedAt_) + "\n";
  text += GaugeFamily("zorvex_source_up",
                      "1 when the source found products, found none or is not on this machine; "
                      "0 when it failed or the report does not say.");
  for (size_t index = 0; index < 3; ++index) {
    text += "zorvex_source_up{" + LabelPair("source", kSourceNames[index]) + "} " +
            (sourceUp_[index] ? "1" : "0") + "\n";
  }
  return text;
}
