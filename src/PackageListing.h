#ifndef ZORVEX_PACKAGE_LISTING_H
#define ZORVEX_PACKAGE_LISTING_H

#include <string>
#include <string_view>
#include <vector>

#include "Product.h"

class SystemCommands;

// Files one line of a listing into `table`, or passes over a line that is not an installed family
// package's. `fields` and `summary` are the line's room to split it and assemble its summary in,
// kept from line to line so that a listing costs no allocation per line.
using FileLine = void (*)(std::string_view line, std::vector<std::string_view>& fields,
                          std::string& summary, ProductTable& table);

// What a package source makes of its listing: the product-map text of the lines `fileLine` files,
// one package product (ProductMap) per summary; false with "Cannot obtain installed package." when
// it files none, because no line was a family package's.
bool ListingToText(const std::string& listing, FileLine fileLine, std::string& text);

// The road both package sources take, through `commands`: unless their OsType gives `osType`,
// `text` becomes `skipMessage` (or, where the probe could not tell, why) and nothing runs; a
// listing `command` that fails gives "Cannot obtain installed package."; otherwise ListingToText
// with `fileLine`.
bool ListInstalledPackages(SystemCommands& commands, int osType, const char* skipMessage,
                           const char* command, FileLine fileLine, std::string& text);

#endif  // ZORVEX_PACKAGE_LISTING_H
