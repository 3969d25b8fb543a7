#include "ExpectedText.h"

#include <json-c/json.h>

namespace testsupport {

namespace {

const char* const kPackagePath = "/opt/corva/zorvex";

// A report node: its "Command" when given, "Verbosity" when above 0, "RetVal" "INFO", "Value".
json_object* Node(json_object* value, int verbosity = 0, const std::string& command = "",
                  const std::string& message = "") {
  json_object* node = json_object_new_object();
  if (!message.empty()) {
    json_object_object_add(node, "Message", json_object_new_string(message.c_str()));
  }
  if (!command.empty()) {
    json_object_object_add(node, "Command", json_object_new_string(command.c_str()));
  }
  if (verbosity > 0) {
    json_object_object_add(node, "Verbosity", json_object_new_int(verbosity));
  }
  json_object_object_add(node, "RetVal", json_object_new_string("INFO"));
  json_object_object_add(node, "Value", value);
  return node;
}

json_object* ProductNode(const ExpectedProduct& product) {
  json_object* details = json_object_new_object();
  for (const ExpectedProduct::Detail& detail : product.details) {
    json_object_object_add(details, detail.name.c_str(),
                           Node(json_object_new_string(detail.value.c_str()), detail.verbose));
  }
  return Node(details);
}

json_object* MapTree(const std::vector<ExpectedProduct>& products) {
  json_object* map = json_object_new_object();
  for (const ExpectedProduct& product : products) {
    json_object_object_add(map, product.name.c_str(), ProductNode(product));
  }
  return map;
}

// Serialises `tree` with `flags` and releases it.
std::string Serialised(json_object* tree, int flags) {
  std::string text = json_object_to_json_string_ext(tree, flags);
  json_object_put(tree);
  return text;
}

// The report around `productsNode`: the root's "Value", "APP" and its "Value".
std::string PrettyAround(json_object* productsNode) {
  json_object* app = json_object_new_object();
  json_object_object_add(app, "Zorvex products", productsNode);
  json_object* root = json_object_new_object();
  json_object* value = json_object_new_object();
  json_object_object_add(value, "APP", Node(app));
  json_object_object_add(root, "Value", value);
  return Serialised(root, JSON_C_TO_STRING_PRETTY);
}

std::vector<ExpectedProduct> InstallerEntries(const std::vector<InstallerProduct>& products) {
  std::vector<ExpectedProduct> entries;
  entries.reserve(products.size());
  for (const InstallerProduct& product : products) {
    entries.push_back(InstallerEntry(product));
  }
  return entries;
}

// The members of a map's text, without its braces: "" for none.
std::string Members(const std::vector<InstallerProduct>& products) {
  const std::string map = InstallerMap(products);
  return products.empty() ? "" : map.substr(2, map.size() - 4);
}

}  // namespace

ExpectedProduct ProductMapEntry(const std::string& summary, const std::string& packages,
                                const std::string& shortVersion, const std::string& version,
                                const std::string& architecture) {
  return {summary,
          {{"Packages", true, packages},
           {"Version", false, shortVersion},
           {"Full Version", true, version},
           {"Architecture", true, architecture},
           {"Path", true, kPackagePath}}};
}

ExpectedProduct InstallerEntry(const InstallerProduct& product) {
  return {product.title,
          {{"Product ID", true, product.id},
           {"Version", false, product.version},
           {"Full Version", true, product.fullVersion},
           {"Description", true, product.description},
           {"Path", true, product.path}}};
}

std::string ProductMap(const std::vector<ExpectedProduct>& products) {
  return Serialised(MapTree(products), JSON_C_TO_STRING_SPACED);
}

std::string InstallerMap(const std::vector<InstallerProduct>& products) {
  return ProductMap(InstallerEntries(products));
}

std::string SplicedInstallerMaps(const std::vector<std::vector<InstallerProduct>>& databases) {
  std::string spliced;
  for (const std::vector<InstallerProduct>& products : databases) {
    spliced += (spliced.empty() ? "" : " , ") + Members(products);
  }
  return "{ " + spliced + " }";
}

std::string PrettyReport(const std::string& command, const std::vector<ExpectedProduct>& products) {
  return PrettyAround(Node(MapTree(products), 0, command));
}

std::string PrettyReportOfText(const std::string& command, const std::string& mapText,
                               const std::string& message) {
  return PrettyAround(Node(json_tokener_parse(mapText.c_str()), 0, command, message));
}

std::string PrettyNothingFoundReport(const std::string& information, const std::string& message) {
  return PrettyAround(
      Node(json_object_new_string((kNoProductsLine + information).c_str()), 0, "", message));
}

}  // namespace testsupport
