#include "BenchSupport.h"

#include <json-c/json.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "AptChecker.h"
#include "JsonNode.h"

extern char** environ;

namespace fs = std::filesystem;

namespace benchsupport {

namespace {

// Benchmarks cannot go on without their data: a setup failure ends the program with a reason.
[[noreturn]] void Fail(const std::string& reason) {
  std::fprintf(stderr, "benchmark setup failed: %s\n", reason.c_str());
  std::exit(1);
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
  if (!file) {
    Fail("cannot write " + path);
  }
}

const char* const kAreas[] = {"compiler",  "runtime",       "debugger", "profiler", "math-kernels",
                              "threading", "documentation", "samples",  "tools",    "headers"};
const size_t kAreaCount = sizeof kAreas / sizeof kAreas[0];

// Keeps what is built once per program run until the program ends.
template <typename T>
const T& Shared(std::map<size_t, std::unique_ptr<T>>& made, size_t key,
                const std::function<std::unique_ptr<T>()>& make) {
  std::unique_ptr<T>& slot = made[key];
  if (!slot) {
    slot = make();
  }
  return *slot;
}

std::string PackageName(size_t index) { return "corva-zorvex-" + std::to_string(index); }

std::string PackageVersion(size_t index) {
  return "2024." + std::to_string(index % 4) + "." + std::to_string(index % 17) + "-" +
         std::to_string(100 + index % 900);
}

std::string StatusStanza(size_t index, bool ofFamily) {
  std::ostringstream stanza;
  stanza << "Package: " << (ofFamily ? PackageName(index) : "libother" + std::to_string(index))
         << "-" << kAreas[index % kAreaCount]
         << "\nStatus: install ok installed\nPriority: optional\nSection: devel\n"
         << "Installed-Size: " << 100 + index % 5000
         << "\nMaintainer: Corva Corporation <packages@corva.example>\n"
         << "Architecture: " << (index % 9 == 0 ? "all" : "amd64")
         << "\nVersion: " << PackageVersion(index) << "\nDescription: " << Description(index)
         << "\n A longer text that the listing does not show.\n\n";
  return stanza.str();
}

// The installed and held packages' lines, as the library's "grep -E '^(ii|hi) '" keeps them.
std::string InstalledOrHeldLines(const std::string& text) {
  std::string kept;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("ii ", 0) == 0 || line.rfind("hi ", 0) == 0) {
      kept += line + "\n";
    }
  }
  return kept;
}

void ExecuteSql(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error != nullptr ? error : "unknown error";
    sqlite3_free(error);
    Fail("sqlite: " + message);
  }
}

std::string ComponentId(size_t index) { return "corva.zorvex.c" + std::to_string(index); }

std::string ComponentVersion(size_t index) {
  return "2024." + std::to_string(index % 3) + ".0-" + std::to_string(index);
}

json_object* LocalizedEntry(const char* language, size_t index) {
  json_object* entry = json_object_new_object();
  const std::string number = std::to_string(index);
  json_object_object_add(entry, "language", json_object_new_string(language));
  json_object_object_add(entry, "title",
                         json_object_new_string(("Zorvex Component " + number).c_str()));
  json_object_object_add(
      entry, "description",
      json_object_new_string(("The " + std::string(kAreas[index % kAreaCount]) +
                              " of the Zorvex family, part " + number + " (" + language + ")")
                                 .c_str()));
  json_object_object_add(entry, "version", json_object_new_string("2024.1"));
  return entry;
}

// A manifest like the installer writes: a few members the library does not read, and three
// languages of which "en-us" is the second.
std::string ManifestText(size_t index) {
  json_object* manifest = json_object_new_object();
  json_object_object_add(manifest, "id", json_object_new_string(ComponentId(index).c_str()));
  json_object_object_add(manifest, "visible", json_object_new_boolean(index % 20 != 19));
  json_object_object_add(manifest, "size",
                         json_object_new_int64(static_cast<int64_t>(1000 + index)));
  json_object* localized = json_object_new_array();
  json_object_array_add(localized, LocalizedEntry("fr-fr", index));
  json_object_array_add(localized, LocalizedEntry("en-us", index));
  json_object_array_add(localized, LocalizedEntry("de-de", index));
  json_object* display = json_object_new_object();
  json_object_object_add(display, "localized", localized);
  json_object_object_add(manifest, "display", display);
  std::string text = json_object_to_json_string_ext(manifest, JSON_C_TO_STRING_PRETTY);
  json_object_put(manifest);
  return text;
}

