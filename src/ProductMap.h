#ifndef ZORVEX_PRODUCT_MAP_H
#define ZORVEX_PRODUCT_MAP_H

#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
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
  // A map for installer products, added one by one; any two names may agree.
  ProductMap() = default;

  // The map of the table's package products in plain byte order of their summaries, each under
  // its own: "Packages", "Version" (the version up to its first "-"), "Full Version",
  // "Architecture" and "Path" ("/opt/corva/zorvex"). Summaries are distinct, so names are
  // remembered only when one holds a NUL (remembering every name costs more than writing its
  // product).
  explicit ProductMap(const ProductTable& table);

  // An installer product under `name`, its details in the order InstallerProduct lists them.
  void Add(const std::string& name, const InstallerProduct& product);

  // Hands over the map; "{ }" without products.
  std::string Text() &&;

 private:
  // One text node of a product: its name, whether it shows at verbosity 1, and its value.
  struct Detail {
    const char* name;
    bool verbose;
    std::string_view value;
  };

  // Writes the product node `name` with its `details` and files it under `name`.
  void AddNode(std::string_view name, std::initializer_list<Detail> details);

  bool rememberNames_ = true;
  // "{", then the members, ", " between them; a name given again adds its later member at the end.
  std::string text_ = "{";
  // Where the member of each place lies in text_, and the place of each name.
  std::vector<std::pair<size_t, size_t>> spans_;
  std::unordered_map<std::string, size_t> places_;
  bool reordered_ = false;  // a place's member is no longer where the place stands
};

// Adds the members of the product-map text `map` behind those of `merged` (empty at first),
// keeping one object. Empty maps ("{ }") add nothing; a name in both then stands twice, for the
// parser's rules to decide.
void SpliceMap(std::string& merged, const std::string& map);

#endif  // ZORVEX_PRODUCT_MAP_H
