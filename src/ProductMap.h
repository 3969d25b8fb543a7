#ifndef ZORVEX_PRODUCT_MAP_H
#define ZORVEX_PRODUCT_MAP_H

#include <string>
#include <unordered_map>
#include <vector>

#include "Product.h"

// One product of the family's installer as the report shows it.
struct InstallerProduct {
  const std::string& id;           // "Product ID": the component's identifier
  const std::string& version;      // "Version": the version its manifest names
  const std::string& fullVersion;  // "Full Version": the component's version
  const std::string& description;  // "Description"
  const std::string& path;         // "Path": the installation folder
};

// The product-map text: json-c's spaced form of an object holding one report node per product,
// written directly, byte for byte as json-c writes the same tree (building that tree costs many
// times the text). Names follow json-c's rules: a name counts up to its first NUL, and a name
// given again keeps its first place and takes the later product. The only writer of product
// nodes.
class ProductMap {
 public:
  // Whether two names may agree up to their first NUL. Only then is each name remembered, which
  // costs more than writing its product.
  enum class Names { kMayRepeat, kDistinct };

  explicit ProductMap(Names names = Names::kMayRepeat) : names_(names) {}

  // A package product under `name`: "Packages", "Version" (the version up to its first "-"),
  // "Full Version", "Architecture" and "Path" ("/opt/corva/zorvex").
  void Add(const std::string& name, const Product& product);

  // An installer product under `name`: "Product ID", "Version", "Full Version", "Description"
  // and "Path".
  void Add(const std::string& name, const InstallerProduct& product);

  // Hands over the map; "{ }" without products.
  std::string Text() &&;

 private:
  // Opens the member of the next product; Place then files it under `name`.
  size_t OpenMember();
  void Place(const std::string& name, size_t memberStart);

  const Names names_;
  // "{", then the members in their places, ", " between them.
  std::string text_ = "{";
  // Where each place's member lies in text_, and the later product of a name given again.
  std::vector<std::pair<size_t, size_t>> spans_;
  std::unordered_map<std::string, size_t> places_;
  std::unordered_map<size_t, std::string> replaced_;
};

// Adds the members of the product-map text `map` behind those of `merged` (empty at first),
// keeping one object. Empty maps ("{ }") add nothing; a name in both then stands twice, for the
// parser's rules to decide.
void SpliceMap(std::string& merged, const std::string& map);

#endif  // ZORVEX_PRODUCT_MAP_H
