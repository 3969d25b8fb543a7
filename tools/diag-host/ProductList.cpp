#include "ProductList.h"

#include "ReportTree.h"

namespace {

// The length of the well-formed UTF-8 sequence starting at `at`, or 0 (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF).
size_t Utf8SequenceLength(const std::string& text, size_t at) {
  const auto byte = [&text](size_t index) { return static_cast<unsigned char>(text[index]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    return 1;
  }
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : low;
    high = lead == 0xED ? 0x9F : high;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : low;
    high = lead == 0xF4 ? 0x8F : high;
  } else {
    return 0;
  }
  if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
    return 0;
  }
  for (size_t index = at + 2; index < at + length; ++index) {
    if ((byte(index) & 0xC0) != 0x80) {
      return 0;
    }
  }
  return length;
}

std::string Text(json_object* value) {
  if (json_object_is_type(value, json_type_string)) {
    return ValidUtf8(std::string(json_object_get_string(value),
                                 static_cast<size_t>(json_object_get_string_len(value))));
  }
  return value == nullptr ? std::string() : ValidUtf8(json_object_get_string(value));
}

// The "Value" of the report node `name` among a product's details.
std::string Detail(json_object* details, const char* name) {
  return Text(Member(Member(details, name), "Value"));
}

// The product tables join the packages that share a description with ", ".
std::vector<std::string> SplitPackages(const std::string& packages) {
  std::vector<std::string> names;
  size_t start = 0;
  for (size_t comma = packages.find(", "); comma != std::string::npos;
       comma = packages.find(", ", start)) {
    names.push_back(packages.substr(start, comma - start));
    start = comma + 2;
  }
  if (!packages.empty()) {
    names.push_back(packages.substr(start));
  }
  return names;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The package manager whose products the command names, alone or merged with the installer's.
std::string PackageSource(const std::string& command) {
  if (EndsWith(command, "installed dpkg packages")) {
    return "dpkg";
  }
  if (EndsWith(command, "installed rpm packages")) {
    return "rpm";
  }
  return std::string();
}

InstalledProduct ReadProduct(const std::string& name, json_object* node,
                             const std::string& packageSource) {
  json_object* details = Member(node, "Value");
  InstalledProduct product;
  product.version = Detail(details, "Version");
  product.fullVersion = Detail(details, "Full Version");
  product.path = Detail(details, "Path");
  if (Member(details, "Packages") == nullptr) {
    product.name = ValidUtf8(name);
    product.source = "installer";
    product.productId = Detail(details, "Product ID");
    product.description = Detail(details, "Description");
    return product;
  }
  // A package product is named by its description, kept with one trailing blank.
  product.name = ValidUtf8(EndsWith(name, " ") ? name.substr(0, name.size() - 1) : name);
  product.source = packageSource;
  product.packages = SplitPackages(Detail(details, "Packages"));
  product.architecture = Detail(details, "Architecture");
  return product;
}

json_object* NewText(const std::string& text) {
  return json_object_new_string_len(text.data(), static_cast<int>(text.size()));
}

json_object* ProductObject(const InstalledProduct& product) {
  json_object* object = json_object_new_object();
  json_object_object_add(object, "name", NewText(product.name));
  json_object_object_add(object, "source", NewText(product.source));
  json_object_object_add(object, "version", NewText(product.version));
  json_object_object_add(object, "full_version", NewText(product.fullVersion));
  json_object_object_add(object, "path", NewText(product.path));
  if (product.source == "installer") {
    json_object_object_add(object, "product_id", NewText(product.productId));
    json_object_object_add(object, "description", NewText(product.description));
    if (!product.user.empty()) {
      json_object_object_add(object, "user", NewText(ValidUtf8(product.user)));
    }
    return object;
  }
  json_object* packages = json_object_new_array();
  for (const std::string& package : product.packages) {
    json_object_array_add(packages, NewText(package));
  }
  json_object_object_add(object, "packages", packages);
  json_object_object_add(object, "architecture", NewText(product.architecture));
  return object;
}

json_object* UsersArray(const std::vector<UserPart>& users) {
  json_object* array = json_object_new_array();
  for (const UserPart& part : users) {
    json_object* entry = json_object_new_object();
    json_object_object_add(entry, "user", NewText(ValidUtf8(part.user)));
    json_object_object_add(entry, "failure", NewText(part.failure));
    json_object_array_add(array, entry);
  }
  return array;
}

}  // namespace

// Package descriptions are whatever bytes the package manager holds; downstream readers insist
// on UTF-8, so each stray byte becomes U+FFFD.
std::string ValidUtf8(const std::string& text) {
  std::string valid;
  valid.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const size_t length = Utf8SequenceLength(text, at);
    if (length == 0) {
      valid += "\xEF\xBF\xBD";
      ++at;
    } else {
      valid.append(text, at, length);
      at += length;
    }
  }
  return valid;
}

bool ReadProductList(const std::string& report, ProductList& list, std::string& error) {
  JsonTree tree;
  if (!ParseReportTree(report, tree)) {
    error = "returned a report that is not JSON";
    return false;
  }
  json_object* node =
      Member(Member(Member(Member(tree.get(), "Value"), "APP"), "Value"), "Zorvex products");
  if (node == nullptr) {
    error = "returned a report without a \"Zorvex products\" node";
    return false;
  }
  list = ProductList();
  json_object* value = Member(node, "Value");
  ProductNodeTexts texts;
  texts.message = Text(Member(node, "Message"));
  if (json_object_is_type(value, json_type_string)) {
    list.message = texts.value = Text(value);
  } else if (!json_object_is_type(value, json_type_object)) {
    // The check could not read back the product map it had assembled.
    list.message = "The report holds no readable product map.";
  } else {
    texts.productsShown = true;
    texts.command = Text(Member(node, "Command"));
    list.message = texts.message;
    const std::string packageSource = PackageSource(texts.command);
    json_object_object_foreach(value, name, product) {
      list.products.push_back(ReadProduct(name, product, packageSource));
    }
  }
  list.sources = ReadSourceHealth(texts, list.products);
  return true;
}

std::string ProductListDocument(const std::string& check, int status, const ProductList& list) {
  JsonTree document(json_object_new_object());
  json_object_object_add(document.get(), "check", NewText(ValidUtf8(check)));
  json_object_object_add(document.get(), "status", json_object_new_int(status));
  json_object* products = json_object_new_array();
  for (const InstalledProduct& product : list.products) {
    json_object_array_add(products, ProductObject(product));
  }
  json_object_object_add(document.get(), "products", products);
  json_object_object_add(document.get(), "message", NewText(list.message));
  if (!list.os.empty()) {
    json_object_object_add(document.get(), "os", NewText(ValidUtf8(list.os)));
  }
  if (!list.users.empty()) {
    json_object_object_add(document.get(), "users", UsersArray(list.users));
  }
  json_object_object_add(document.get(), "sources", SourcesObject(list.sources));
  return json_object_to_json_string_ext(document.get(),
                                        JSON_C_TO_STRING_PLAIN | JSON_C_TO_STRING_NOSLASHESCAPE);
}
