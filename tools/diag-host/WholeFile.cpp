#include "WholeFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool WriteAll(int descriptor, const std::string& content) {
  size_t written = 0;
  while (written < content.size()) {
    const ssize_t result = write(descriptor, content.data() + written, content.size() - written);
    if (result < 0 && errno == EINTR) {
      continue;
    }
    if (result <= 0) {
      errno = result == 0 ? EIO : errno;
      return false;
    }
    written += static_cast<size_t>(result);
  }
  return true;
}

mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool WriteWholeFile(const std::string& path, const std::string& content, std::string& error) {
  std::vector<char> temporary(path.begin(), path.end());
  const std::string suffix = ".XXXXXX";
  temporary.insert(temporary.end(), suffix.begin(), suffix.end());
  temporary.push_back('\0');
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) {
    error = "cannot create a file beside " + path + ": " + std::strerror(errno);
    return false;
  }
  bool done = WriteAll(descriptor, content) && fchmod(descriptor, NewFileMode()) == 0 &&
              fsync(descriptor) == 0;
  int failure = done ? 0 : errno;
  if (close(descriptor) != 0 && done) {
    done = false;
    failure = errno;
  }
  if (done && std::rename(temporary.data(), path.c_str()) != 0) {
    done = false;
    failure = errno;
  }
  if (!done) {
    error = "cannot write " + path + ": " + std::strerror(failure);
    unlink(temporary.data());
  }
  return done;
}
