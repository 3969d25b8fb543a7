// --format spdx: the inventory as an SPDX 2.3 JSON document. The document describes the operating
// system, which contains the products, which contain their packages.
#include "ReportTree.h"
#include "Sbom.h"

namespace {

const char* const kNoAssertion = "NOASSERTION";
const char* const kCreator = "Tool: diag-host-" ZORVEX_VERSION;

// SPDX identifiers allow letters, digits, "." and "-" only.
std::string SpdxId(const std::string& ref, UniqueNames& ids) {
  std::string id = "SPDXRef-";
  for (const char character : ref) {
    const bool kept = (character >= 'A' && character <= 'Z') ||
                      (character >= 'a' && character <= 'z') ||
                      (character >= '0' && character <= '9') || character == '.';
    id += kept ? character : '-';
  }
  return ids.Take(id);
}

// A package with what is known of it; licences and copyright are never guessed.
json_object* NewPackage(const std::string& id, const std::string& name, const std::string& version,
                        const char* purpose) {
  json_object* package = json_object_new_object();
  json_object_object_add(package, "SPDXID", JsonText(id));
  json_object_object_add(package, "name", JsonText(name));
  AddText(package, "versionInfo", version);
  json_object_object_add(package, "primaryPackagePurpose", json_object_new_string(purpose));
  json_object_object_add(package, "downloadLocation", json_object_new_string(kNoAssertion));
  json_object_object_add(package, "filesAnalyzed", json_object_new_boolean(0));
  json_object_object_add(package, "licenseConcluded", json_object_new_string(kNoAssertion));
  json_object_object_add(package, "licenseDeclared", json_object_new_string(kNoAssertion));
  json_object_object_add(package, "copyrightText", json_object_new_string(kNoAssertion));
  return package;
}

void AddSupplier(json_object* package) {
  json_object_object_add(package, "supplier", json_object_new_string("Organization: Corva"));
}

void AddPurl(json_object* package, const std::string& purl) {
  if (purl.empty()) {
    return;
  }
  json_object* reference = json_object_new_object();
  json_object_object_add(reference, "referenceCategory", json_object_new_string("PACKAGE-MANAGER"));
  json_object_object_add(reference, "referenceType", json_object_new_string("purl"));
  json_object_object_add(reference, "referenceLocator", JsonText(purl));
  json_object* references = json_object_new_array();
  json_object_array_add(references, reference);
  json_object_object_add(package, "externalRefs", references);
}

// "Name: value" lines for what SPDX has no field of its own for.
std::string Comment(const std::vector<std::pair<const char*, std::string>>& lines) {
  std::string comment;
  for (const auto& [name, value] : lines) {
    if (!value.empty()) {
      comment += (comment.empty() ? "" : "\n") + std::string(name) + ": " + value;
    }
  }
  return comment;
}

void AddRelationship(json_object* relationships, const std::string& from, const char* type,
                     const std::string& to) {
  json_object* relationship = json_object_new_object();
  json_object_object_add(relationship, "spdxElementId", JsonText(from));
  json_object_object_add(relationship, "relationshipType", json_object_new_string(type));
  json_object_object_add(relationship, "relatedSpdxElement", JsonText(to));
  json_object_array_add(relationships, relationship);
}

// The packages and relationships of one product and its packages.
void AddProduct(const SbomProduct& entry, const std::string& system, UniqueNames& ids,
                json_object* packages, json_object* relationships) {
  const InstalledProduct& product = entry.product;
  const std::string id = SpdxId(entry.ref, ids);
  json_object* package = NewPackage(id, product.name, product.version, "APPLICATION");
  AddSupplier(package);
  AddText(package, "description", product.description);
  AddText(package, "comment",
          Comment({{"Source", product.source},
                   {"Full version", product.fullVersion},
                   {"Install path", product.path},
                   {"Product ID", product.productId},
                   {"User", entry.user}}));
  AddPurl(package, entry.purl);
  json_object_array_add(packages, package);
  AddRelationship(relationships, system, "CONTAINS", id);
  for (const SbomPackage& part : entry.packages) {
    const std::string partId = SpdxId(part.ref, ids);
    json_object* partPackage = NewPackage(partId, part.name, part.version, "LIBRARY");
    AddSupplier(partPackage);
    AddText(partPackage, "comment",
            Comment({{"Architecture", part.architecture},
                     {"Version from", part.fromProduct ? "product" : ""}}));
    AddPurl(partPackage, part.purl);
    json_object_array_add(packages, partPackage);
    AddRelationship(relationships, id, "CONTAINS", partId);
  }
}

json_object* Annotations(const SbomContent& content) {
  json_object* annotations = json_object_new_array();
  for (const auto& [name, value] : content.notes) {
    json_object* annotation = json_object_new_object();
    json_object_object_add(annotation, "annotationDate", JsonText(content.timestamp));
    json_object_object_add(annotation, "annotationType", json_object_new_string("OTHER"));
    json_object_object_add(annotation, "annotator", json_object_new_string(kCreator));
    std::string comment = "zorvex:" + name + ": ";
    comment += value;
    json_object_object_add(annotation, "comment", JsonText(comment));
    json_object_array_add(annotations, annotation);
  }
  return annotations;
}

std::string SpdxDocument(const SbomContent& content) {
  JsonTree document(json_object_new_object());
  json_object* root = document.get();
  json_object_object_add(root, "spdxVersion", json_object_new_string("SPDX-2.3"));
  json_object_object_add(root, "dataLicense", json_object_new_string("CC0-1.0"));
  json_object_object_add(root, "SPDXID", json_object_new_string("SPDXRef-DOCUMENT"));
  const std::string system = content.osDescription.empty() ? content.osName : content.osDescription;
  json_object_object_add(root, "name", JsonText("Zorvex products on " + system));
  json_object_object_add(root, "documentNamespace", json_object_new_string(""));
  json_object* creation = json_object_new_object();
  json_object_object_add(creation, "created", JsonText(content.timestamp));
  json_object* creators = json_object_new_array();
  json_object_array_add(creators, json_object_new_string(kCreator));
  json_object_object_add(creation, "creators", creators);
  json_object_object_add(root, "creationInfo", creation);
  json_object_object_add(root, "annotations", Annotations(content));

  UniqueNames ids;
  ids.Take("SPDXRef-DOCUMENT");
  const std::string osId = SpdxId("OperatingSystem", ids);
  json_object* packages = json_object_new_array();
  json_object_array_add(packages,
                        NewPackage(osId, content.osName, content.osVersion, "OPERATING_SYSTEM"));
  AddText(json_object_array_get_idx(packages, 0), "description", content.osDescription);
  json_object* relationships = json_object_new_array();
  AddRelationship(relationships, "SPDXRef-DOCUMENT", "DESCRIBES", osId);
  for (const SbomProduct& product : content.products) {
    AddProduct(product, osId, ids, packages, relationships);
  }
  json_object_object_add(root, "packages", packages);
  json_object_object_add(root, "relationships", relationships);
  // The convention for documents whose creator has no namespace of its own.
  return NamedDocumentText(root, "documentNamespace", "https://spdx.org/spdxdocs/zorvex-products-",
                           content.reproducible);
}

}  // namespace

std::unique_ptr<Output> MakeSpdxOutput(const HostOptions& options) {
  return std::make_unique<SbomOutput>(options.root.value_or("/"), SpdxDocument);
}
