// Writes the data of the whole-run comparison into a directory: a dpkg admin directory and a
// folder of installer databases with their manifests.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchSupport.h"

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s DIR FAMILY_PACKAGES OTHER_PACKAGES DATABASES COMPONENTS_EACH\n",
                 argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const auto number = [](const char* text) { return std::strtoul(text, nullptr, 10); };
  std::filesystem::create_directories(dir + "/dpkg");
  benchsupport::WriteDpkgAdminDir(dir + "/dpkg", number(argv[2]), number(argv[3]));
  const size_t databases = number(argv[4]);
  benchsupport::WriteInstallerDatabases(dir + "/installer", databases, databases * number(argv[5]));
  return 0;
}
