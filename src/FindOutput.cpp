#include "FindOutput.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "Split.h"

namespace {

bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

// A directory named "-delete" would otherwise delete whatever lies under the working directory.
std::string FindStartingPoint(const std::string& directory) {
  if (!directory.empty() && directory[0] != '/') {
    const std::unique_ptr<char, decltype(&std::free)> folder(getcwd(nullptr, 0), &std::free);
    if (folder != nullptr && folder.get()[0] == '/') {
      const std::string base = folder.get();
      return base + (base == "/" ? "" : "/") + directory;
    }
  }
  const bool looksLikeExpression =
      !directory.empty() && (directory[0] == '-' || directory == "!" || directory == "(" ||
                             directory == ")" || directory == ",");
  return looksLikeExpression ? "./" + directory : directory;
}

bool TakeCaches(const std::string& output, const std::string& start, const std::string& dbName,
                std::vector<std::string>& caches) {
  const std::string inside = EndsWith(start, "/") ? start : start + "/";
  const std::string tail = "/" + dbName;
  const size_t before = caches.size();
  // The first line of every path that find prints; all of `inside` unless that holds a line feed.
  const size_t lineFeed = inside.find('\n');
  const auto startsAPath = [&](const std::string& line) {
    return lineFeed == std::string::npos ? StartsWith(line, inside)
                                         : line == inside.substr(0, lineFeed);
  };
  const auto complete = [&](const std::string& path) {
    return StartsWith(path, inside) && EndsWith(path, tail);
  };
  const auto take = [&](const std::string& path) {
    if (complete(path)) {
      caches.push_back(path.substr(0, path.size() - dbName.size()));
    }
  };
  std::string path;
  for (const std::string& line : SplitAtPattern(output, "\n")) {
    if (path.empty() || (startsAPath(line) && (complete(path) || !StartsWith(path, inside)))) {
      take(path);
      path = line;
    } else {
      path += '\n' + line;
    }
  }
  take(path);
  return caches.size() > before;
}
