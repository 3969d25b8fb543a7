#include "Product.h"

#include <algorithm>

void ProductTable::Add(std::string_view summary, std::string_view name, std::string_view version,
                       std::string_view architecture) {
  const auto found = bySummary_.find(summary);
  if (found != bySummary_.end()) {
    found->second->packages.append(", ").append(name);
    return;
  }
  Product& product = products_.emplace_back(Product{std::string(summary), std::string(version),
                                                    std::string(architecture), std::string(name)});
  bySummary_.emplace(product.summary, &product);
}

std::vector<ProductTable::Entry> ProductTable::Sorted() const {
  std::vector<Entry> sorted;
  sorted.reserve(products_.size());
  for (const Product& product : products_) {
    sorted.emplace_back(product.summary, &product);
  }
  // Summaries are distinct, so no two products tie.
  std::sort(sorted.begin(), sorted.end(),
            [](const Entry& a, const Entry& b) { return a.first < b.first; });
  return sorted;
}
