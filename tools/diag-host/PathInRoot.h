#ifndef DIAG_HOST_PATH_IN_ROOT_H
#define DIAG_HOST_PATH_IN_ROOT_H

#include <string>

// `path` (absolute or relative to the root) as this process reaches it inside `root`, its links
// resolved; "" when a link leads out of `root`, so that an image's data never turns into this
// machine's. With `root` "" (this machine), `path` made absolute.
std::string PathInRoot(const std::string& root, const std::string& path);

#endif  // DIAG_HOST_PATH_IN_ROOT_H
