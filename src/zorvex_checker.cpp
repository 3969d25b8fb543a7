#include "zorvex_checker.h"

#include <json-c/json.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "AptChecker.h"
#include "BInstallerChecker.h"
#include "JsonNode.h"
#include "JsonText.h"
#include "RpmChecker.h"

static_assert(sizeof(check_descriptor) == 3512, "the host reads a 3512-byte record");
static_assert(alignof(check_descriptor) == 8, "the host reads an 8-byte aligned record");
static_assert(offsetof(check_descriptor, check_name) == 0, "layout shared with the host");
static_assert(offsetof(check_descriptor, check_kind) == 500, "layout shared with the host");
static_assert(offsetof(check_descriptor, check_groups) == 1000, "layout shared with the host");
static_assert(offsetof(check_descriptor, check_description) == 1500, "layout shared with the host");
static_assert(offsetof(check_descriptor, check_parameters) == 2000, "layout shared with the host");
static_assert(offsetof(check_descriptor, check_rights) == 2500, "layout shared with the host");
static_assert(offsetof(check_descriptor, check_number) == 3000, "layout shared with the host");
static_assert(offsetof(check_descriptor, check_version) == 3004, "layout shared with the host");
static_assert(offsetof(check_descriptor, run) == 3504, "layout shared with the host");

check_descriptor app_check_struct = {
    "zorvex_app_check",
    "GetData",
    "default,sysinfo,compile,runtime,host,target",
    "This check shows version information of installed Zorvex products.",
    "{}",
    "user",
    10,
    "1.0",
    app_check,
};

char api_version[ZORVEX_TEXT_FIELD_SIZE];

const char* const kOutOfMemoryMessage = "The check ran out of memory.";
const char* const kOutOfMemoryReport =
    "{\n"
    "  \"Value\":{\n"
    "    \"APP\":{\n"
    "      \"RetVal\":\"INFO\",\n"
    "      \"Value\":{\n"
    "        \"Zorvex products\":{\n"
    "          \"RetVal\":\"INFO\",\n"
    "          \"Value\":\"The check ran out of memory.\"\n"
    "        }\n"
    "      }\n"
    "    }\n"
    "  }\n"
    "}";

namespace {

check_descriptor* checkers[] = {&app_check_struct, nullptr};

const char* const kInfo = "INFO";
const char* const kNoProducts =
    "No installed Zorvex products are discovered. Additional information: \n";

// Asks one source; a source that cannot start keeps its message and makes the status 3.
template <typename Source>
SourceResult AskSource(int& status) {
  SourceResult result;
  if (!Source::Initialize(result.text)) {
    status = 3;
    return result;
  }
  result.text.clear();
  result.found = Source::GetAppInfo(result.text);
  return result;
}

// Splices the members of the package map behind those of the installer map. Sources that found
// products hand back "{ ... }"; an empty text, which breaks that promise, is spliced as it is
// instead of being cut past its end.
std::string Merge(std::string installer, const std::string& packages) {
  if (!installer.empty()) {
    installer.pop_back();
  }
  installer += ',';
  if (!packages.empty()) {
    installer.append(packages, 1, std::string::npos);
  }
  return installer;
}

std::string NoProductsText(const SourceResult& installer, const SourceResult& debian) {
  std::string text = kNoProducts;
  if (!installer.text.empty()) {
    text += installer.text + "\n";
  }
  text += debian.text;
  return text;
}

// Picks the text to show and the command that describes it; false when no source found products.
bool ChooseProducts(const SourceResult& installer, const SourceResult& debian,
                    const SourceResult& rpm, std::string& text, std::string& command) {
  if (installer.found && debian.found) {
    text = Merge(installer.text, debian.text);
    command = "Parse installed zorvex caches and installed dpkg packages";
  } else if (installer.found && rpm.found) {
    text = Merge(installer.text, rpm.text);
    command = "Parse installed zorvex caches and installed rpm packages";
  } else if (installer.found) {
    text = installer.text;
    command = "Parse installed zorvex caches";
  } else if (debian.found) {
    text = debian.text;
    command = "Parse installed dpkg packages";
  } else if (rpm.found) {
    text = rpm.text;
    command = "Parse installed rpm packages";
  } else {
    return false;
  }
  return true;
}

// Where the product map sits in the report: in the "Zorvex products" node of the products object
// of the "APP" node of the applications object of the root.
constexpr int kProductMapLevel = 5;

// Stands in for the product map while the report tree is written. Writing the chosen text
// directly in the pretty form gives the bytes that parsing it into the tree would give, at a
// fraction of the cost, whenever SpacedToPretty accepts it; otherwise the tree takes the parsed
// map as before. json-c writes the stand-in as "\u0001products\u0001", which no fixed text of the
// report holds.
const char* const kMapPlaceholder = "\x01products\x01";

void ReplacePlaceholder(std::string& report, const std::string& prettyMap) {
  const std::string written = "\"\\u0001products\\u0001\"";
  const size_t at = report.find(written);
  if (at != std::string::npos) {
    report.replace(at, written.size(), prettyMap);
  }
}

// The report root, its applications object and the "APP" node holding the products object, which
// is handed back in `products` to receive the product node.
json_object* NewReportTree(json_object*& products) {
  json_object* root = json_object_new_object();
  json_object* applications = json_object_new_object();
  products = json_object_new_object();
  if (root == nullptr || applications == nullptr || products == nullptr) {
    json_object_put(root);
    json_object_put(applications);
    json_object_put(products);
    throw std::bad_alloc();
  }
  JsonNode::AddJsonTopNode(root, applications);
  JsonNode::AddJsonNode(applications, "APP", kInfo, products);
  return root;
}

// Replaces `out` with the pretty text of the tree and releases the tree.
void WriteReport(json_object* root, std::string& out) {
  const char* report = json_object_to_json_string_ext(root, JSON_C_TO_STRING_PRETTY);
  if (report == nullptr) {  // json-c gives no text only when out of memory
    json_object_put(root);
    throw std::bad_alloc();
  }
  out = report;
  json_object_put(root);
}

// The later word outranks the earlier: "ERROR" over "FAIL" over "WARNING" over the sources.
int ScanWords(const std::string& report, int status) {
  if (report.find("WARNING") != std::string::npos) {
    status = 0;
  }
  if (report.find("FAIL") != std::string::npos) {
    status = 2;
  }
  if (report.find("ERROR") != std::string::npos) {
    status = 3;
  }
  return status;
}

}  // namespace

