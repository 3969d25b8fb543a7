#ifndef ZORVEX_JSON_TEXT_H
#define ZORVEX_JSON_TEXT_H

#include <string>
#include <string_view>

// JSON texts written directly, byte for byte as json-c writes the same values: for the large
// product maps, building a json-c tree only to serialise and free it again costs many times
// the work of writing the text.

// Appends `text`, up to its first NUL as json-c takes it, as a quoted JSON string with json-c's
// escaping: "\b", "\f", "\n", "\r", "\t", "\"", "\\" and "\/"; other bytes below 32 as "\u00" and
// two lower-case hexadecimal digits; every other byte unchanged.
void AppendJsonString(std::string& out, std::string_view text);

// Makes room in `text` for `bytes` in all, for a text written once. Room of megabytes is backed by
// huge pages where the system grants them: fresh memory costs a page fault and a translation miss
// per 4 KiB page written, which at tens of megabytes costs more than writing the text (and far
// more under virtualisation); a 2 MiB page costs one.
void ReserveText(std::string& text, size_t bytes);

// Writes the object text `spaced`, as json-c's spaced form writes it or two such texts spliced
// (blanks between tokens do not matter), in json-c's pretty form as it appears nested at `level`
// (its members indented by 2 * (level + 1) spaces), appending to `out`. Handles objects, strings
// and integers. Returns false, leaving `out` as it was, for any text that json-c's parser and
// pretty printer might not reproduce member for member: other value types, a member name repeated
// within one object, a name holding "\u0000", strings or integers that json-c would not write
// so, or anything after the object.
bool SpacedToPretty(const std::string& spaced, int level, std::string& out);

// SpacedToPretty of the object that splicing `first` and `second` makes (`first` without its last
// byte, a comma, `second` without its first), without making it: the same bytes wherever it
// returns true. Refuses, too, where either holds no member of its own.
bool SplicedToPretty(const std::string& first, const std::string& second, int level,
                     std::string& out);

#endif  // ZORVEX_JSON_TEXT_H
