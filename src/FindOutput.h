#ifndef ZORVEX_FIND_OUTPUT_H
#define ZORVEX_FIND_OUTPUT_H

#include <string>
#include <vector>

// How the installer source asks find for its databases and reads the answer, apart from running
// it.

// `directory` as find's first argument. Commands run in "/", so a relative one is made absolute
// against this process's working folder, where the host meant it (unless that folder is gone);
// what is left relative gets "./" in front where find would read it as part of its expression (a
// leading "-", or "!", "(", ")", ","). Otherwise as it is.
std::string FindStartingPoint(const std::string& directory);

// Appends the cache directory (with its final "/") of every path to a `dbName` file in find's
// `output`, one a line, that lies inside `start`. A folder name may itself hold a line feed: find
// prints only paths that begin with `start` + "/", so a line that does not, or that follows a
// path not yet ending in "/" and the database name, continues the path before it. A path that
// does not begin there is dropped. Returns whether any was taken; `caches` is unchanged otherwise.
bool TakeCaches(const std::string& output, const std::string& start, const std::string& dbName,
                std::vector<std::string>& caches);

#endif  // ZORVEX_FIND_OUTPUT_H
