// Whatever find printed, and however it arrived in pieces, every record reaches the reader once
// and whole, and the caches taken are directories inside the starting point, each ending in "/"
// right where a path to the database ended; nothing else is taken.
#include <cstddef>
#include <cstdint>

#include "FindOutput.h"
#include "FuzzSupport.h"
#include "SystemCommands.h"

namespace {

// The records of `output` as they are taken when it arrives in two pieces, cut at `cut`.
std::vector<std::string> RecordsArrivingInTwo(const std::string& output, size_t cut) {
  std::vector<std::string> records;
  const RecordTaker take = [&records](const std::string& record) { records.push_back(record); };
  std::string arrived = output.substr(0, cut);
  TakeWholeRecords(arrived, take);
  arrived += output.substr(cut);
  TakeWholeRecords(arrived, take);
  if (!arrived.empty()) {
    records.push_back(arrived);
  }
  return records;
}

void CheckCaches(const std::vector<std::string>& records) {
  static const char* const kStarts[] = {"/var/corva", "/var/corva/", "./-x", "/home/a\nb/corva"};
  const std::string dbName = "packagemanager.db";
  for (const char* start : kStarts) {
    const std::string inside = std::string(start).back() == '/' ? start : std::string(start) + "/";
    for (const std::string& record : records) {
      const std::optional<std::string> cache = CacheOfPath(record, start, dbName);
      if (cache && (cache->compare(0, inside.size(), inside) != 0 || cache->back() != '/' ||
                    *cache + dbName != record)) {
        FuzzFailure("a cache that find did not print inside the start", *cache);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) {
    return 0;
  }
  const std::string output(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::vector<std::string> records = RecordsArrivingInTwo(output, data[0] % size);
  std::string joined;
  for (size_t index = 0; index < records.size(); ++index) {
    joined += records[index];
    if (index + 1 < records.size() || output.back() == '\0') {
      joined += '\0';
    }
  }
  if (joined != output) {
    FuzzFailure("the records do not add up to what was printed", output);
  }
  CheckCaches(records);
  return 0;
}
