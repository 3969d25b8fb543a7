#ifndef DIAG_HOST_WHOLE_FILE_H
#define DIAG_HOST_WHOLE_FILE_H

#include <string>

// Replaces the file at `path` with `content`, whole or not at all: the text goes to a new file
// beside it (`path` + "." and six random characters), is flushed to disk and renamed over `path`,
// so that a reader sees the old file or the new one, never part of one. The new file gets mode
// 0666 less the umask. Returns false with the reason in `error`, leaving `path` as it was and no
// temporary file behind.
bool WriteWholeFile(const std::string& path, const std::string& content, std::string& error);

#endif  // DIAG_HOST_WHOLE_FILE_H
