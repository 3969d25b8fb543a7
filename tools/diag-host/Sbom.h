#ifndef DIAG_HOST_SBOM_H
#define DIAG_HOST_SBOM_H

#include <json-c/json.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "OsRelease.h"
#include "Output.h"

// What the software bills of materials (--format cyclonedx, --format spdx) are made of: the
// audited root's operating system, one entry per product with its package URL or its packages',
// references unique within the document, and how the document is dated and named. Each format
// module only lays this out.

// A package of a package product. The report keeps one version and architecture per product,
// those of its first package; the later ones are given the same (`fromProduct`), since the
// package managers group them by a description they share.
struct SbomPackage {
  std::string name;
  std::string version;
  std::string architecture;
  std::string purl;
  std::string ref;
  bool fromProduct = false;
};

struct SbomProduct {
  InstalledProduct product;
  std::string user;  // whose installation it is, where the report says
  std::string ref;
  std::string purl;  // installer products: pkg:generic/corva/PRODUCT_ID@FULL_VERSION
  std::vector<SbomPackage> packages;
};

struct SbomContent {
  // From os-release: ID ("linux" when unset), VERSION_ID, PRETTY_NAME.
  std::string osName;
  std::string osVersion;
  std::string osDescription;
  std::vector<SbomProduct> products;
  // Name and value pairs for the document itself: the status, each check's nothing-found text
  // and the reasons the inventory is incomplete; every text valid UTF-8.
  std::vector<std::pair<std::string, std::string>> notes;
  std::string timestamp;      // UTC, "YYYY-MM-DDThh:mm:ssZ"
  bool reproducible = false;  // dated by SOURCE_DATE_EPOCH, named after its content
};

// The package URL of `type`/`nameSpace`/`name`@`version`?`qualifiers`, each part percent-encoded
// (all but letters, digits, ".-_~" and ":"); empty parts and qualifiers are left out.
std::string PackageUrl(const std::string& type, const std::string& nameSpace,
                       const std::string& name, const std::string& version,
                       const std::vector<std::pair<std::string, std::string>>& qualifiers);

// The document's time and whether it is reproducible: SOURCE_DATE_EPOCH (seconds since the
// epoch) when set, the current time otherwise. A malformed value is complained of and ignored.
std::pair<std::string, bool> DocumentTime();

// Serialises `document` (pretty, "/" unescaped) after setting its member `member` to `prefix` +
// a UUID: for a reproducible document a name-based (SHA-1) one of its text with that member
// empty, otherwise a random one.
std::string NamedDocumentText(json_object* document, const char* member, const std::string& prefix,
                              bool reproducible);

// A json-c string of `text`, which may hold NUL bytes.
json_object* JsonText(const std::string& text);

// Adds the member `key` with `value` to `object`, unless the value is empty.
void AddText(json_object* object, const char* key, const std::string& value);

// Hands out each name once: a name asked for again gets "-2", "-3", ... appended.
class UniqueNames {
 public:
  std::string Take(const std::string& wanted);

 private:
  std::map<std::string, int> taken_;
};

// Collects every check's products, then writes one document: a failed invocation gives one
// without products that says why.
class SbomOutput : public Output {
 public:
  using Render = std::string (*)(const SbomContent& content);
  SbomOutput(std::string root, Render render) : root_(std::move(root)), render_(render) {}

  int Add(const CheckResult& result) override;
  void Missed(const std::string& reason) override { missed_.push_back(reason); }
  int Finish(int status, size_t checks) override;

 private:
  std::string root_;  // whose operating system the document names
  Render render_;
  std::vector<InstalledProduct> products_;
  std::vector<std::pair<std::string, std::string>> messages_;  // check name, nothing-found text
  std::vector<std::string> missed_;
};

#endif  // DIAG_HOST_SBOM_H
