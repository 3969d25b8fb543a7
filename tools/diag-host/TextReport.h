#ifndef DIAG_HOST_TEXT_REPORT_H
#define DIAG_HOST_TEXT_REPORT_H

#include <string>

// Renders a report as an indented tree, one report node per line, two spaces per level, starting
// one level in: "name: value" for a node with a text or number, "name" followed by its members
// for a node with an object, a status word other than "INFO" in brackets, the node's "Command" in
// parentheses and its "Message" on a line below. A text value of several lines shows its later
// lines one level deeper behind "| "; a name that starts with "|" shows it as "\x7c". Otherwise
// control characters are escaped ("\n" in names, "\t", "\r", others "\xhh") and backslashes
// doubled, so that no text of the report can make a line that reads as a node. Nodes whose
// "Verbosity" exceeds `verbosity` are left out with everything below them. Returns false, leaving
// `text` alone, when `report` is not JSON.
bool RenderTextReport(const std::string& report, unsigned long verbosity, std::string& text);

// `text` on one line: control characters escaped and backslashes doubled as above.
std::string EscapeText(const std::string& text);

#endif  // DIAG_HOST_TEXT_REPORT_H
