#include "Split.h"

#include <locale>
#include <regex>

namespace {

// The characters that make a one-character ECMAScript pattern something other than a literal.
bool IsRegexSpecial(char c) {
  static const std::string kSpecial = "^$\\.*+?()[]{}|";
  return kSpecial.find(c) != std::string::npos;
}

std::vector<std::string> SplitAtRegex(const std::string& text, const std::string& delimiter) {
  const std::regex pattern(delimiter, std::regex::ECMAScript);
  std::vector<std::string> pieces;
  const std::sregex_token_iterator end;
  for (std::sregex_token_iterator it(text.begin(), text.end(), pattern, -1); it != end; ++it) {
    pieces.push_back(it->str());
  }
  return pieces;
}

// The pieces between the separators, a separator being a byte that `isSeparator` accepts or, with
// `runs`, a maximal run of them, with the token iterator's rules: the piece before each separator
// is kept even when empty, the rest after the last one only when not empty; a text without a
// separator (the empty text too) is one piece.
template <typename IsSeparator>
void SplitWhere(std::string_view text, IsSeparator isSeparator, bool runs,
                std::vector<std::string_view>& pieces) {
  pieces.clear();
  size_t start = 0;
  bool matched = false;
  for (size_t at = 0; at < text.size();) {
    if (!isSeparator(text[at])) {
      ++at;
      continue;
    }
    pieces.push_back(text.substr(start, at - start));
    matched = true;
    do {
      ++at;
    } while (runs && at < text.size() && isSeparator(text[at]));
    start = at;
  }
  if (!matched || start < text.size()) {
    pieces.push_back(text.substr(start));
  }
}

}  // namespace

void SplitAtCharacter(std::string_view text, char delimiter,
                      std::vector<std::string_view>& pieces) {
  SplitWhere(
      text, [delimiter](char c) { return c == delimiter; }, false, pieces);
}

// The regex library's traits decide "\s" as the ctype facet of the global locale classifies
// "space"; the facet is fetched once per text here, since the traits look it up again for every
// character they are asked about, which cost more than the splitting itself.
void SplitAtWhitespaceRuns(std::string_view text, std::vector<std::string_view>& pieces) {
  const std::ctype<char>& ctype = std::use_facet<std::ctype<char>>(std::locale());
  SplitWhere(
      text, [&ctype](char c) { return ctype.is(std::ctype_base::space, c); }, true, pieces);
}

std::vector<std::string> SplitAtPattern(const std::string& text, const std::string& pattern) {
  // The system's fixed patterns are split by hand with the token iterator's exact rules: the
  // regex engine costs far more than the listings it would split.
  std::vector<std::string_view> pieces;
  if (pattern.size() == 1 && !IsRegexSpecial(pattern[0])) {
    SplitAtCharacter(text, pattern[0], pieces);
  } else if (pattern == "(\\s+)") {
    SplitAtWhitespaceRuns(text, pieces);
  } else {
    return SplitAtRegex(text, pattern);
  }
  return std::vector<std::string>(pieces.begin(), pieces.end());
}
