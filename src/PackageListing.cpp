#include "PackageListing.h"

#include "CheckerHelper.h"
#include "ProductMap.h"

namespace {

const char* const kCannotObtain = "Cannot obtain installed package.";

}  // namespace

bool ListedProductsToText(const ProductTable& table, std::string& text) {
  if (table.empty()) {
    text = kCannotObtain;
    return false;
  }
  text = ProductMap(table).Text();
  return true;
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
