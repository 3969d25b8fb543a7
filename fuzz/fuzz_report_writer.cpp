// The report's re-indenter against json-c: whatever text it accepts, it writes exactly as json-c's
// parser and pretty printer write the same text at that depth.
#include <json-c/json.h>

#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "JsonText.h"
#include "ProductMap.h"

namespace {

// json-c's pretty text of `value` nested `level` deep: its lines after the first indented by
// 2 * level spaces, as the value stands inside the report.
std::string JsonCPretty(json_object* value, int level) {
  json_object* holder = value;
  json_object_get(value);
  for (int depth = 0; depth < level; ++depth) {
    json_object* outer = json_object_new_object();
    json_object_object_add(outer, "x", holder);
    holder = outer;
  }
  std::string text = json_object_to_json_string_ext(holder, JSON_C_TO_STRING_PRETTY);
  json_object_put(holder);
  for (int depth = 0; depth < level; ++depth) {
    const size_t open = text.find(":") + 1;
    text = text.substr(open, text.rfind('\n') - open);
  }
  return text;
}

// The text cut in two at `cut`, re-indented as the text their splicing makes: whatever is accepted
// must be what that text gives.
void CheckSpliced(const std::string& spaced, size_t cut, int level) {
  const std::string first = spaced.substr(0, cut);
  const std::string second = spaced.substr(cut);
  std::string pretty = "kept";
  if (!SplicedToPretty(first, second, level, pretty)) {
    if (pretty != "kept") {
      FuzzFailure("two refused texts changed the output", spaced);
    }
    return;
  }
  std::string spliced;
  SpliceMap(spliced, first);
  SpliceMap(spliced, second);
  std::string whole = "kept";
  if (!SpacedToPretty(spliced, level, whole) || whole != pretty) {
    FuzzFailure("two texts re-indented otherwise than their splice", spaced);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    return 0;
  }
  const int level = data[0] % 6;
  const std::string spaced(reinterpret_cast<const char*>(data) + 1, size - 1);
  CheckSpliced(spaced, spaced.size() * (data[0] / 6) / 42, level);
  std::string pretty = "kept";
  if (!SpacedToPretty(spaced, level, pretty)) {
    if (pretty != "kept") {
      FuzzFailure("a refused text changed the output", spaced);
    }
    return 0;
  }
  json_object* parsed = json_tokener_parse(spaced.c_str());
  if (parsed == nullptr || spaced.find('\0') != std::string::npos) {
    FuzzFailure("accepted a text that json-c does not read whole", spaced);
  }
  const std::string expected = "kept" + JsonCPretty(parsed, level);
  json_object_put(parsed);
  if (pretty != expected) {
    FuzzFailure("re-indented text differs from json-c's for", spaced);
  }
  return 0;
}
