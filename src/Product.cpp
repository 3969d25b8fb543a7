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
  std::vector<const Product*> sorted;
  sorted.reserve(products_.size());
  for (const Product& product : products_) {
    sorted.push_back(&product);
  }
  // Summaries are distinct, so no two products tie.
  std::sort(sorted.begin(), sorted.end(),
            [](const Product* a, const Product* b) { return a->summary < b->summary; });
  return sorted;
}
