#ifndef ZORVEX_PACKAGE_LISTING_H
#define ZORVEX_PACKAGE_LISTING_H

#include <string>

#include "Product.h"

// The road both package sources take: unless GetOsType gives `osType`, `text` becomes
// `skipMessage` and nothing runs; a listing `command` that fails gives "Cannot obtain installed
// package."; otherwise `parse` turns the listing into the product-map text (or that message, when
// no line of it counts).
bool ListInstalledPackages(int osType, const char* skipMessage, const char* command,
                           bool (*parse)(const std::string& listing, std::string& text),
                           std::string& text);

// What a package source makes of the table its listing filled: the product-map text, one package
// product (ProductMap) per entry, named by its summary; false with "Cannot obtain installed
// package." when the table is empty, because no line of the listing was a family package's.
bool ListedProductsToText(const ProductTable& table, std::string& text);

#endif  // ZORVEX_PACKAGE_LISTING_H
