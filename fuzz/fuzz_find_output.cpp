// Whatever find printed, the caches taken are directories inside the starting point, each ending
// in "/" right where a path to the database ended; nothing else is taken.
#include <cstddef>
#include <cstdint>

#include "FindOutput.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kStarts[] = {"/var/corva", "/var/corva/", "./-x", "/home/a\nb/corva"};
  const std::string dbName = "packagemanager.db";
  const std::string output(reinterpret_cast<const char*>(data), size);
  for (const char* start : kStarts) {
    std::vector<std::string> caches{"kept"};
    const bool taken = TakeCaches(output, start, dbName, caches);
    if (caches.front() != "kept" || taken != (caches.size() > 1)) {
      FuzzFailure("caches before the search changed or the answer is wrong for", start);
    }
    const std::string inside = std::string(start).back() == '/' ? start : std::string(start) + "/";
    for (size_t index = 1; index < caches.size(); ++index) {
      const std::string& cache = caches[index];
      if (cache.compare(0, inside.size(), inside) != 0 || cache.back() != '/' ||
          output.find(cache + dbName) == std::string::npos) {
        FuzzFailure("a cache that find did not print inside the start", cache);
      }
    }
  }
  return 0;
}
