#ifndef DIAG_HOST_PRODUCT_LIST_H
#define DIAG_HOST_PRODUCT_LIST_H

#include <string>
#include <vector>

#include "SourceHealth.h"

// One product of a report, flattened: its name without the trailing blank that package products
// carry, the source that found it and its details as texts. Every text is valid UTF-8: bytes that
// are not are replaced by U+FFFD, so that JSON readers and metric scrapers accept them.
struct InstalledProduct {
  std::string name;
  std::string source;  // "installer", "dpkg" or "rpm"
  std::string version;
  std::string fullVersion;
  std::string path;
  // Installer products only.
  std::string productId;
  std::string description;
  // Package products only.
  std::vector<std::string> packages;
  std::string architecture;
  // The account whose own installer folder held it (--all-users); "" for system-wide products.
  std::string user;
};

// How one account's part of an --all-users pass went.
struct UserPart {
  std::string user;
  std::string failure;  // why its products are missing; "" when its search completed
};

// The products of one report in report order, or, when it found none, its explanation.
struct ProductList {
  std::vector<InstalledProduct> products;
  // The nothing-found text; beside products, the texts of the sources that failed (empty when
  // none did).
  std::string message;
  // Set by the audit modes only: the accounts searched one by one, and an offline root's system.
  std::vector<UserPart> users;
  std::string os;
  // What each source did, installer, dpkg and rpm, as the report tells it.
  std::vector<SourceHealth> sources;
};

// Reads the "Zorvex products" node of `report`. The source of a product is told by its details
// ("Packages" for a package product) and the node's "Command" (which package manager merged).
// Returns false with a reason in `error` when the report is not JSON or has no such node.
bool ReadProductList(const std::string& report, ProductList& list, std::string& error);

// One line of JSON: {"check", "status", "products": [...], "message", "sources"}, keys always in
// this order, "sources" as SourcesObject writes it;
// each product {"name", "source", "version", "full_version", "path"} followed by "product_id" and
// "description" (installer) or "packages" (an array) and "architecture" (dpkg, rpm), then "user"
// for a product of an account's own folder. The audit modes add "os" (--root) and "users" (each
// account searched: {"user", "failure"}, failure "" when its search completed) after "message".
std::string ProductListDocument(const std::string& check, int status, const ProductList& list);

// `text` with each byte that is not part of well-formed UTF-8 replaced by U+FFFD.
std::string ValidUtf8(const std::string& text);

#endif  // DIAG_HOST_PRODUCT_LIST_H
