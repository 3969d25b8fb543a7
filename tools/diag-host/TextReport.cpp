#include "TextReport.h"

#include "ReportTree.h"

namespace {

struct Renderer {
  unsigned long verbosity;
  std::string text;

  void Members(json_object* object, int depth);
  void Node(const std::string& name, json_object* node, int depth);
  void Line(int depth, const std::string& label, json_object* value);
};

std::string Indent(int depth) { return std::string(static_cast<size_t>(depth) * 2, ' '); }

bool IsReportNode(json_object* node) {
  return json_object_is_type(node, json_type_object) && Member(node, "RetVal") != nullptr &&
         json_object_object_get_ex(node, "Value", nullptr);
}

// A text as it is, anything else as its JSON text.
std::string Scalar(json_object* value) {
  if (json_object_is_type(value, json_type_string)) {
    return json_object_get_string(value);
  }
  return json_object_to_json_string_ext(value, JSON_C_TO_STRING_PLAIN);
}

// Continuation lines of a text value line up one level below the node.
std::string IndentLines(std::string value, int depth) {
  while (!value.empty() && value.back() == '\n') {
    value.pop_back();
  }
  const std::string breakAndIndent = "\n" + Indent(depth + 1);
  for (size_t at = value.find('\n'); at != std::string::npos;
       at = value.find('\n', at + breakAndIndent.size())) {
    value.replace(at, 1, breakAndIndent);
  }
  return value;
}

bool TooDetailed(json_object* node, unsigned long verbosity) {
  json_object* level = Member(node, "Verbosity");
  if (level == nullptr) {
    return false;
  }
  const int64_t value = json_object_get_int64(level);
  return value > 0 && static_cast<uint64_t>(value) > verbosity;
}

void Renderer::Members(json_object* object, int depth) {
  json_object_object_foreach(object, name, value) { Node(name, value, depth); }
}

void Renderer::Line(int depth, const std::string& label, json_object* value) {
  text += Indent(depth) + label + ": " + IndentLines(Scalar(value), depth) + "\n";
}

void Renderer::Node(const std::string& name, json_object* node, int depth) {
  if (!IsReportNode(node)) {
    Line(depth, name, node);
    return;
  }
  if (TooDetailed(node, verbosity)) {
    return;
  }
  std::string label = name;
  const std::string word = json_object_get_string(Member(node, "RetVal"));
  if (!word.empty() && word != "INFO") {
    label += " [" + word + "]";
  }
  if (json_object* command = Member(node, "Command")) {
    label += " (" + Scalar(command) + ")";
  }
  json_object* value = Member(node, "Value");
  if (json_object_is_type(value, json_type_object)) {
    text += Indent(depth) + label + "\n";
  } else {
    Line(depth, label, value);
  }
  if (json_object* message = Member(node, "Message")) {
    Line(depth + 1, "Message", message);
  }
  if (json_object_is_type(value, json_type_object)) {
    Members(value, depth + 1);
  }
}

}  // namespace

bool RenderTextReport(const std::string& report, unsigned long verbosity, std::string& text) {
  JsonTree tree;
  if (!ParseReportTree(report, tree)) {
    return false;
  }
  json_object* root = tree.get();
  Renderer renderer{verbosity, std::string()};
  // The outermost object only holds the tree as "Value"; the tree's nodes start one level in.
  json_object* nodes = Member(root, "Value");
  if (json_object_is_type(nodes, json_type_object)) {
    renderer.Members(nodes, 1);
  } else if (json_object_is_type(root, json_type_object)) {
    renderer.Members(root, 1);
  } else {
    renderer.Line(1, "Report", root);
  }
  text = renderer.text;
  return true;
}
