#ifndef ZORVEX_JSON_TEXT_H
#define ZORVEX_JSON_TEXT_H

#include <initializer_list>
#include <string>

// JSON texts written directly, byte for byte as json-c writes the same values: for the large
// product maps, building a json-c tree only to serialise and free it again costs many times
// the work of writing the text.

// Appends `text`, up to its first NUL as json-c takes it, as a quoted JSON string with json-c's
// escaping: "\b", "\f", "\n", "\r", "\t", "\"", "\\" and "\/"; other bytes below 32 as "\u00" and
// two lower-case hexadecimal digits; every other byte unchanged.
void AppendJsonString(std::string& out, const std::string& text);

// Opens a report node in json-c's spaced form: the quoted `name`, then its object up to the start
// of the "Value" member's value, "Verbosity" only when not 0, "RetVal" the status word `retVal`.
// The caller appends the value and closes the node with " }".
void OpenSpacedNode(std::string& out, const std::string& name, const char* retVal,
                    unsigned int verbosity);

// Appends a whole report node whose value is the text `value`, in json-c's spaced form.
void AppendSpacedTextNode(std::string& out, const std::string& name, const char* retVal,
                          unsigned int verbosity, const std::string& value);

// One text node of a nested object: its name, verbosity and value.
struct SpacedTextMember {
  const char* name;
  unsigned int verbosity;
  const std::string& value;
};

// Appends a whole report node named `name`, without verbosity, whose value is an object of the
// text nodes `members`, in json-c's spaced form; the node and its members carry `retVal`.
void AppendSpacedObjectNode(std::string& out, const std::string& name, const char* retVal,
                            std::initializer_list<SpacedTextMember> members);

// Writes the object text `spaced`, as json-c's spaced form writes it or two such texts spliced
// (blanks between tokens do not matter), in json-c's pretty form as it appears nested at `level`
// (its members indented by 2 * (level + 1) spaces), appending to `out`. Handles objects, strings
// and integers. Returns false, leaving `out` as it was, for any text that json-c's parser and
// pretty printer might not reproduce member for member: other value types, a member name repeated
// within one object, a name holding "\u0000", strings or integers that json-c would not write
// so, or anything after the object.
bool SpacedToPretty(const std::string& spaced, int level, std::string& out);

#endif  // ZORVEX_JSON_TEXT_H
