#ifndef ZORVEX_REPORT_H
#define ZORVEX_REPORT_H

#include <string>

// The report's pretty-printed JSON text: the root's "Value" holds the applications object, whose
// "APP" node holds the products object, whose "Zorvex products" node holds what was found.

// The report of found products: the "Zorvex products" node with `command` and, as its value, the
// product-map text `map` as json-c's parser reads it (null for a text it cannot read). A map that
// SpacedToPretty accepts is re-indented in place instead of parsed; the bytes are the same. With
// `behind`, the map is the one that SpliceMap makes of `map` and `*behind`, made only where the
// two cannot be re-indented as they stand. A `failure` that is not empty is the node's "Message".
std::string ProductsReport(const std::string& command, const std::string& map,
                           const std::string* behind = nullptr, const std::string& failure = "");

// The nothing-found form of the report with `message` as the product node's text, and `failure`,
// when not empty, as its "Message".
std::string MessageReport(const std::string& message, const std::string& failure = "");

#endif  // ZORVEX_REPORT_H
