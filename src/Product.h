#ifndef ZORVEX_PRODUCT_H
#define ZORVEX_PRODUCT_H

#include <map>
#include <string>
#include <vector>

// One product as a package source sees it: the packages that share one description.
struct Product {
  std::string summary;       // the description as assembled from a listing line; the table key
  std::string version;       // full version of the first package listed with this summary
  std::string architecture;  // architecture of the first package listed with this summary
  std::string packages;      // names of all packages with this summary, ", "-joined, listing order
};

// Products by summary, in plain byte order of the summaries: the order of the product map.
using ProductTable = std::map<std::string, Product>;

// Files one listed package under `summary`: a new product takes its version and architecture;
// an existing one only gains its name.
void AddToProductTable(ProductTable& table, const std::string& summary, const std::string& name,
                       const std::string& version, const std::string& architecture);

// The listing field at `index`, or the empty text for a line too short to have it: such lines do
// not come from the package managers, and another package's values must not stand in for them.
const std::string& FieldOrEmpty(const std::vector<std::string>& fields, size_t index);

// The road both package sources take: unless GetOsType gives `osType`, `text` becomes
// `skipMessage` and nothing runs; a listing `command` that fails gives "Cannot obtain installed
// package."; otherwise `parse` turns the listing into the product-map text (or that message, when
// no line of it counts).
bool ListInstalledPackages(int osType, const char* skipMessage, const char* command,
                           bool (*parse)(const std::string& listing, std::string& text),
                           std::string& text);

// Turns the table into the product-map text, json-c's spaced form: one report node per product,
// named by its summary and holding "Packages", "Version" (the version up to its first "-"),
// "Full Version", "Architecture" and "Path" ("/opt/corva/zorvex"). Returns false, with the text
// "Can't convert json object to string", when the tree gives no text.
bool ProductTableToText(const ProductTable& table, std::string& text);

// What a package source makes of the table its listing filled: the product-map text, as
// ProductTableToText gives it; false with "Cannot obtain installed package." when the table is
// empty, because no line of the listing was a family package's.
bool ListedProductsToText(const ProductTable& table, std::string& text);

#endif  // ZORVEX_PRODUCT_H
