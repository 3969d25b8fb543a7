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

std::vector<const Product*> ProductTable::Sorted() const {
  // Summaries are distinct, so no two products tie. The comparisons read views of the summaries
  // held side by side rather than each product, which a table of many products has out of cache.
  std::vector<std::pair<std::string_view, const Product*>> keyed;
  keyed.reserve(products_.size());
  for (const Product& product : products_) {
    keyed.emplace_back(product.summary, &product);
  }
  std::sort(keyed.begin(), keyed.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<const Product*> sorted;
  sorted.reserve(keyed.size());
  for (const auto& entry : keyed) {
    sorted.push_back(entry.second);
  }
  return sorted;
}
