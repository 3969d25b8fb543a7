#ifndef ZORVEX_INSTALLER_DATABASE_H
#define ZORVEX_INSTALLER_DATABASE_H

#include <sys/types.h>

#include <chrono>
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

// What all the readings of one run may spend together, however many databases and manifests there
// are: 20 seconds, 30 million SQLite instructions (three databases' own budgets) and 256 MiB of
// manifests read.
class InstallerRunBudget {
 public:
  InstallerRunBudget();
  // Takes one check's work (1,000 SQLite instructions); false once the run has spent its budget.
  bool TakeWork();
  // Takes a manifest of `bytes`; false once the run has spent its budget.
  bool TakeManifest(off_t bytes);
  bool Spent() const;
  // Moves the deadline on by `idle`: time the run spent waiting for its search, not reading.
  void Postpone(std::chrono::steady_clock::duration idle) { deadline_ += idle; }

 private:
  static constexpr int kSeconds = 20;
  long checks_ = 30000;
  off_t manifestBytes_ = off_t{256} << 20;
  std::chrono::steady_clock::time_point deadline_;
};

// The message of the database whose reading stopped because the run had spent its budget.
std::string RunSpentMessage(const std::string& path);

// Reads the installer database at `path`, only reading: writes and creates no file, also not for
// one in write-ahead-log mode (a log that a killed writer left is read without writing; a live
// writer is shared with or the database is locked, never shown as it was), and fails at once,
// without waiting, when the database or a "-journal", "-wal" or "-shm" beside it is not a regular
// file; SQLite opens nothing else. Each reading has a fixed budget of SQLite instructions and
// memory and a largest value of 1 MiB, within the `run`'s. Hands `visit` the COMPONENT rows by ID
// and VERSION as they are read. Returns false when `visit` does, leaving `message` to it; and with
// a message ending in a line feed when the database cannot be opened, INSTALL_DIR gives no row, a
// query cannot be compiled, a step fails, or a limit of the reading or of the `run` stops a query.
bool ReadInstallerDatabase(const std::string& path, const ComponentVisitor& visit,
                           InstallerRunBudget& run, std::string& message);

#endif  // ZORVEX_INSTALLER_DATABASE_H
