#ifndef ZORVEX_FIND_OUTPUT_H
#define ZORVEX_FIND_OUTPUT_H

#include <optional>
#include <string>

// How the installer source asks find for its databases and reads the answer, apart from running
// it.

// `directory` as find's first argument. Commands run in "/", so a relative one is made absolute
// against this process's working folder, where the host meant it (unless that folder is gone);
// what is left relative gets "./" in front where find would read it as part of its expression (a
// leading "-", or "!", "(", ")", ","). Otherwise as it is.
std::string FindStartingPoint(const std::string& directory);

// The command line that asks find for every `dbName` file inside `start` (a FindStartingPoint).
// Each path is printed whole and ended by a NUL byte, which no path holds (a folder name may hold
// a line feed), and flushed at once, so that its reader can act on it while find goes on.
std::string FindCommand(const std::string& start, const std::string& dbName);

// The cache directory, with its final "/", of one `path` that find printed; nothing for a path
// that does not lie inside `start` or is not a `dbName` file.
std::optional<std::string> CacheOfPath(const std::string& path, const std::string& start,
                                       const std::string& dbName);

#endif  // ZORVEX_FIND_OUTPUT_H
