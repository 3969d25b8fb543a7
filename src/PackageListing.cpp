#include "PackageListing.h"

#include <algorithm>

#include "CheckerHelper.h"
#include "ProductMap.h"

namespace {

const char* const kCannotObtain = "Cannot obtain installed package.";

}  // namespace

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

bool ListedProductsToText(const ProductTable& table, std::string& text) {
  if (table.empty()) {
    text = kCannotObtain;
    return false;
  }
  return ProductTableToText(table, text);
}

bool ListInstalledPackages(int osType, const char* skipMessage, const char* command,
                           bool (*parse)(const std::string& listing, std::string& text),
                           std::string& text) {
  if (CheckerHelper::GetOsType() != osType) {
    text = skipMessage;
    return false;
  }
  std::string listing;
  if (CheckerHelper::RunCommand(command, listing) != 0) {
    text = kCannotObtain;
    return false;
  }
  return parse(listing, text);
}
