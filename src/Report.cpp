#include "Report.h"

#include <json-c/json.h>

#include <cstring>
#include <new>

#include "JsonNode.h"
#include "JsonText.h"
#include "ProductMap.h"

namespace {

const char* const kProductsNode = "Zorvex products";

// Where the product map sits in the report: in the "Zorvex products" node of the products object
// of the "APP" node of the applications object of the root.
constexpr int kProductMapLevel = 5;

// Stands in for the product map while the report tree is written. Writing the map directly in the
// pretty form gives the bytes that parsing it into the tree would give, at a fraction of the
// cost. json-c writes the stand-in as "\u0001products\u0001", which no fixed text of the report
// holds.
const char* const kMapPlaceholder = "\x01products\x01";
const char* const kWrittenPlaceholder = "\"\\u0001products\\u0001\"";

// The pretty text of the report root, its applications object and the "APP" node holding the
// products object, to which `addNode` adds the product node.
template <typename AddNode>
std::string WrittenReport(const AddNode& addNode) {
  json_object* root = json_object_new_object();
  json_object* applications = json_object_new_object();
  json_object* products = json_object_new_object();
  if (root == nullptr || applications == nullptr || products == nullptr) {
    json_object_put(root);
    json_object_put(applications);
    json_object_put(products);
    throw std::bad_alloc();
  }
  JsonNode::AddJsonTopNode(root, applications);
  JsonNode::AddJsonNode(applications, "APP", JsonNode::kInfo, products);
  addNode(products);
  const char* report = json_object_to_json_string_ext(root, JSON_C_TO_STRING_PRETTY);
  if (report == nullptr) {  // json-c gives no text only when out of memory
    json_object_put(root);
    throw std::bad_alloc();
  }
  std::string out = report;
  json_object_put(root);
  return out;
}

}  // namespace

std::string ProductsReport(const std::string& command, const std::string& map,
                           const std::string* behind) {
  const auto report = [&command](json_object* value) {
    return WrittenReport([&](json_object* products) {
      JsonNode::AddJsonNode(products, kProductsNode, JsonNode::kInfo, std::string(), command, 0u,
                            value);
    });
  };
  // The frame around the stand-in, with the map re-indented straight into its place.
  const std::string frame = report(json_object_new_string(kMapPlaceholder));
  const size_t at = frame.rfind(kWrittenPlaceholder);
  if (at == std::string::npos) {  // json-c could not make the stand-in: out of memory
    throw std::bad_alloc();
  }
  std::string out(frame, 0, at);
  if (behind == nullptr || !SplicedToPretty(map, *behind, kProductMapLevel, out)) {
    // The one map, made in full where there are two, for the re-indenter or else the parser.
    std::string spliced;
    if (behind != nullptr) {
      SpliceMap(spliced, map);
      SpliceMap(spliced, *behind);
    }
    const std::string& whole = behind != nullptr ? spliced : map;
    if (!SpacedToPretty(whole, kProductMapLevel, out)) {
      return report(json_tokener_parse(whole.c_str()));
    }
  }
  out.append(frame, at + std::strlen(kWrittenPlaceholder), std::string::npos);
  return out;
}

std::string MessageReport(const std::string& message) {
  return WrittenReport([&message](json_object* products) {
    JsonNode::AddJsonNode(products, kProductsNode, JsonNode::kInfo, message);
  });
}
