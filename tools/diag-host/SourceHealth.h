#ifndef DIAG_HOST_SOURCE_HEALTH_H
#define DIAG_HOST_SOURCE_HEALTH_H

#include <json-c/json.h>

#include <string>
#include <vector>

struct InstalledProduct;

// What one product source did in a check run, as far as its report tells. The command of a
// product node names the sources whose products it shows; the nothing-found text holds the
// installer's and dpkg's texts; the node's message, when a source failed, lists the failures. The
// rest follows from the order in which the check asks them: rpm only where dpkg is not installed.
enum class SourceState {
  kFound,    // products of this source are in the report
  kNone,     // asked and found nothing, without a failure
  kAbsent,   // not on this machine: no installer database found, or no dpkg
  kSkipped,  // rpm, not asked because dpkg was found
  kFailed,   // the source failed; `found` counts what it still read
  kUnknown,  // the check stopped before the sources answered
};

struct SourceHealth {
  std::string source;  // "installer", "dpkg" or "rpm"
  SourceState state = SourceState::kUnknown;
  size_t found = 0;     // its products in the report
  std::string message;  // the source's own text in the report, line ends trimmed; "" for none
};

// The sources in the order the check asks them.
extern const char* const kSourceNames[3];

// What a "Zorvex products" node says about the sources, as texts.
struct ProductNodeTexts {
  bool productsShown = false;  // its "Value" is a product map
  std::string value;    // its "Value" when a text: the nothing-found text, or why the check stopped
  std::string command;  // which sources the shown products come from
  std::string message;  // its "Message": what failed, when anything did
};

// The health of the three sources, in kSourceNames order, from a product node and the products
// read from it.
std::vector<SourceHealth> ReadSourceHealth(const ProductNodeTexts& node,
                                           const std::vector<InstalledProduct>& products);

// Counts `count` products found apart from the report (an account's own, with --all-users) for
// the installer source, which then reads as found unless it failed.
void AddInstallerProducts(std::vector<SourceHealth>& sources, size_t count);

// The lines of a text, at its line feeds; none for an empty text, no empty last one.
std::vector<std::string> TextLinesOf(const std::string& text);

// "found", "none", "absent", "skipped", "failed" or "unknown".
const char* SourceStateName(SourceState state);

// Whether the source answered: found, none, absent or skipped; not when failed or unknown.
bool SourceUp(SourceState state);

// {"installer": {"state", "found", "message"}, "dpkg": {...}, "rpm": {...}}, every member always
// present, so that a reader needs no defaults.
json_object* SourcesObject(const std::vector<SourceHealth>& sources);

#endif  // DIAG_HOST_SOURCE_HEALTH_H
