// Manifest bytes through the file reader, visibility and the choice of localized texts.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>

#include "BInstallerChecker.h"
#include "FuzzSupport.h"
#include "JsonNode.h"

namespace {

std::string ManifestPath() {
  static const std::string path = [] {
    std::string pattern = ScratchPattern("zorvex-fuzz-manifest");
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
      FuzzFailure("cannot create a scratch file", pattern);
    }
    close(fd);
    return pattern;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = ManifestPath();
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  json_object* manifest = nullptr;
  std::string message;
  if (!JsonNode::ParseFile(path, &manifest, message)) {
    if (size != 0) {
      FuzzFailure("a non-empty regular file was not read", message);
    }
    return 0;
  }
  const BInstallerChecker::ManifestTexts texts = BInstallerChecker::ReadManifest(manifest);
  if (!texts.visible && (texts.title || texts.description || texts.version)) {
    FuzzFailure("texts chosen for an invisible component", path);
  }
  json_object_put(manifest);
  return 0;
}
