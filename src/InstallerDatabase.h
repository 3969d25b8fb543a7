#ifndef ZORVEX_INSTALLER_DATABASE_H
#define ZORVEX_INSTALLER_DATABASE_H

#include <string>
#include <vector>

// One row of the installer's COMPONENT table that names something: neither value is NULL or
// longer than 4,096 bytes.
struct InstallerComponent {
  std::string id;
  std::string version;
};

// What one installer database lists.
struct InstallerListing {
  // The first row of INSTALL_DIR; "" for SQL NULL or a text too long to be a folder.
  std::string installDir;
  // The COMPONENT rows, by ID and VERSION.
  std::vector<InstallerComponent> components;
};

// Reads the installer database at `path`, only reading: creates no file beside it, also not for
// one in write-ahead-log mode, and fails at once, without waiting, when the database or a "-wal"
// or "-shm" beside it is not a regular file. Each reading has a fixed budget of SQLite
// instructions and memory and a largest value of 1 MiB. Returns true with the listing; a step
// that fails otherwise ends the components read so far. Returns false with a message ending in a
// line feed when the database cannot be opened, INSTALL_DIR gives no row, a query cannot be
// compiled, or a limit stops a query; `listing.components` then holds the rows read before that.
bool ReadInstallerDatabase(const std::string& path, InstallerListing& listing,
                           std::string& message);

#endif  // ZORVEX_INSTALLER_DATABASE_H
