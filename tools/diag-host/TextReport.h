#ifndef DIAG_HOST_TEXT_REPORT_H
#define DIAG_HOST_TEXT_REPORT_H

#include <string>

// Renders a report as an indented tree, one report node per line, two spaces per level, starting
// one level in: "name: value" for a node with a text or number, "name" followed by its members
// for a node with an object, a status word other than "INFO" in brackets, the node's "Command" in
// parentheses and its "Message" on a line below. Every name and text is shown on its line with
// its control characters escaped ("\n", "\t", "\r", others "\xhh") and its backslashes doubled,
// so that no text of the report can start a line of its own. Nodes whose "Verbosity" exceeds
// `verbosity` are left out with everything below them. Returns false, leaving `text` alone, when
// `report` is not JSON.
bool RenderTextReport(const std::string& report, unsigned long verbosity, std::string& text);

#endif  // DIAG_HOST_TEXT_REPORT_H
