#ifndef ZORVEX_APT_CHECKER_H
#define ZORVEX_APT_CHECKER_H

#include <string>

class SystemCommands;

// The listing command: the installed and held family packages, as dpkg lists them.
extern const char* const kDpkgListCommand;

// The family's Debian packages, as dpkg lists them, grouped by description.
class AptChecker {
 public:
  virtual ~AptChecker() = default;

  // Nothing to prepare: always true, and `message` is not touched.
  static bool Initialize(std::string& message);

  // Lists the installed family packages with dpkg. Returns true with the product-map text in
  // `text`; false with a message in `text` when the machine has no dpkg ("Obtaining information
  // about products installed by dpkg is skipped."), when the listing fails or holds no installed
  // or held family package ("Cannot obtain installed package.") or when no text can be made of
  // the result.
  static bool GetAppInfo(std::string& text);
  // GetAppInfo through `commands`: a run's, which answers from what it started ahead.
  static bool GetAppInfo(SystemCommands& commands, std::string& text);

  // Turns the lines of a "dpkg -l" listing (status, name, version, architecture, description
  // words, separated by runs of whitespace) whose status column is "ii" (installed) or "hi"
  // (installed and held) into the product-map text; any other line is passed over. Returns false
  // with "Cannot obtain installed package." when no line is left.
  static bool ParseListing(const std::string& listing, std::string& text);
};

#endif  // ZORVEX_APT_CHECKER_H
