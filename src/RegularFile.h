#ifndef ZORVEX_REGULAR_FILE_H
#define ZORVEX_REGULAR_FILE_H

#include <sys/stat.h>

#include <string>

// Opening the files that installer data names: anyone able to write below an installer folder can
// put a FIFO, a device or a link to one where a file is expected, and opening a device as root
// can act on it (a terminal master allocates a terminal), opening a FIFO waits for a writer.
struct RegularFile {
  enum class Outcome {
    kOpened,       // `fd` is open for reading, `status` is the file's
    kUnreachable,  // the name leads nowhere, or opening or measuring it failed
    kNotRegular,   // `status.st_mode` says what it is instead
  };
  Outcome outcome = Outcome::kUnreachable;
  int fd = -1;
  struct stat status {};
};

// Opens `path` for reading only if it is a regular file: its kind is looked up first, so that
// nothing else is ever opened; then it is opened without blocking and without taking a terminal,
// close-on-exec, and looked at again through the descriptor, which must still be a regular file
// and the same one. The caller closes `fd` when the outcome is kOpened.
RegularFile OpenRegularFile(const std::string& path);

// What a file of `mode` is, for a message: "a FIFO, not a regular file", "a directory, ...".
std::string NotRegularFile(mode_t mode);

#endif  // ZORVEX_REGULAR_FILE_H
