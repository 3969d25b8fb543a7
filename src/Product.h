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

#endif  // ZORVEX_PRODUCT_H
