#ifndef DIAG_HOST_OS_RELEASE_H
#define DIAG_HOST_OS_RELEASE_H

#include <map>
#include <string>

// The operating system of a root file system, as its os-release file names it.
struct OsRelease {
  std::map<std::string, std::string> fields;  // ID, VERSION_ID, PRETTY_NAME, ...

  // The field's value, or `fallback` when the file does not set it.
  std::string Get(const std::string& key, const std::string& fallback = "") const;
};

// Reads `root`'s os-release: etc/os-release, else usr/lib/os-release, both read as files under
// `root` ("/" for this machine). A symbolic link on the way is followed inside `root` (an absolute
// target is taken under `root`), so an image's file never leads to this machine's. Only a regular
// file of at most 64 KiB is read, opened without blocking; nothing is executed. Values are
// unquoted and unescaped as the format's shell-like rules say. Returns false with the reason in
// `error` when neither file can be read.
bool ReadOsRelease(const std::string& root, OsRelease& release, std::string& error);

// Parses the text of an os-release file: KEY=VALUE lines, comments and blank lines skipped.
OsRelease ParseOsRelease(const std::string& text);

#endif  // DIAG_HOST_OS_RELEASE_H
