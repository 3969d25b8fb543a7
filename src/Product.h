#ifndef ZORVEX_PRODUCT_H
#define ZORVEX_PRODUCT_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "HashIndex.h"

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
  explicit ProductTable(size_t lines = 0) : index_(lines) { products_.reserve(lines); }

  // Files one listed package under `summary`: a new product takes its version and architecture;
  // an existing one only gains its name.
  void Add(std::string_view summary, std::string_view name, std::string_view version,
           std::string_view architecture) {
    const uint32_t found =
        index_.FindOrFile(HashIndex::Hash(summary), static_cast<uint32_t>(products_.size() + 1),
                          [&](uint32_t place) { return products_[place - 1].summary == summary; });
    if (found != 0) {
      products_[found - 1].packages.append(", ").append(name);
      return;
    }
    products_.push_back(Product{std::string(summary), std::string(version),
                                std::string(architecture), std::string(name)});
  }

  bool empty() const { return products_.empty(); }

  // The products in listing order.
  std::vector<Product>::const_iterator begin() const { return products_.begin(); }
  std::vector<Product>::const_iterator end() const { return products_.end(); }

 private:
  std::vector<Product> products_;
  HashIndex index_;  // by summary
};

#endif  // ZORVEX_PRODUCT_H
