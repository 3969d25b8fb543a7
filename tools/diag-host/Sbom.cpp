#include "Sbom.h"

#include <uuid/uuid.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <type_traits>

#include "HostStatus.h"
#include "ReportTree.h"

namespace {

// Percent-encodes all but the characters a package URL keeps as they are.
std::string PurlEncoded(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char character : text) {
    const auto byte = static_cast<unsigned char>(character);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || byte == '.' || byte == '-' || byte == '_' || byte == '~' ||
        byte == ':') {
      encoded += character;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    }
  }
  return encoded;
}

// The distribution a package URL names: "debian-12"; a release without a number (a rolling or
// testing one) by its code name.
std::string Distro(const OsRelease& os) {
  const std::string id = os.Get("ID", "linux");
  const std::string version = os.Get("VERSION_ID", os.Get("VERSION_CODENAME"));
  return version.empty() ? id : id + "-" + version;
}

SbomPackage PackageOf(const InstalledProduct& product, const std::string& name, bool first,
                      const OsRelease& os) {
  SbomPackage package{name, product.fullVersion, product.architecture, "", "", !first};
  // dpkg packages are the distribution's kind; rpm packages are named after their vendor, which
  // the check requires to be Corva.
  const bool deb = product.source == "dpkg";
  package.purl =
      PackageUrl(deb ? "deb" : "rpm", deb ? os.Get("ID", "debian") : "corva", name, package.version,
                 {{"arch", package.architecture}, {"distro", Distro(os)}});
  return package;
}

SbomProduct Entry(const InstalledProduct& product, const OsRelease& os, UniqueNames& refs) {
  SbomProduct entry{product, product.user, "", "", {}};
  if (product.source == "installer") {
    if (!product.productId.empty()) {
      entry.purl = PackageUrl("generic", "corva", product.productId, product.fullVersion, {});
    }
    entry.ref = refs.Take(entry.purl.empty() ? "installer:" + product.name : entry.purl);
    return entry;
  }
  entry.ref = refs.Take(product.source + ":" + product.name);
  for (size_t index = 0; index < product.packages.size(); ++index) {
    entry.packages.push_back(PackageOf(product, product.packages[index], index == 0, os));
    entry.packages.back().ref = refs.Take(entry.packages.back().purl);
  }
  return entry;
}

std::string UtcText(time_t seconds) {
  std::tm parts{};
  char text[32] = "";
  if (gmtime_r(&seconds, &parts) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
    return "1970-01-01T00:00:00Z";
  }
  return text;
}

// Any fixed UUID will do: it keeps these documents' names apart from other name-based UUIDs.
const char* const kDocumentNamespace = "3f1c7c2e-6a1d-4c8e-9d2b-5b7e0a4f9c61";

}  // namespace

std::string PackageUrl(const std::string& type, const std::string& nameSpace,
                       const std::string& name, const std::string& version,
                       const std::vector<std::pair<std::string, std::string>>& qualifiers) {
  std::string purl = "pkg:" + type + "/";
  if (!nameSpace.empty()) {
    purl += PurlEncoded(nameSpace) + "/";
  }
  purl += PurlEncoded(name);
  if (!version.empty()) {
    purl += "@" + PurlEncoded(version);
  }
  char separator = '?';
  for (const auto& [key, value] : qualifiers) {
    if (!value.empty()) {
      purl += separator + key + "=" + PurlEncoded(value);
      separator = '&';
    }
  }
  return purl;
}

std::pair<std::string, bool> DocumentTime() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch != nullptr) {
    char* end = nullptr;
    errno = 0;
    const long long seconds = std::strtoll(epoch, &end, 10);
    if (*epoch >= '0' && *epoch <= '9' && *end == '\0' && errno == 0 &&
        seconds <= 253402300799LL) {  // the last second of the year 9999
      return {UtcText(static_cast<time_t>(seconds)), true};
    }
    Complain(
        "SOURCE_DATE_EPOCH is not a number of seconds since the epoch; using the current time");
  }
  return {UtcText(std::time(nullptr)), false};
}

json_object* JsonText(const std::string& text) {
  return json_object_new_string_len(text.data(), static_cast<int>(text.size()));
}

void AddText(json_object* object, const char* key, const std::string& value) {
  if (!value.empty()) {
    json_object_object_add(object, key, JsonText(value));
  }
}

std::string NamedDocumentText(json_object* document, const char* member, const std::string& prefix,
                              bool reproducible) {
  const int flags =
      JSON_C_TO_STRING_PRETTY | JSON_C_TO_STRING_SPACED | JSON_C_TO_STRING_NOSLASHESCAPE;
  uuid_t uuid;
  if (reproducible) {
    json_object_object_add(document, member, json_object_new_string(""));
    const std::string content = json_object_to_json_string_ext(document, flags);
    uuid_t space;
    uuid_parse(kDocumentNamespace, space);
    uuid_generate_sha1(uuid, space, content.data(), content.size());
  } else {
    uuid_generate_random(uuid);
  }
  char text[UUID_STR_LEN];
  uuid_unparse_lower(uuid, text);
  json_object_object_add(document, member, JsonText(prefix + text));
  return std::string(json_object_to_json_string_ext(document, flags)) + "\n";
}

std::string UniqueNames::Take(const std::string& wanted) {
  const int seen = ++taken_[wanted];
  return seen == 1 ? wanted : Take(wanted + "-" + std::to_string(seen));
}

int SbomOutput::Add(const CheckResult& result) {
  products_.insert(products_.end(), result.products.products.begin(),
                   result.products.products.end());
  if (!result.products.message.empty()) {
    messages_.emplace_back(ValidUtf8(result.info.name), result.products.message);
  }
  return kClean;
}

int SbomOutput::Finish(int status, size_t checks) {
  SbomContent content;
  OsRelease os;
  std::string error;
  if (!ReadOsRelease(root_, os, error)) {
    content.notes.emplace_back("os-release", ValidUtf8(error));
  }
  content.osName = ValidUtf8(os.Get("ID", "linux"));
  content.osVersion = ValidUtf8(os.Get("VERSION_ID"));
  content.osDescription = ValidUtf8(os.Get("PRETTY_NAME"));
  std::tie(content.timestamp, content.reproducible) = DocumentTime();
  content.notes.emplace_back("status", std::to_string(status));
  for (const auto& [check, message] : messages_) {
    content.notes.emplace_back("message", check + ": ");
    content.notes.back().second += message;
  }
  // An inventory that misses a check would pass for a complete one.
  if (status >= kNoReport || checks == 0) {
    for (const std::string& reason : missed_) {
      content.notes.emplace_back("incomplete", ValidUtf8(reason));
    }
    if (missed_.empty()) {
      content.notes.emplace_back("incomplete", "no check ran");
    }
  } else {
    UniqueNames refs;
    refs.Take("os");  // the operating system's
    for (const InstalledProduct& product : products_) {
      content.products.push_back(Entry(product, os, refs));
    }
  }
  std::cout << render_(content);
  return kClean;
}
