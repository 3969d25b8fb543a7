#include "PolicyReport.h"

#include <json-c/json.h>

#include <memory>
#include <set>

#include "PrometheusText.h"

std::string PolicyMetricsText(const std::vector<PolicyVerdict>& verdicts) {
  std::string text = GaugeFamily(
      "zorvex_product_outdated",
      "1 when the product is below the minimum version of the policy, 0 when it meets it.");
  // Two identical series would make the collector reject the whole file.
  std::set<std::string> series;
  size_t outdated = 0;
  for (const PolicyVerdict& verdict : verdicts) {
    if (verdict.compliance == Compliance::kUnmatched) {
      continue;
    }
    const bool below = verdict.compliance == Compliance::kOutdated;
    const std::string line =
        "zorvex_product_outdated{" + LabelPair("product", verdict.product->name) + "," +
        LabelPair("source", verdict.product->source) + "," +
        LabelPair("version", verdict.product->fullVersion) + "," +
        LabelPair("minimum", verdict.minimum) + "} " + (below ? "1" : "0") + "\n";
    if (series.insert(line).second) {
      text += line;
      outdated += below ? 1 : 0;
    }
  }
  text += GaugeFamily("zorvex_products_outdated",
                      "Number of products below the minimum version of the policy.");
  return text + "zorvex_products_outdated " + std::to_string(outdated) + "\n";
}

std::string OutdatedJson(const std::vector<PolicyVerdict>& verdicts) {
  const std::unique_ptr<json_object, decltype(&json_object_put)> array(json_object_new_array(),
                                                                       json_object_put);
  for (const PolicyVerdict& verdict : verdicts) {
    if (verdict.compliance != Compliance::kOutdated) {
      continue;
    }
    json_object* entry = json_object_new_object();
    json_object_object_add(entry, "name", json_object_new_string(verdict.product->name.c_str()));
    json_object_object_add(entry, "source",
                           json_object_new_string(verdict.product->source.c_str()));
    json_object_object_add(entry, "full_version",
                           json_object_new_string(verdict.product->fullVersion.c_str()));
    json_object_object_add(entry, "minimum", json_object_new_string(verdict.minimum.c_str()));
    json_object_array_add(array.get(), entry);
  }
  return json_object_to_json_string_ext(array.get(),
                                        JSON_C_TO_STRING_PLAIN | JSON_C_TO_STRING_NOSLASHESCAPE);
}
