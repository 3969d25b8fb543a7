// --format cyclonedx: the inventory as a CycloneDX 1.6 JSON document.
#include "ReportTree.h"
#include "Sbom.h"

namespace {

const char* const kSupplier = "Corva";

// Adds {"name": "zorvex:" + name, "value": value} unless the value is empty.
void AddProperty(json_object* properties, const std::string& name, const std::string& value) {
  if (value.empty()) {
    return;
  }
  json_object* property = json_object_new_object();
  json_object_object_add(property, "name", JsonText("zorvex:" + name));
  json_object_object_add(property, "value", JsonText(value));
  json_object_array_add(properties, property);
}

// Adds `properties` to `object` when it holds any, and releases it otherwise.
void AttachProperties(json_object* object, json_object* properties) {
  if (json_object_array_length(properties) == 0) {
    json_object_put(properties);
  } else {
    json_object_object_add(object, "properties", properties);
  }
}

json_object* NewComponent(const char* type, const std::string& ref, const std::string& name,
                          const std::string& version) {
  json_object* component = json_object_new_object();
  json_object_object_add(component, "type", json_object_new_string(type));
  json_object_object_add(component, "bom-ref", JsonText(ref));
  json_object* supplier = json_object_new_object();
  json_object_object_add(supplier, "name", json_object_new_string(kSupplier));
  json_object_object_add(component, "supplier", supplier);
  json_object_object_add(component, "publisher", json_object_new_string(kSupplier));
  json_object_object_add(component, "name", JsonText(name));
  AddText(component, "version", version);
  return component;
}

json_object* PackageComponent(const SbomPackage& package) {
  json_object* component = NewComponent("library", package.ref, package.name, package.version);
  AddText(component, "purl", package.purl);
  json_object* properties = json_object_new_array();
  AddProperty(properties, "architecture", package.architecture);
  AddProperty(properties, "version_from", package.fromProduct ? "product" : "");
  AttachProperties(component, properties);
  return component;
}

json_object* ProductComponent(const SbomProduct& entry) {
  const InstalledProduct& product = entry.product;
  json_object* component = NewComponent("application", entry.ref, product.name, product.version);
  AddText(component, "description", product.description);
  AddText(component, "purl", entry.purl);
  json_object* properties = json_object_new_array();
  AddProperty(properties, "source", product.source);
  AddProperty(properties, "full_version", product.fullVersion);
  AddProperty(properties, "install_path", product.path);
  AddProperty(properties, "product_id", product.productId);
  AddProperty(properties, "user", entry.user);
  AttachProperties(component, properties);
  if (!entry.packages.empty()) {
    json_object* packages = json_object_new_array();
    for (const SbomPackage& package : entry.packages) {
      json_object_array_add(packages, PackageComponent(package));
    }
    json_object_object_add(component, "components", packages);
  }
  return component;
}

json_object* Metadata(const SbomContent& content) {
  json_object* metadata = json_object_new_object();
  json_object_object_add(metadata, "timestamp", JsonText(content.timestamp));
  json_object* tool = json_object_new_object();
  json_object_object_add(tool, "type", json_object_new_string("application"));
  json_object_object_add(tool, "name", json_object_new_string("diag-host"));
  json_object_object_add(tool, "version", json_object_new_string(ZORVEX_VERSION));
  json_object* toolList = json_object_new_array();
  json_object_array_add(toolList, tool);
  json_object* tools = json_object_new_object();
  json_object_object_add(tools, "components", toolList);
  json_object_object_add(metadata, "tools", tools);
  json_object* system = json_object_new_object();
  json_object_object_add(system, "type", json_object_new_string("operating-system"));
  json_object_object_add(system, "bom-ref", json_object_new_string("os"));
  json_object_object_add(system, "name", JsonText(content.osName));
  AddText(system, "version", content.osVersion);
  AddText(system, "description", content.osDescription);
  json_object_object_add(metadata, "component", system);
  json_object* properties = json_object_new_array();
  for (const auto& [name, value] : content.notes) {
    AddProperty(properties, name, value);
  }
  AttachProperties(metadata, properties);
  return metadata;
}

std::string CycloneDxDocument(const SbomContent& content) {
  JsonTree document(json_object_new_object());
  json_object_object_add(document.get(), "bomFormat", json_object_new_string("CycloneDX"));
  json_object_object_add(document.get(), "specVersion", json_object_new_string("1.6"));
  json_object_object_add(document.get(), "serialNumber", json_object_new_string(""));
  json_object_object_add(document.get(), "version", json_object_new_int(1));
  json_object_object_add(document.get(), "metadata", Metadata(content));
  json_object* components = json_object_new_array();
  for (const SbomProduct& product : content.products) {
    json_object_array_add(components, ProductComponent(product));
  }
  json_object_object_add(document.get(), "components", components);
  return NamedDocumentText(document.get(), "serialNumber", "urn:uuid:", content.reproducible);
}

}  // namespace

std::unique_ptr<Output> MakeCycloneDxOutput(const HostOptions& options) {
  return std::make_unique<SbomOutput>(options.root.value_or("/"), CycloneDxDocument);
}
