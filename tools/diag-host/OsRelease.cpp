#include "OsRelease.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr size_t kMaxFileSize = 64 * 1024;
constexpr int kMaxLinks = 16;

// A value as the format quotes it: double quotes with backslash escapes, single quotes taken
// literally, or a bare word with backslash escapes.
std::string Unquote(const std::string& raw) {
  std::string value;
  char quote = 0;
  for (size_t index = 0; index < raw.size(); ++index) {
    const char character = raw[index];
    if (quote == 0 && (character == '"' || character == '\'')) {
      quote = character;
    } else if (quote != 0 && character == quote) {
      quote = 0;
    } else if (character == '\\' && quote != '\'' && index + 1 < raw.size()) {
      value += raw[++index];
    } else {
      value += character;
    }
  }
  return value;
}

std::string Parent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? "" : path.substr(0, slash);
}

// `relative` (a path inside the root, starting with "/") with every link resolved inside `root`.
bool ResolveInside(const std::string& root, std::string relative, std::string& resolved) {
  for (int hop = 0; hop <= kMaxLinks; ++hop) {
    const std::string path = root + relative;
    char target[4096];
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    if (length < 0) {
      resolved = path;
      return errno == EINVAL || errno == ENOENT;
    }
    const std::string link(target, static_cast<size_t>(length));
    relative = link[0] == '/' ? link : Parent(relative) + "/" + link;
  }
  errno = ELOOP;
  return false;
}

bool ReadSmallRegularFile(const std::string& path, std::string& text) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) {
    return false;
  }
  struct stat status {};
  bool ok = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) &&
            static_cast<size_t>(status.st_size) <= kMaxFileSize;
  if (!ok && errno == 0) {
    errno = EINVAL;
  }
  char buffer[4096];
  for (ssize_t got = 1; ok && got > 0 && text.size() <= kMaxFileSize;) {
    got = read(descriptor, buffer, sizeof buffer);
    ok = got >= 0 || errno == EINTR;
    text.append(buffer, got > 0 ? static_cast<size_t>(got) : 0);
  }
  close(descriptor);
  return ok && text.size() <= kMaxFileSize;
}

}  // namespace

std::string OsRelease::Get(const std::string& key, const std::string& fallback) const {
  const auto found = fields.find(key);
  return found == fields.end() ? fallback : found->second;
}

OsRelease ParseOsRelease(const std::string& text) {
  OsRelease release;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end;
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const size_t equals = line.find('=');
    if (line.empty() || line[0] == '#' || equals == std::string::npos || equals == 0) {
      continue;
    }
    release.fields[line.substr(0, equals)] = Unquote(line.substr(equals + 1));
  }
  return release;
}

bool ReadOsRelease(const std::string& root, OsRelease& release, std::string& error) {
  const std::string base = root == "/" ? "" : root;
  for (const char* relative : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::string path;
    std::string text;
    errno = 0;
    if (ResolveInside(base, relative, path) && ReadSmallRegularFile(path, text)) {
      release = ParseOsRelease(text);
      return true;
    }
    error = path.empty() ? base + relative : path;
    error += ": " + std::string(errno != 0 ? std::strerror(errno) : "not a regular file");
  }
  error = "cannot read the os-release file of " + (root.empty() ? "/" : root) + " (" + error + ")";
  return false;
}