void CreateDatabase(const std::string& cacheDir, size_t first, size_t count) {
  fs::create_directories(cacheDir);
  sqlite3* db = nullptr;
  if (sqlite3_open((cacheDir + "packagemanager.db").c_str(), &db) != SQLITE_OK) {
    Fail("cannot create a database in " + cacheDir);
  }
  std::string sql =
      "BEGIN;CREATE TABLE INSTALL_DIR (PATH TEXT);"
      "CREATE TABLE COMPONENT (ID TEXT, VERSION TEXT, STATE TEXT);"
      "INSERT INTO INSTALL_DIR VALUES ('/opt/corva/zorvex/2024');";
  for (size_t index = first; index < first + count; ++index) {
    sql += "INSERT INTO COMPONENT VALUES ('" + ComponentId(index) + "', '" +
           ComponentVersion(index) + "', 'installed');";
  }
  ExecuteSql(db, sql + "COMMIT;");
  sqlite3_close(db);
  for (size_t index = first; index < first + count; ++index) {
    const std::string dir =
        cacheDir + "packagescache/" + ComponentId(index) + ",v=" + ComponentVersion(index);
    fs::create_directories(dir);
    WriteFile(dir + "/manifest.json", ManifestText(index));
  }
}

void TenfoldSizes(benchmark::internal::Benchmark* benchmark, int64_t smallest) {
  benchmark->Arg(smallest)
      ->Arg(smallest * 10)
      ->Arg(smallest * 100)
      ->Complexity(benchmark::oN)
      ->Unit(benchmark::kMicrosecond);
}

}  // namespace

void OneToHundred(benchmark::internal::Benchmark* benchmark) { TenfoldSizes(benchmark, 1); }

void HundredToTenThousand(benchmark::internal::Benchmark* benchmark) {
  TenfoldSizes(benchmark, 100);
}

void ThousandToHundredThousand(benchmark::internal::Benchmark* benchmark) {
  TenfoldSizes(benchmark, 1000);
}

ScratchDir::ScratchDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zorvex-bench.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    Fail("cannot create a temporary directory from " + pattern);
  }
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string Description(size_t index) {
  if (index % 7 == 3) {
    return "Zorvex shared " + std::string(kAreas[index % kAreaCount]) + " files";
  }
  return "Zorvex " + std::string(kAreas[index % kAreaCount]) + " for the " + std::to_string(index) +
         " target, " + (index % 2 == 0 ? "release" : "debug") + " build";
}

void WriteDpkgAdminDir(const std::string& dir, size_t family, size_t others) {
  std::string status;
  const size_t total = family + others;
  for (size_t index = 0; index < total; ++index) {
    // Spread the family's packages evenly among the others.
    const bool ofFamily = (index + 1) * family / total != index * family / total;
    status += StatusStanza(index, ofFamily);
  }
  WriteFile(dir + "/status", status);
  WriteFile(dir + "/available", "");
  fs::create_directories(dir + "/info");
  fs::create_directories(dir + "/updates");
}

DpkgAdmin::DpkgAdmin(size_t packages) { WriteDpkgAdminDir(dir_.path(), packages, 0); }

const DpkgAdmin& SharedDpkgAdmin(size_t packages) {
  static std::map<size_t, std::unique_ptr<DpkgAdmin>> made;
  return Shared<DpkgAdmin>(made, packages,
                           [packages] { return std::make_unique<DpkgAdmin>(packages); });
}

