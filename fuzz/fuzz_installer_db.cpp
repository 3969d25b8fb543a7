// The bytes of an installer database file through the reading of one database.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>

#include "BInstallerChecker.h"
#include "FuzzSupport.h"

namespace {

// A cache directory whose manifest for component "c", version "1", is visible.
std::string CacheDir() {
  static const std::string dir = [] {
    std::string pattern = ScratchPattern("zorvex-fuzz-cache");
    if (mkdtemp(pattern.data()) == nullptr) {
      FuzzFailure("cannot create a scratch directory", pattern);
    }
    std::string cache = pattern + "/";
    mkdir((cache + "packagescache").c_str(), 0755);
    mkdir((cache + "packagescache/c,v=1").c_str(), 0755);
    std::ofstream(cache + "packagescache/c,v=1/manifest.json")
        << R"({"visible":true,"display":{"localized":[{"language":"en-us","title":"T"}]}})";
    return cache;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string cache = CacheDir();
  const std::string database = cache + "packagemanager.db";
  {
    std::ofstream file(database, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::string text;
  if (BInstallerChecker::GetAppInfo(database, cache, text)) {
    RequireProductMap(text);
  } else if (text.empty() || text.back() != '\n') {
    FuzzFailure("a failed database gave no message ending in a line feed", text);
  }
  // Nothing but the database may be left beside it: the reader never writes.
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    if (access((database + suffix).c_str(), F_OK) == 0) {
      FuzzFailure("the reader left a file behind", suffix);
    }
  }
  return 0;
}