int AssembleReport(const SourceResult& installer, const SourceResult& debian,
                   const SourceResult& rpm, int status, std::string& out) {
  json_object* products = nullptr;
  json_object* root = NewReportTree(products);
  std::string chosen;
  std::string command;
  const bool found = ChooseProducts(installer, debian, rpm, chosen, command);
  std::string prettyMap;
  const bool direct = found && SpacedToPretty(chosen, kProductMapLevel, prettyMap);
  if (found) {
    JsonNode::AddJsonNode(
        products, "Zorvex products", kInfo, std::string(), command, 0u,
        direct ? json_object_new_string(kMapPlaceholder) : json_tokener_parse(chosen.c_str()));
  } else {
    JsonNode::AddJsonNode(products, "Zorvex products", kInfo, NoProductsText(installer, debian));
  }
  WriteReport(root, out);
  if (direct) {
    ReplacePlaceholder(out, prettyMap);
  }
  return found ? ScanWords(out, status) : status;
}

std::string MessageReport(const std::string& message) {
  json_object* products = nullptr;
  json_object* root = NewReportTree(products);
  JsonNode::AddJsonNode(products, "Zorvex products", kInfo, message);
  std::string out;
  WriteReport(root, out);
  return out;
}

// Runs overlap when a host calls from several threads; the sources share state and the children's
// environment is read from the process's.
std::mutex runLock;

int test(std::string& out) {
  const std::lock_guard<std::mutex> serialised(runLock);
  int status = 0;
  const SourceResult installer = AskSource<BInstallerChecker>(status);
  const SourceResult debian = AskSource<AptChecker>(status);
  const SourceResult rpm = AskSource<RpmChecker>(status);
  return AssembleReport(installer, debian, rpm, status, out);
}

namespace {

const char* const kUnexpectedMessage = "The check stopped on an unexpected error: ";

// A report saying why the run stopped; the fixed one when even that cannot be built.
void ReportStop(const char* reason, EntryReport& report) noexcept {
  report.status = 3;
  report.fixed = kOutOfMemoryReport;
  try {
    report.built = MessageReport(std::string(kUnexpectedMessage) + reason);
    report.fixed = nullptr;
  } catch (...) {
    // Building it took memory there was not: the fixed report stays.
  }
}

}  // namespace

void RunForEntry(EntryReport& report) noexcept {
  try {
    report.status = test(report.built);
  } catch (const std::bad_alloc&) {
    std::string().swap(report.built);  // gives back what the run had built
    report.fixed = kOutOfMemoryReport;
    report.status = 3;
  } catch (const std::exception& error) {
    ReportStop(error.what(), report);
  } catch (...) {
    ReportStop("an exception of unknown type", report);
  }
}

extern "C" {

char* get_api_version(void) {
  // Written once: later calls, from any thread, find it in place and write nothing.
  static std::once_flag written;
  std::call_once(written, [] { snprintf(api_version, sizeof api_version, "%s", "0.1"); });
  return api_version;
}

check_descriptor** get_check_list(void) { return checkers; }

char* app_check(void* /*unused*/) {
  EntryReport report;
  RunForEntry(report);
  const size_t size = report.Size() + 1;
  char* copy = new (std::nothrow) char[size];
  if (copy != nullptr) {
    std::memcpy(copy, report.Text(), size);
  }
  return copy;
}

}  // extern "C"