const std::string& DpkgListing(size_t packages) {
  static std::map<size_t, std::unique_ptr<std::string>> made;
  return Shared<std::string>(made, packages, [packages] {
    const DpkgAdmin& admin = SharedDpkgAdmin(packages);
    const std::string command =
        "DPKG_ADMINDIR='" + admin.path() + "' dpkg --no-pager -l '*corva-zorvex*' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
      Fail("cannot run dpkg");
    }
    std::string output;
    char buffer[65536];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
      output.append(buffer, got);
    }
    if (pclose(pipe) != 0) {
      Fail("dpkg cannot list " + admin.path());
    }
    return std::make_unique<std::string>(InstalledOrHeldLines(output));
  });
}

size_t RunDpkgQuery(const DpkgAdmin& admin) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    Fail("no pipe");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
  const std::string adminDir = "--admindir=" + admin.path();
  const char* argv[] = {"dpkg-query", adminDir.c_str(), "--no-pager",
                        "-l",         "*corva-zorvex*", nullptr};
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, "dpkg-query", &actions, nullptr,
                                   const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  size_t total = 0;
  char buffer[65536];
  ssize_t got = 0;
  while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
    total += static_cast<size_t>(got);
  }
  close(pipeEnds[0]);
  int status = 0;
  if (spawned != 0 || waitpid(child, &status, 0) != child || status != 0) {
    Fail("dpkg-query cannot list " + admin.path());
  }
  return total;
}

std::string RpmListing(size_t lines) {
  std::string listing;
  for (size_t index = 0; index < lines; ++index) {
    listing += "corva-zorvex-" + std::to_string(index) + "-" + kAreas[index % kAreaCount] + "\t" +
               PackageVersion(index) + "\t" + (index % 9 == 0 ? "noarch" : "x86_64") + "\t" +
               Description(index) + "\t:Corva Corporation\n";
  }
  return listing;
}

std::vector<std::string> WriteInstallerTree(const std::string& dir, size_t databases,
                                            size_t components) {
  std::vector<std::string> cachePaths;
  size_t first = 0;
  for (size_t database = 0; database < databases; ++database) {
    const size_t count = components / databases + (database < components % databases ? 1 : 0);
    const std::string cacheDir = dir + "/installer" + std::to_string(database) + "/cache/";
    CreateDatabase(cacheDir, first, count);
    cachePaths.push_back(cacheDir);
    first += count;
  }
  return cachePaths;
}

InstallerTree::InstallerTree(size_t databases, size_t components)
    : cachePaths_(WriteInstallerTree(dir_.path(), databases, components)) {}

const InstallerTree& SharedInstallerTree(size_t databases, size_t components) {
  static std::map<size_t, std::unique_ptr<InstallerTree>> made;
  return Shared<InstallerTree>(made, databases * 1000000000 + components, [=] {
    return std::make_unique<InstallerTree>(databases, components);
  });
}

std::string PackageMapText(size_t products) {
  std::string text;
  if (!AptChecker::ParseListing(DpkgListing(products), text)) {
    Fail("no package map");
  }
  return text;
}

std::string InstallerMapText(size_t products) {
  json_object* map = json_object_new_object();
  for (size_t index = 0; index < products; ++index) {
    json_object* product = json_object_new_object();
    JsonNode::AddJsonNode(map, "Zorvex Component " + std::to_string(index), "INFO", product);
    JsonNode::AddJsonNode(product, "Product ID", "INFO", 1u, ComponentId(index));
    JsonNode::AddJsonNode(product, "Version", "INFO", "2024.1");
    JsonNode::AddJsonNode(product, "Full Version", "INFO", 1u, ComponentVersion(index));
    JsonNode::AddJsonNode(product, "Description", "INFO", 1u,
                          "The " + std::string(kAreas[index % kAreaCount]) + " of the family");
    JsonNode::AddJsonNode(product, "Path", "INFO", 1u, std::string("/opt/corva/zorvex/2024"));
  }
  std::string text = json_object_to_json_string(map);
  json_object_put(map);
  return text;
}

}  // namespace benchsupport
