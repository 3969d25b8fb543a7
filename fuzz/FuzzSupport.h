#ifndef ZORVEX_FUZZ_SUPPORT_H
#define ZORVEX_FUZZ_SUPPORT_H

#include <json-c/json.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// A scratch file or folder name for mkstemp or mkdtemp: under TMPDIR, which run-fuzz.sh points
// at a folder it removes however the run ends, else under /tmp.
inline std::string ScratchPattern(const char* name) {
  const char* folder = std::getenv("TMPDIR");
  return std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/" + name +
         ".XXXXXX";
}

// Stops the run loudly: libFuzzer records the input that got here.
[[noreturn]] inline void FuzzFailure(const char* what, const std::string& detail) {
  std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
  std::abort();
}

// A product-map text must be one JSON object whose first and last characters are its braces.
inline void RequireProductMap(const std::string& text) {
  if (text.empty() || text.front() != '{' || text.back() != '}') {
    FuzzFailure("product map does not look like an object", text);
  }
  json_object* parsed = json_tokener_parse(text.c_str());
  if (!json_object_is_type(parsed, json_type_object)) {
    FuzzFailure("product map does not parse as an object", text);
  }
  json_object_put(parsed);
}

// What a package source's listing step may answer: a product map, or one of its two messages.
inline void RequireListingAnswer(bool listed, const std::string& text) {
  if (listed) {
    RequireProductMap(text);
  } else if (text != "Cannot obtain installed package." &&
             text != "Can't convert json object to string") {
    FuzzFailure("listing failed with an unknown message", text);
  }
}

#endif  // ZORVEX_FUZZ_SUPPORT_H
