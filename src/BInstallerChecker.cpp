#include "BInstallerChecker.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <tuple>

#include "Account.h"
#include "CheckerHelper.h"
#include "FindOutput.h"
#include "InstallerDatabase.h"
#include "JsonNode.h"
#include "ProductMap.h"
#include "RegularFile.h"
#include "SystemCommands.h"
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
// or the run has spent its budget. A file is looked up once, by the opening itself.
bool ReadManifestTexts(const std::string& path, const std::string& databasePath, InstallerRun& run,
                       BInstallerChecker::ManifestTexts& texts, std::string& text) {
  RegularFile file = OpenRegularFile(path);
  if (file.outcome == RegularFile::Outcome::kOpened) {
    const auto known = run.manifests.find(FileKey(file.status));
    if (known != run.manifests.end()) {
      close(file.fd);
      texts = known->second;
      return true;
    }
  }
  if (file.outcome != RegularFile::Outcome::kUnreachable &&
      !run.budget.TakeManifest(file.status.st_size)) {
    if (file.fd >= 0) {
      close(file.fd);
    }
    text = RunSpentMessage(databasePath);
    return false;
  }
  const auto key = FileKey(file.status);
  json_object* manifest = nullptr;
  if (!JsonNode::ParseOpenedFile(file, path, &manifest, text)) {
    text.insert(0, "Cannot obtain human readable product names: ");
    return false;
  }
  texts = BInstallerChecker::ReadManifest(manifest);
  json_object_put(manifest);
  run.manifests.emplace(key, texts);
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

// Initialize's searches, each database read into `reading` (when given) as it is found.
bool SearchAll(SystemCommands& commands, BInstallerChecker::Reading* reading,
               std::string& message) {
  // Every run searches afresh: a host that runs the check twice must not read everything twice.
  BInstallerChecker::CachePaths.clear();
  BInstallerChecker::SearchFailures.clear();
  const bool found = BInstallerChecker::FindCaches(commands, GlobalText(ROOT_IC_PATH),
                                                   BInstallerChecker::CachePaths, message, reading);
  const uid_t user = geteuid();
  if (user == 0) {
    return found;
  }
  const std::optional<std::string> home = HomeDirectory(user);
  if (!home) {
    message = "Cannot get user name.";
    return found;
  }
  return BInstallerChecker::FindCaches(commands, *home + GlobalText(USER_IC_PATH),
                                       BInstallerChecker::CachePaths, message, reading) ||
         found;
}

}  // namespace

bool BInstallerChecker::FindCaches(std::string directory, std::vector<std::string>& caches,
                                   std::string& message) {
  SystemCommands onTheSpot;
  return FindCaches(onTheSpot, directory, caches, message, nullptr);
}

bool BInstallerChecker::FindCaches(SystemCommands& commands, const std::string& directory,
                                   std::vector<std::string>& caches, std::string& message,
                                   Reading* reading) {
  const std::string dbName = GlobalText(DB_NAME);
  const std::string start = FindStartingPoint(directory);
  const size_t cachesBefore = caches.size();
  const size_t readBefore = reading != nullptr ? reading->Size() : 0;
  const int status = commands.Stream(FindCommand(start, dbName), [&](const std::string& path) {
    std::optional<std::string> cache = CacheOfPath(path, start, dbName);
    if (!cache) {
      return;
    }
    caches.push_back(std::move(*cache));
    if (reading != nullptr) {
      reading->Read(caches.back());
    }
  });
  // Status 1 also means that find met a folder it may not read; what it printed is still there.
  if ((status != 0 && status != 1) || caches.size() == cachesBefore) {
    caches.resize(cachesBefore);
    if (reading != nullptr) {
      reading->Forget(readBefore);
    }
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
  SystemCommands onTheSpot;
  return SearchAll(onTheSpot, nullptr, message);
}

bool BInstallerChecker::Initialize(SystemCommands& commands, Reading& reading,
                                   std::string& message) {
  return SearchAll(commands, &reading, message);
}

bool BInstallerChecker::GetAppInfo(std::string databasePath, std::string cachePath,
                                   std::string& text) {
  InstallerRun run;
  return ReadDatabase(databasePath, cachePath, run, text);
}

struct BInstallerChecker::Reading::Run : InstallerRun {};

BInstallerChecker::Reading::Reading() = default;

BInstallerChecker::Reading::~Reading() = default;

void BInstallerChecker::Reading::Read(const std::string& cachePath) {
  const auto now = std::chrono::steady_clock::now();
  if (!run_) {
    run_ = std::make_unique<Run>();
  } else {
    run_->budget.Postpone(now - lastRead_);
  }
  Database& database = databases_.emplace_back();
  if (!run_->budget.Spent() || failed_ == 0) {
    database.read = true;
    database.ok = ReadDatabase(cachePath + GlobalText(DB_NAME), cachePath, *run_, database.text);
    failed_ += database.ok ? 0 : 1;
  }
  lastRead_ = std::chrono::steady_clock::now();
}

void BInstallerChecker::Reading::Forget(size_t count) {
  for (size_t index = count; index < databases_.size(); ++index) {
    failed_ -= databases_[index].read && !databases_[index].ok ? 1 : 0;
  }
  databases_.resize(std::min(count, databases_.size()));
}

bool BInstallerChecker::Reading::Splice(std::string& map, std::string& failures) const {
  size_t unread = 0;
  for (const Database& database : databases_) {
    if (!database.read) {
      ++unread;
    } else if (database.ok) {
      SpliceMap(map, database.text);
    } else {
      failures += database.text;
    }
  }
  if (unread != 0) {
    failures += std::to_string(unread) + " more Zivaro Zizovirad databases were not read.\n";
  }
  failures += SearchFailures;
  return !map.empty() && map != kEmptyMap;
}

bool BInstallerChecker::ReadCaches(std::string& map, std::string& failures) {
  Reading reading;
  for (const std::string& cachePath : CachePaths) {
    reading.Read(cachePath);
  }
  return ReadCaches(reading, map, failures);
}

bool BInstallerChecker::ReadCaches(const Reading& reading, std::string& map,
                                   std::string& failures) {
  return reading.Splice(map, failures);
}

bool BInstallerChecker::GetAppInfo(std::string& text) {
  std::string errors;
  ReadCaches(text, errors);
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
