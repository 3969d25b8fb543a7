#ifndef ZORVEX_FIXTURES_EXPECTED_TEXT_H
#define ZORVEX_FIXTURES_EXPECTED_TEXT_H

#include <string>
#include <vector>

#include "FixtureMachine.h"

// The texts that tests expect of the library, computed with json-c: each expected product map or
// report is built as a json-c tree of report nodes and serialised, so that the node layout is
// written here once and json-c's own rules (quoting, a name given twice) apply as they are.
namespace testsupport {

// One product as a product map shows it: its name and its details, in order.
struct ExpectedProduct {
  struct Detail {
    std::string name;
    bool verbose;  // carries "Verbosity": 1
    std::string value;
  };
  std::string name;
  std::vector<Detail> details;
};

// The first line of the nothing-found text.
constexpr const char* kNoProductsLine =
    "No installed Zorvex products are discovered. Additional information: \n";

// A product of a package source (dpkg or rpm), installed in "/opt/corva/zorvex".
ExpectedProduct ProductMapEntry(const std::string& summary, const std::string& packages,
                                const std::string& shortVersion, const std::string& version,
                                const std::string& architecture);

// A product of an installer database.
ExpectedProduct InstallerEntry(const InstallerProduct& product);

// The product-map text of `products` in json-c's spaced form, in order.
std::string ProductMap(const std::vector<ExpectedProduct>& products);

// The product-map text of an installer database listing `products`, in order.
std::string InstallerMap(const std::vector<InstallerProduct>& products);

// The text of several databases' maps spliced into one, as a run hands them back: within a
// database members are separated by ", ", between databases by " , ".
std::string SplicedInstallerMaps(const std::vector<std::vector<InstallerProduct>>& databases);

// The whole report in its pretty form when `products` were found by `command`.
std::string PrettyReport(const std::string& command, const std::vector<ExpectedProduct>& products);

// The whole report in its pretty form when `command` found the product map `mapText`, as json-c's
// parser reads it: "Value" is null when the text does not parse. `message`, when not empty, is
// the node's "Message".
std::string PrettyReportOfText(const std::string& command, const std::string& mapText,
                               const std::string& message = "");

// The whole report in its pretty form when nothing was found, with `information` after the
// nothing-found text's fixed first line, and `message` as the node's "Message" when not empty.
std::string PrettyNothingFoundReport(const std::string& information,
                                     const std::string& message = "");

}  // namespace testsupport

#endif  // ZORVEX_FIXTURES_EXPECTED_TEXT_H
