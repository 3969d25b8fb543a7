#include "AptChecker.h"

#include "CheckerHelper.h"
#include "PackageListing.h"

// The status column reads "ii" for an installed package and "hi" for one held at its version;
// every other state (removed, half-installed, needing reinstallation) is not an installed product.
const char* const kDpkgListCommand =
    "dpkg --no-pager -l '*corva-zorvex*' 2>/dev/null | grep -E '^(ii|hi) '";

namespace {

// The same test on a split line: grep keeps the listing small, this keeps the product map exact
// whatever text reaches the parser.
bool IsInstalled(const std::vector<std::string>& fields) {
  const std::string& status = FieldOrEmpty(fields, 0);
  return status == "ii" || status == "hi";
}

}  // namespace

bool AptChecker::Initialize(std::string& /*message*/) { return true; }

bool AptChecker::GetAppInfo(std::string& text) {
  return ListInstalledPackages(OS_TYPE_DEB,
                               "Obtaining information about products installed by dpkg is skipped.",
                               kDpkgListCommand, ParseListing, text);
}

bool AptChecker::ParseListing(const std::string& listing, std::string& text) {
  ProductTable table;
  std::string summary;
  for (std::string& line : CheckerHelper::SplitString(listing, "\n")) {
    summary.clear();
    const std::vector<std::string> fields = CheckerHelper::SplitString(std::move(line), "(\\s+)");
    if (!IsInstalled(fields)) {
      continue;
    }
    for (size_t word = 4; word < fields.size(); ++word) {
      summary.append(fields[word]).append(1, ' ');
    }
    AddToProductTable(table, summary, FieldOrEmpty(fields, 1), FieldOrEmpty(fields, 2),
                      FieldOrEmpty(fields, 3));
  }
  return ListedProductsToText(table, text);
}
