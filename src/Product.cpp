#include "Product.h"

#include <json-c/json.h>

#include "CheckerHelper.h"
#include "JsonNode.h"
#include "JsonText.h"

namespace {

// Where the family's packages install, whichever package manager put them there.
const char* const kInstallPath = "/opt/corva/zorvex";

const char* const kInfo = "INFO";

const char* const kCannotObtain = "Cannot obtain installed package.";

std::string ShortVersion(const std::string& version) {
  return version.substr(0, version.find('-'));
}

json_object* ProductDetails(const Product& product) {
  json_object* details = json_object_new_object();
  JsonNode::AddJsonNode(details, "Packages", kInfo, 1u, product.packages);
  JsonNode::AddJsonNode(details, "Version", kInfo, ShortVersion(product.version));
  JsonNode::AddJsonNode(details, "Full Version", kInfo, 1u, product.version);
  JsonNode::AddJsonNode(details, "Architecture", kInfo, 1u, product.architecture);
  JsonNode::AddJsonNode(details, "Path", kInfo, 1u, std::string(kInstallPath));
  return details;
}

}  // namespace

void AddToProductTable(ProductTable& table, const std::string& summary, const std::string& name,
                       const std::string& version, const std::string& architecture) {
  const auto found = table.find(summary);
  if (found != table.end()) {
    found->second.packages.append(", ").append(name);
    return;
  }
  table.emplace(summary, Product{summary, version, architecture, name});
}

const std::string& FieldOrEmpty(const std::vector<std::string>& fields, size_t index) {
  static const std::string kEmpty;
  return index < fields.size() ? fields[index] : kEmpty;
}

namespace {

// The table through a json-c tree: json-c cuts every name at its first NUL, so summaries that
// differ only after one fold into one member, which only the tree itself reproduces exactly.
bool TreeToText(const ProductTable& table, std::string& text) {
  json_object* map = json_object_new_object();
  for (const auto& entry : table) {
    JsonNode::AddJsonNode(map, entry.first, kInfo, ProductDetails(entry.second));
  }
  const char* serialized = json_object_to_json_string(map);
  const bool converted = serialized != nullptr;
  text = converted ? serialized : "Can't convert json object to string";
  json_object_put(map);
  return converted;
}

// One member of the map: the node that ProductDetails fills, under the table's key.
void AppendProduct(std::string& text, const std::string& key, const Product& product) {
  static const std::string kPath = kInstallPath;
  AppendSpacedObjectNode(text, key,
                         {{"Packages", 1, product.packages},
                          {"Version", 0, ShortVersion(product.version)},
                          {"Full Version", 1, product.version},
                          {"Architecture", 1, product.architecture},
                          {"Path", 1, kPath}});
}

}  // namespace

bool ProductTableToText(const ProductTable& table, std::string& text) {
  // The tree's text, written directly in one pass over the table: building the tree costs many
  // times the text, and at a hundred thousand products every pass is mostly cache misses.
  constexpr size_t kTextPerProduct = 450;
  std::string written;
  written.reserve(4 + table.size() * kTextPerProduct);
  written += '{';
  for (const auto& entry : table) {
    if (entry.first.find('\0') != std::string::npos) {
      return TreeToText(table, text);
    }
    written += written.size() == 1 ? " " : ", ";
    AppendProduct(written, entry.first, entry.second);
  }
  written += " }";
  text = std::move(written);
  return true;
}

bool ListedProductsToText(const ProductTable& table, std::string& text) {
  if (table.empty()) {
    text = kCannotObtain;
    return false;
  }
  return ProductTableToText(table, text);
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
