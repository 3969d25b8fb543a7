#ifndef DIAG_HOST_REPORT_TREE_H
#define DIAG_HOST_REPORT_TREE_H

#include <json-c/json.h>

#include <memory>
#include <string>

// Releases a json-c tree.
struct JsonTreeRelease {
  void operator()(json_object* tree) const { json_object_put(tree); }
};
using JsonTree = std::unique_ptr<json_object, JsonTreeRelease>;

// Parses `report` as one JSON value with nothing after it but white space. Returns false, leaving
// `tree` alone, when it is not. (A report of JSON null gives true and an empty `tree`.)
bool ParseReportTree(const std::string& report, JsonTree& tree);

// The member `name` of `object`, or null when `object` is not an object or has no such member.
json_object* Member(json_object* object, const char* name);

#endif  // DIAG_HOST_REPORT_TREE_H
