#include "Product.h"

#include <algorithm>

#include "ProductMap.h"

void AddToProductTable(ProductTable& table, const std::string& summary, const std::string& name,
                       const std::string& version, const std::string& architecture) {
  const auto found = table.find(summary);
  if (found != table.end()) {
    found->second.packages.append(", ").append(name);
    return;
  }
  table.emplace(summary, Product{summary, version, architecture, name});
}

const std::string& FieldOrEmpty(const std::vector<std::string>& fields, size_t index) {
  static const std::string kEmpty;
  return index < fields.size() ? fields[index] : kEmpty;
}

bool ProductTableToText(const ProductTable& table, std::string& text) {
  // The table's keys are distinct; json-c folds only those that agree up to a NUL.
  const bool anyNul = std::any_of(table.begin(), table.end(), [](const auto& entry) {
    return entry.first.find('\0') != std::string::npos;
  });
  ProductMap map(anyNul ? ProductMap::Names::kMayRepeat : ProductMap::Names::kDistinct);
  for (const auto& entry : table) {
    map.Add(entry.first, entry.second);
  }
  text = std::move(map).Text();
  return true;
}
