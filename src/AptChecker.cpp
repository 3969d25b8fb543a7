#include "AptChecker.h"

#include "CheckerHelper.h"
#include "Product.h"

namespace {

const char* const kListCommand = "dpkg --no-pager -l '*corva-zorvex*' 2>/dev/null | grep ii";

}  // namespace

bool AptChecker::Initialize(std::string& /*message*/) { return true; }

bool AptChecker::GetAppInfo(std::string& text) {
  return ListInstalledPackages(OS_TYPE_DEB,
                               "Obtaining information about products installed by dpkg is skipped.",
                               kListCommand, ParseListing, text);
}

bool AptChecker::ParseListing(const std::string& listing, std::string& text) {
  ProductTable table;
  std::string summary;
  for (std::string& line : CheckerHelper::SplitString(listing, "\n")) {
    summary.clear();
    const std::vector<std::string> fields = CheckerHelper::SplitString(std::move(line), "(\\s+)");
    // Field 0 is the status column, which grep has already looked at.
    for (size_t word = 4; word < fields.size(); ++word) {
      summary.append(fields[word]).append(1, ' ');
    }
    AddToProductTable(table, summary, FieldOrEmpty(fields, 1), FieldOrEmpty(fields, 2),
                      FieldOrEmpty(fields, 3));
  }
  return ProductTableToText(table, text);
}
