#include "RpmChecker.h"

#include "CheckerHelper.h"
#include "Product.h"

namespace {

// The TABs and the line feed are real bytes inside the single quotes, handed to rpm unchanged.
const char* const kQueryCommand =
    "rpm -q -a --qf '%{Name}\t%{Version}\t%{Arch}\t%{Summary}\t:%{Vendor}\n' | grep :Corva";

}  // namespace

bool RpmChecker::Initialize(std::string& /*message*/) { return true; }

bool RpmChecker::GetAppInfo(std::string& text) {
  return ListInstalledPackages(OS_TYPE_RPM,
                               "Obtaining information about products installed by RPM is skipped.",
                               kQueryCommand, ParseListing, text);
}

bool RpmChecker::ParseListing(const std::string& listing, std::string& text) {
  ProductTable table;
  for (const std::string& line : CheckerHelper::SplitString(listing, "\n")) {
    const std::vector<std::string> fields = CheckerHelper::SplitString(line, "\t");
    // The summary keeps rpm's spacing; the vendor fields after it only served grep.
    const std::string summary = fields.size() > 3 ? fields[3] + ' ' : std::string();
    AddToProductTable(table, summary, FieldOrEmpty(fields, 0), FieldOrEmpty(fields, 1),
                      FieldOrEmpty(fields, 2));
  }
  return ProductTableToText(table, text);
}
