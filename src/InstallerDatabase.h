#ifndef ZORVEX_INSTALLER_DATABASE_H
#define ZORVEX_INSTALLER_DATABASE_H

#include <functional>
#include <string>

// One row of the installer's COMPONENT table that names something: neither value is NULL or
// longer than 4,096 bytes.
struct InstallerComponent {
  std::string id;
  std::string version;
};

// What the reading does with each component row, handed the install folder (the first row of
// INSTALL_DIR; "" for SQL NULL or a text too long to be a folder) with it. Returning false ends the
// reading at once.
using ComponentVisitor =
    std::function<bool(const std::string& installDir, const InstallerComponent& component)>;

// Reads the installer database at `path`, only reading: creates no file beside it, also not for
// one in write-ahead-log mode, and fails at once, without waiting, when the database or a "-wal"
// or "-shm" beside it is not a regular file. Each reading has a fixed budget of SQLite
// instructions and memory and a largest value of 1 MiB. Hands `visit` the COMPONENT rows by ID and
// VERSION as they are read; a step that fails otherwise ends them. Returns false when `visit`
// does, leaving `message` to it; and with a message ending in a line feed when the database cannot
// be opened, INSTALL_DIR gives no row, a query cannot be compiled, or a limit stops a query.
bool ReadInstallerDatabase(const std::string& path, const ComponentVisitor& visit,
                           std::string& message);

#endif  // ZORVEX_INSTALLER_DATABASE_H
