#include "BInstallerChecker.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <tuple>

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
std::string BInstallerChecker::SearchFailures;

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

// What one run has read: its budget, and the texts of every manifest it read, by file, so that a
// manifest that several components share (links to one file) is read once.
struct InstallerRun {
  InstallerRunBudget budget;
  std::map<std::tuple<dev_t, ino_t, off_t, long, long>, BInstallerChecker::ManifestTexts> manifests;
};

std::tuple<dev_t, ino_t, off_t, long, long> FileKey(const struct stat& status) {
  return {status.st_dev, status.st_ino, status.st_size, status.st_mtim.tv_sec,
          status.st_mtim.tv_nsec};
}

// The texts of the manifest at `path`; false, with the message in `text`, when it cannot be read
// or the run has spent its budget.
bool ReadManifestTexts(const std::string& path, const std::string& databasePath, InstallerRun& run,
                       BInstallerChecker::ManifestTexts& texts, std::string& text) {
  struct stat status {};
  if (stat(path.c_str(), &status) == 0) {
    const auto known = run.manifests.find(FileKey(status));
    if (known != run.manifests.end()) {
      texts = known->second;
      return true;
    }
    if (!run.budget.TakeManifest(status.st_size)) {
      text = RunSpentMessage(databasePath);
      return false;
    }
  }
  json_object* manifest = nullptr;
  struct stat read {};
  if (!JsonNode::ParseFile(path, &manifest, text, &read)) {
    text.insert(0, "Cannot obtain human readable product names: ");
    return false;
  }
  texts = BInstallerChecker::ReadManifest(manifest);
  json_object_put(manifest);
  run.manifests.emplace(FileKey(read), texts);
  return true;
}

// Adds the product of one component to `map` when its manifest shows it. False, with the message
// in `text`, when the manifest cannot be read.
bool AddComponent(const InstallerComponent& component, const std::string& cachePath,
                  const std::string& databasePath, const std::string& installDir, InstallerRun& run,
                  ProductMap& map, std::string& text) {
  const std::string manifestPath =
      cachePath + "packagescache/" + component.id + ",v=" + component.version + "/manifest.json";
  BInstallerChecker::ManifestTexts texts;
  if (!ReadManifestTexts(manifestPath, databasePath, run, texts, text)) {
    return false;
  }
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

// Reads one database into its product-map text, within the run's budget.
bool ReadDatabase(const std::string& databasePath, const std::string& cachePath, InstallerRun& run,
                  std::string& text) {
  ProductMap map;
  const auto addComponent = [&](const std::string& installDir,
                                const InstallerComponent& component) {
    return !NamesAManifest(component) ||
           AddComponent(component, cachePath, databasePath, installDir, run, map, text);
  };
  if (!ReadInstallerDatabase(databasePath, addComponent, run.budget, text)) {
    return false;
  }
  text = std::move(map).Text();
  return true;
}

// The effective user's home directory from the account database, or nullopt without an account
// or a home. getpwuid_r: the record of getpwuid lives in storage that every thread shares.
std::optional<std::string> HomeDirectory(uid_t user) {
  const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 1024);
  passwd record{};
  passwd* account = nullptr;
  int error = 0;
  // No account record needs a megabyte; a lookup that keeps asking for more has failed.
  constexpr size_t kLargestBuffer = 1 << 20;
  while ((error = getpwuid_r(user, &record, buffer.data(), buffer.size(), &account)) == ERANGE &&
         buffer.size() < kLargestBuffer) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != 0 || account == nullptr || account->pw_dir == nullptr) {
    return std::nullopt;
  }
  return std::string(account->pw_dir);
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
  // The superuser may read every folder: find then failed otherwise (no descriptor left, a folder
  // that went away), and the databases it did not reach must not go missing without a word.
  if (status == 1 && geteuid() == 0) {
    SearchFailures += "The search for package manager databases in " + directory +
                      " ended early: some may be missing.\n";
  }
  return true;
}

bool BInstallerChecker::Initialize(std::string& message) {
  // Every run searches afresh: a host that runs the check twice must not read everything twice.
  CachePaths.clear();
  SearchFailures.clear();
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
  InstallerRun run;
  return ReadDatabase(databasePath, cachePath, run, text);
}

bool BInstallerChecker::GetAppInfo(std::string& text) {
  InstallerRun run;
  std::string errors;
  size_t unread = 0;
  for (const std::string& cachePath : CachePaths) {
    if (run.budget.Spent() && !errors.empty()) {
      ++unread;
      continue;
    }
    std::string databaseText;
    if (ReadDatabase(cachePath + GlobalText(DB_NAME), cachePath, run, databaseText)) {
      SpliceMap(text, databaseText);
    } else {
      errors += databaseText;
    }
  }
  if (unread != 0) {
    errors += std::to_string(unread) + " more Zivaro Zizovirad databases were not read.\n";
  }
  errors += SearchFailures;
  if (text.empty()) {
    text = errors;
    return false;
  }
  if (text == kEmptyMap) {
    // What the databases read say is dropped with them; a search that ended early is not.
    text = SearchFailures;
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
