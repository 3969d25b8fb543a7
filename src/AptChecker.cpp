#include "AptChecker.h"

#include "CheckerHelper.h"
#include "PackageListing.h"
#include "Product.h"
#include "Split.h"
#include "SystemCommands.h"

// The status column reads "ii" for an installed package and "hi" for one held at its version;
// every other state (removed, half-installed, needing reinstallation) is not an installed product.
const char* const kDpkgListCommand =
    "dpkg --no-pager -l '*corva-zorvex*' 2>/dev/null | grep -E '^(ii|hi) '";

namespace {

// The listing field at `index`, or the empty text for a line too short to have it: such lines do
// not come from dpkg, and another package's values must not stand in for them.
std::string_view FieldOrEmpty(const std::vector<std::string_view>& fields, size_t index) {
  return index < fields.size() ? fields[index] : std::string_view();
}

// The same test on a split line: grep keeps the listing small, this keeps the product map exact
// whatever text reaches the parser.
bool IsInstalled(const std::vector<std::string_view>& fields) {
  const std::string_view status = FieldOrEmpty(fields, 0);
  return status == "ii" || status == "hi";
}

// A "dpkg -l" line: status, name, version, architecture and the description's words; the summary
// is the words joined by single spaces, with one after the last.
void FileDpkgLine(std::string_view line, std::vector<std::string_view>& fields,
                  std::string& summary, ProductTable& table) {
  SplitAtWhitespaceRuns(line, fields);
  if (!IsInstalled(fields)) {
    return;
  }
  summary.clear();
  for (size_t word = 4; word < fields.size(); ++word) {
    summary.append(fields[word]).append(1, ' ');
  }
  table.Add(summary, FieldOrEmpty(fields, 1), FieldOrEmpty(fields, 2), FieldOrEmpty(fields, 3));
}

}  // namespace

bool AptChecker::Initialize(std::string& /*message*/) { return true; }

bool AptChecker::GetAppInfo(SystemCommands& commands, std::string& text) {
  return ListInstalledPackages(commands, OS_TYPE_DEB,
                               "Obtaining information about products installed by dpkg is skipped.",
                               kDpkgListCommand, FileDpkgLine, text);
}

bool AptChecker::GetAppInfo(std::string& text) {
  SystemCommands onTheSpot;
  return GetAppInfo(onTheSpot, text);
}

bool AptChecker::ParseListing(const std::string& listing, std::string& text) {
  return ListingToText(listing, FileDpkgLine, text);
}
