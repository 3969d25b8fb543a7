#include "BenchSupport.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <utility>

#include "AptChecker.h"

extern char** environ;

namespace benchsupport {

namespace {

const char* const kAreas[] = {"compiler",  "runtime",       "debugger", "profiler", "math-kernels",
                              "threading", "documentation", "samples",  "tools",    "headers"};
const size_t kAreaCount = sizeof kAreas / sizeof kAreas[0];
const char* const kInstallDir = "/opt/corva/zorvex/2024";

std::string PackageName(size_t index) { return "corva-zorvex-" + std::to_string(index); }

std::string PackageVersion(size_t index) {
  return "2024." + std::to_string(index % 4) + "." + std::to_string(index % 17) + "-" +
         std::to_string(100 + index % 900);
}

testsupport::DpkgPackage GeneratedPackage(size_t index, bool ofFamily) {
  return {(ofFamily ? PackageName(index) : "libother" + std::to_string(index)) + "-" +
              kAreas[index % kAreaCount],
          PackageVersion(index), index % 9 == 0 ? "all" : "amd64", Description(index)};
}

std::string ComponentId(size_t index) { return "corva.zorvex.c" + std::to_string(index); }

std::string ComponentVersion(size_t index) {
  return "2024." + std::to_string(index % 3) + ".0-" + std::to_string(index);
}

testsupport::LocalizedEntry Localized(const std::string& language, size_t index) {
  return {language, "Zorvex Component " + std::to_string(index),
          "The " + std::string(kAreas[index % kAreaCount]) + " of the Zorvex family, part " +
              std::to_string(index) + " (" + language + ")",
          "2024.1"};
}

// A manifest like the installer writes: a member the library does not read, and three
// languages of which "en-us" is the second.
std::string ManifestText(size_t index) {
  return testsupport::ManifestJson(
      index % 20 != 19,
      {Localized("fr-fr", index), Localized("en-us", index), Localized("de-de", index)},
      ComponentId(index));
}

void CreateDatabase(const std::string& cacheDir, size_t first, size_t count) {
  std::vector<testsupport::InstallerComponent> components;
  for (size_t index = first; index < first + count; ++index) {
    components.push_back({ComponentId(index), ComponentVersion(index), ManifestText(index)});
  }
  testsupport::CreateInstallerDatabase(cacheDir, kInstallDir, components);
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

std::string Description(size_t index) {
  if (index % 7 == 3) {
    return "Zorvex shared " + std::string(kAreas[index % kAreaCount]) + " files";
  }
  return "Zorvex " + std::string(kAreas[index % kAreaCount]) + " for the " + std::to_string(index) +
         " target, " + (index % 2 == 0 ? "release" : "debug") + " build";
}

void WriteDpkgAdminDir(const std::string& dir, size_t family, size_t others) {
  std::vector<testsupport::DpkgPackage> packages;
  const size_t total = family + others;
  for (size_t index = 0; index < total; ++index) {
    // Spread the family's packages evenly among the others.
    const bool ofFamily = (index + 1) * family / total != index * family / total;
    packages.push_back(GeneratedPackage(index, ofFamily));
  }
  testsupport::WriteDpkgAdminDir(dir, packages);
}

DpkgAdmin::DpkgAdmin(size_t packages) { WriteDpkgAdminDir(dir_.path(), packages, 0); }

// Kept until the program ends; a map's elements stay where they were made.
const DpkgAdmin& SharedDpkgAdmin(size_t packages) {
  static std::map<size_t, DpkgAdmin> made;
  return made.try_emplace(packages, packages).first->second;
}

const std::string& DpkgListing(size_t packages) {
  static std::map<size_t, std::string> made;
  auto listing = made.find(packages);
  if (listing == made.end()) {
    const DpkgAdmin& admin = SharedDpkgAdmin(packages);
    // The installed and held packages' lines, as the library's grep keeps them.
    const std::string command =
        "DPKG_ADMINDIR='" + admin.path() +
        "' dpkg --no-pager -l '*corva-zorvex*' 2>/dev/null | grep -E '^(ii|hi) '";
    std::string output;
    if (testsupport::Shell(command, &output) != 0) {
      testsupport::Fail("dpkg cannot list " + admin.path());
    }
    listing = made.emplace(packages, output).first;
  }
  return listing->second;
}

size_t RunDpkgQuery(const DpkgAdmin& admin) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    testsupport::Fail("no pipe");
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
    testsupport::Fail("dpkg-query cannot list " + admin.path());
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

std::vector<std::string> WriteInstallerDatabases(const std::string& dir, size_t databases,
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
    : cachePaths_(WriteInstallerDatabases(dir_.path(), databases, components)) {}

const InstallerTree& SharedInstallerTree(size_t databases, size_t components) {
  static std::map<std::pair<size_t, size_t>, InstallerTree> made;
  return made.try_emplace(std::make_pair(databases, components), databases, components)
      .first->second;
}

std::string PackageMapText(size_t products) {
  std::string text;
  if (!AptChecker::ParseListing(DpkgListing(products), text)) {
    testsupport::Fail("no package map");
  }
  return text;
}

std::string InstallerMapText(size_t products) {
  std::vector<testsupport::InstallerProduct> listed;
  listed.reserve(products);
  for (size_t index = 0; index < products; ++index) {
    listed.push_back({"Zorvex Component " + std::to_string(index), ComponentId(index), "2024.1",
                      ComponentVersion(index),
                      "The " + std::string(kAreas[index % kAreaCount]) + " of the family",
                      kInstallDir});
  }
  return testsupport::InstallerMap(listed);
}

}  // namespace benchsupport
