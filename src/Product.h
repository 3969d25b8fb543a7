#ifndef ZORVEX_PRODUCT_H
#define ZORVEX_PRODUCT_H

#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

// One product as a package source sees it: the packages that share one description.
struct Product {
  std::string summary;       // the description as assembled from a listing line; the table key
  std::string version;       // full version of the first package listed with this summary
  std::string architecture;  // architecture of the first package listed with this summary
  std::string packages;      // names of all packages with this summary, ", "-joined, listing order
};

// The products of one listing by summary, gathered in listing order; the product map puts them in
// order only once, at the end: an ordered tree of a hundred thousand products costs a cache miss
// at every step.
class ProductTable {
 public:
  // `lines`: how many packages the listing may file at most, so that the index is sized once.
  explicit ProductTable(size_t lines = 0) { bySummary_.reserve(lines); }
  ProductTable(const ProductTable&) = delete;  // the index views the products' own summaries
  ProductTable& operator=(const ProductTable&) = delete;

  // Files one listed package under `summary`: a new product takes its version and architecture;
  // an existing one only gains its name.
  void Add(std::string_view summary, std::string_view name, std::string_view version,
           std::string_view architecture) {
    const auto found = bySummary_.find(summary);
    if (found != bySummary_.end()) {
      found->second->packages.append(", ").append(name);
      return;
    }
    Product& product = products_.emplace_back(Product{
        std::string(summary), std::string(version), std::string(architecture), std::string(name)});
    bySummary_.emplace(product.summary, &product);
  }

  bool empty() const { return products_.empty(); }

  // The products in listing order.
  std::deque<Product>::const_iterator begin() const { return products_.begin(); }
  std::deque<Product>::const_iterator end() const { return products_.end(); }

 private:
  std::deque<Product> products_;  // a deque keeps each product in place as it grows
  std::unordered_map<std::string_view, Product*> bySummary_;
};

#endif  // ZORVEX_PRODUCT_H
