#include "Product.h"

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
