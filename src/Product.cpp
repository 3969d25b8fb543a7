#include "Product.h"

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
