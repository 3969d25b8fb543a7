#include "PackageListing.h"

#include "ProductMap.h"
#include "Split.h"
#include "SystemCommands.h"

namespace {

const char* const kCannotObtain = "Cannot obtain installed package.";

}  // namespace

bool ListingToText(const std::string& listing, FileLine fileLine, std::string& text) {
  std::vector<std::string_view> lines;
  SplitAtCharacter(listing, '\n', lines);
  // A line files at most its own bytes, its summary a blank more.
  ProductTable table(lines.size(), listing.size() + lines.size());
  std::vector<std::string_view> fields;
  std::string summary;
  for (const std::string_view line : lines) {
    fileLine(line, fields, summary, table);
  }
  if (table.empty()) {
    text = kCannotObtain;
    return false;
  }
  text = ProductMap(table).Text();
  return true;
}

bool ListInstalledPackages(SystemCommands& commands, int osType, const char* skipMessage,
                           const char* command, FileLine fileLine, std::string& text) {
  std::string failure;
  if (commands.OsType(failure) != osType) {
    // A probe that could not tell is not a machine without this package manager.
    text = failure.empty() ? skipMessage : failure;
    return false;
  }
  std::string listing;
  if (commands.Run(command, listing) != 0) {
    text = kCannotObtain;
    return false;
  }
  return ListingToText(listing, fileLine, text);
}
