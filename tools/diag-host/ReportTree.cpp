#include "ReportTree.h"

bool ParseReportTree(const std::string& report, JsonTree& tree) {
  json_tokener* tokener = json_tokener_new();
  JsonTree root(json_tokener_parse_ex(tokener, report.c_str(), static_cast<int>(report.size())));
  const bool parsed =
      json_tokener_get_error(tokener) == json_tokener_success &&
      report.find_first_not_of(" \t\r\n", json_tokener_get_parse_end(tokener)) == std::string::npos;
  json_tokener_free(tokener);
  if (parsed) {
    tree = std::move(root);
  }
  return parsed;
}

json_object* Member(json_object* object, const char* name) {
  json_object* value = nullptr;
  return json_object_is_type(object, json_type_object) &&
                 json_object_object_get_ex(object, name, &value)
             ? value
             : nullptr;
}
