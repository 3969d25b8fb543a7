#include "RpmChecker.h"

#include "CheckerHelper.h"
#include "PackageListing.h"
#include "Product.h"
#include "Split.h"
#include "SystemCommands.h"

// The TABs and the line feed are real bytes inside the single quotes, handed to rpm and grep
// unchanged. grep keeps the lines with a field that begins with ":Corva"; a summary merely
// holding the word is not such a field.
const char* const kRpmQueryCommand =
    "rpm -q -a --qf '%{Name}\t%{Version}\t%{Arch}\t%{Summary}\t:%{Vendor}\n' | grep '\t:Corva'";

namespace {

constexpr std::string_view kVendorMark = ":Corva";

// rpm prints the vendor last; a summary may itself hold TABs, so the field that grep found need
// not be the vendor, and only the last one decides.
bool IsFamilyPackage(const std::vector<std::string_view>& fields) {
  constexpr size_t kQueryFields = 5;  // name, version, architecture, summary, vendor
  return fields.size() >= kQueryFields &&
         fields.back().substr(0, kVendorMark.size()) == kVendorMark;
}

// A query line: name, version, architecture, summary and vendor, between single TABs.
void FileRpmLine(std::string_view line, std::vector<std::string_view>& fields, std::string& summary,
                 ProductTable& table) {
  SplitAtCharacter(line, '\t', fields);
  if (!IsFamilyPackage(fields)) {
    return;
  }
  // The summary keeps rpm's spacing; the vendor is not part of the product.
  summary.assign(fields[3]).append(1, ' ');
  table.Add(summary, fields[0], fields[1], fields[2]);
}

}  // namespace

bool RpmChecker::Initialize(std::string& /*message*/) { return true; }

bool RpmChecker::GetAppInfo(SystemCommands& commands, std::string& text) {
  return ListInstalledPackages(commands, OS_TYPE_RPM,
                               "Obtaining information about products installed by RPM is skipped.",
                               kRpmQueryCommand, FileRpmLine, text);
}

bool RpmChecker::GetAppInfo(std::string& text) {
  SystemCommands onTheSpot;
  return GetAppInfo(onTheSpot, text);
}

bool RpmChecker::ParseListing(const std::string& listing, std::string& text) {
  return ListingToText(listing, FileRpmLine, text);
}
