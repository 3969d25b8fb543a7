#include "BInstallerChecker.h"

#include <unistd.h>

#include "Account.h"
#include "CheckerHelper.h"
#include "FindOutput.h"
#include "InstallerDatabase.h"
#include "JsonNode.h"
#include "ProductMap.h"
#include "ShellCommand.h"
#include "zorvex_plugin.h"

const char* ROOT_IC_PATH = "/var/corva";
const char* USER_IC_PATH = "/corva";
const char* DB_NAME = "packagemanager.db";

std::vector<std::string> BInstallerChecker::CachePaths;

namespace {

const char* const kNoCachesMessage = "Cannot obtain paths to package manager databases.";
const char* const kEmptyMap = "{ }";

// The globals may be pointed anywhere by the host; a null pointer reads as the empty text.
std::string GlobalText(const char* text) { return text != nullptr ? text : ""; }

std::optional<std::string> MemberText(json_object* object, const char* name) {
  const char* text = json_object_get_string(json_object_object_get(object, name));
  if (text == nullptr) {
    return std::nullopt;
  }
  return std::string(text);
}

// Whether a component names a manifest inside its cache: an identifier is one folder name, and
// the version is part of that same name.
bool NamesAManifest(const InstallerComponent& component) {
  return component.id != "." && component.id != ".." &&
         component.id.find('/') == std::string::npos &&
         component.version.find('/') == std::string::npos;
}

// Adds the product of one component to `map` when its manifest shows it. False, with the message
// in `text`, when the manifest cannot be read.
bool AddComponent(const InstallerComponent& component, const std::string& cachePath,
                  const std::string& installDir, ProductMap& map, std::string& text) {
  const std::string manifestPath =
      cachePath + "packagescache/" + component.id + ",v=" + component.version + "/manifest.json";
  json_object* manifest = nullptr;
  if (!JsonNode::ParseFile(manifestPath, &manifest, text)) {
    text.insert(0, "Cannot obtain human readable product names: ");
    return false;
  }
  const BInstallerChecker::ManifestTexts texts = BInstallerChecker::ReadManifest(manifest);
  json_object_put(manifest);
  if (texts.visible) {
    // A title that no manifest entry gives falls back to the component's identifier, so the
    // product is still listed under a name.
    static const std::string kNoText;
    map.Add(
        texts.title.value_or(component.id),
        InstallerProduct{component.id, texts.version ? *texts.version : kNoText, component.version,
                         texts.description ? *texts.description : kNoText, installDir});
  }
  return true;
}

}  // namespace

bool BInstallerChecker::FindCaches(std::string directory, std::vector<std::string>& caches,
                                   std::string& message) {
  const std::string dbName = GlobalText(DB_NAME);
  const std::string start = FindStartingPoint(directory);
  // -H: a starting directory that is a symbolic link (an installer tree moved to a larger disk)
  // is searched where it leads; links below it are still not followed.
  const std::string command =
      "find -H " + ShellQuote(start) + " -name " + ShellQuote(dbName) + " -type f 2>/dev/null";
  std::string output;
  const int status = CheckerHelper::RunCommand(command, output);
  // Status 1 also means that find met a folder it may not read; what it printed is still there.
  if ((status != 0 && status != 1) || !TakeCaches(output, start, dbName, caches)) {
    message = kNoCachesMessage;
    return false;
  }
  return true;
}

bool BInstallerChecker::Initialize(std::string& message) {
  // Every run searches afresh: a host that runs the check twice must not read everything twice.
  CachePaths.clear();
  const bool found = FindCaches(GlobalText(ROOT_IC_PATH), CachePaths, message);
  const uid_t user = geteuid();
  if (user == 0) {
    return found;
  }
  const std::optional<std::string> home = HomeDirectory(user);
  if (!home) {
    message = "Cannot get user name.";
    return found;
  }
  return FindCaches(*home + GlobalText(USER_IC_PATH), CachePaths, message) || found;
}

bool BInstallerChecker::GetAppInfo(std::string databasePath, std::string cachePath,
                                   std::string& text) {
  ProductMap map;
  const auto addComponent = [&](const std::string& installDir,
                                const InstallerComponent& component) {
    return !NamesAManifest(component) || AddComponent(component, cachePath, installDir, map, text);
  };
  if (!ReadInstallerDatabase(databasePath, addComponent, text)) {
    return false;
  }
  text = std::move(map).Text();
  return true;
}

bool BInstallerChecker::ReadCaches(std::string& map, std::string& failures) {
  for (const std::string& cachePath : CachePaths) {
    std::string databaseText;
    if (GetAppInfo(cachePath + GlobalText(DB_NAME), cachePath, databaseText)) {
      SpliceMap(map, databaseText);
    } else {
      failures += databaseText;
    }
  }
  return !map.empty() && map != kEmptyMap;
}

bool BInstallerChecker::GetAppInfo(std::string& text) {
  std::string errors;
  ReadCaches(text, errors);
  if (text.empty()) {
    text = errors;
    return false;
  }
  if (text == kEmptyMap) {
    text.clear();
    return false;
  }
  if (!errors.empty()) {
    text += errors;
    return false;
  }
  return true;
}

BInstallerChecker::ManifestTexts BInstallerChecker::ReadManifest(json_object* manifest) {
  ManifestTexts texts;
  texts.visible = json_object_get_boolean(json_object_object_get(manifest, "visible")) != 0;
  if (!texts.visible) {
    return texts;
  }
  json_object* localized = JsonNode::GetObject(manifest, "display/localized");
  // The array calls assert on other types.
  if (!json_object_is_type(localized, json_type_array)) {
    return texts;
  }
  const size_t count = json_object_array_length(localized);
  for (size_t index = 0; index < count; ++index) {
    json_object* entry = json_object_array_get_idx(localized, index);
    const std::optional<std::string> language = MemberText(entry, "language");
    const bool preferred = language && *language == "en-us";
    if (!texts.description || preferred) {
      texts.description = MemberText(entry, "description");
    }
    if (!texts.title || preferred) {
      texts.title = MemberText(entry, "title");
    }
    if (!texts.version || preferred) {
      texts.version = MemberText(entry, "version");
    }
  }
  return texts;
}
