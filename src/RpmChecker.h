#ifndef ZORVEX_RPM_CHECKER_H
#define ZORVEX_RPM_CHECKER_H

#include <string>

class SystemCommands;

// The query command: the installed packages of the family's vendor, as rpm lists them.
extern const char* const kRpmQueryCommand;

// The family's RPM packages, as rpm lists them, grouped by summary.
class RpmChecker {
 public:
  // Nothing to prepare: always true, and `message` is not touched.
  static bool Initialize(std::string& message);

  // Lists the installed family packages with rpm. Returns true with the product-map text in
  // `text`; false with a message in `text` when rpm is not the machine's only package manager
  // ("Obtaining information about products installed by RPM is skipped."), when the query fails
  // or lists no package of a vendor whose name begins with "Corva" ("Cannot obtain installed
  // package.") or when no text can be made of it.
  static bool GetAppInfo(std::string& text);
  // GetAppInfo through `commands`: a run's, which answers from what it started ahead.
  static bool GetAppInfo(SystemCommands& commands, std::string& text);

  // Turns the lines of the query (name, version, architecture, summary and ":"-prefixed vendor,
  // separated by single TABs) whose last field, the vendor, begins with ":Corva" into the
  // product-map text; any other line, and one of fewer than five fields, is passed over. Returns
  // false with "Cannot obtain installed package." when no line is left.
  static bool ParseListing(const std::string& listing, std::string& text);
};

#endif  // ZORVEX_RPM_CHECKER_H
