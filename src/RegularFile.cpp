#include "RegularFile.h"

#include <fcntl.h>
#include <unistd.h>

RegularFile OpenRegularFile(const std::string& path) {
  RegularFile file;
  if (stat(path.c_str(), &file.status) != 0) {
    return file;
  }
  if (!S_ISREG(file.status.st_mode)) {
    file.outcome = RegularFile::Outcome::kNotRegular;
    return file;
  }
  // The name may have been given to another file since it was looked up.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return file;
  }
  struct stat opened {};
  if (fstat(fd, &opened) != 0) {
    close(fd);
    return file;
  }
  if (!S_ISREG(opened.st_mode) || opened.st_dev != file.status.st_dev ||
      opened.st_ino != file.status.st_ino) {
    close(fd);
    file.status = opened;
    file.outcome = S_ISREG(opened.st_mode) ? RegularFile::Outcome::kUnreachable
                                           : RegularFile::Outcome::kNotRegular;
    return file;
  }
  file.status = opened;
  file.fd = fd;
  file.outcome = RegularFile::Outcome::kOpened;
  return file;
}

std::string NotRegularFile(mode_t mode) {
  const char* kind = S_ISDIR(mode)                    ? "a directory"
                     : S_ISFIFO(mode)                 ? "a FIFO"
                     : S_ISSOCK(mode)                 ? "a socket"
                     : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                                                      : nullptr;
  return kind != nullptr ? std::string(kind) + ", not a regular file" : "not a regular file";
}
