#include "TextReport.h"

#include <algorithm>

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

// A text with its control characters (below 0x20, and 0x7f) as escapes, so that no name or
// value can end a line or drive the terminal; a backslash is doubled so that every escape reads
// one way. Bytes above 0x7f pass as they are.
std::string Escaped(const char* bytes, size_t length) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(length);
  for (const char* at = bytes; at != bytes + length; ++at) {
    const auto byte = static_cast<unsigned char>(*at);
    if (byte == '\\') {
      text += "\\\\";
    } else if (byte == '\n') {
      text += "\\n";
    } else if (byte == '\t') {
      text += "\\t";
    } else if (byte == '\r') {
      text += "\\r";
    } else if (byte < 0x20 || byte == 0x7f) {
      text.append("\\x").append(1, kHex[byte >> 4]).append(1, kHex[byte & 0xf]);
    } else {
      text += *at;
    }
  }
  return text;
}

std::string Escaped(const std::string& text) { return Escaped(text.data(), text.size()); }

// A name as its line shows it: escaped, and a leading "|" as an escape too, so that only a
// continuation line starts with "| " after its indentation.
std::string Name(const std::string& name) {
  std::string text = Escaped(name);
  return text.rfind('|', 0) == 0 ? "\\x7c" + text.substr(1) : text;
}

// A text value: each of its lines escaped; the lines after the first one level deeper than
// `depth` behind "| ", so that a text cannot make a line that reads as a node.
std::string TextLines(const char* bytes, size_t length, int depth) {
  std::string text;
  const char* end = bytes + length;
  for (const char* line = bytes;;) {
    const char* lineEnd = std::find(line, end, '\n');
    text += (line == bytes ? "" : "\n" + Indent(depth + 1) + "| ") +
            Escaped(line, static_cast<size_t>(lineEnd - line));
    if (lineEnd == end) {
      return text;
    }
    line = lineEnd + 1;
  }
}

// A text escaped, NULs included; anything else as its JSON text, which already escapes every
// control character but DEL.
std::string Scalar(json_object* value) {
  if (json_object_is_type(value, json_type_string)) {
    return Escaped(json_object_get_string(value),
                   static_cast<size_t>(json_object_get_string_len(value)));
  }
  std::string json = json_object_to_json_string_ext(value, JSON_C_TO_STRING_PLAIN);
  for (size_t at = json.find('\x7f'); at != std::string::npos; at = json.find('\x7f', at)) {
    json.replace(at, 1, "\\u007f");
  }
  return json;
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
  text += Indent(depth) + label + ": ";
  text += json_object_is_type(value, json_type_string)
              ? TextLines(json_object_get_string(value),
                          static_cast<size_t>(json_object_get_string_len(value)), depth)
              : Scalar(value);
  text += "\n";
}

void Renderer::Node(const std::string& name, json_object* node, int depth) {
  if (!IsReportNode(node)) {
    Line(depth, Name(name), node);
    return;
  }
  if (TooDetailed(node, verbosity)) {
    return;
  }
  std::string label = Name(name);
  const std::string word = Scalar(Member(node, "RetVal"));
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

std::string EscapeText(const std::string& text) { return Escaped(text); }
