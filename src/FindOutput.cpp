#include "FindOutput.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>

#include "ShellCommand.h"

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

std::string FindCommand(const std::string& start, const std::string& dbName) {
  // -H: a starting directory that is a symbolic link (an installer tree moved to a larger disk)
  // is searched where it leads; links below it are still not followed. "\c" flushes.
  return "find -H " + ShellQuote(start) + " -name " + ShellQuote(dbName) +
         " -type f -printf '%p\\0\\c' 2>/dev/null";
}

std::optional<std::string> CacheOfPath(const std::string& path, const std::string& start,
                                       const std::string& dbName) {
  const std::string inside = EndsWith(start, "/") ? start : start + "/";
  if (!StartsWith(path, inside) || !EndsWith(path, "/" + dbName)) {
    return std::nullopt;
  }
  return path.substr(0, path.size() - dbName.size());
}
