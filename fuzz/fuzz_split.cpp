// The hand splitting of the fixed patterns must equal the regular-expression token iterator.
#include <cstddef>
#include <cstdint>
#include <regex>

#include "FuzzSupport.h"
#include "JsonNode.h"

namespace {

std::vector<std::string> ByRegex(const std::string& text, const std::regex& pattern) {
  std::vector<std::string> pieces;
  for (std::sregex_token_iterator it(text.begin(), text.end(), pattern, -1), end; it != end; ++it) {
    pieces.push_back(it->str());
  }
  return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kPatterns[] = {"\n", "\t", "/", "(\\s+)"};
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* pattern : kPatterns) {
    const std::regex compiled(pattern, std::regex::ECMAScript);
    if (JsonNode::SplitString(text, pattern) != ByRegex(text, compiled)) {
      FuzzFailure("hand splitting differs from the regex for pattern", pattern);
    }
  }
  return 0;
}
