#include "Split.h"

#include <locale>
#include <regex>

namespace {

// The characters that make a one-character ECMAScript pattern something other than a literal.
bool IsRegexSpecial(char c) {
  static const std::string kSpecial = "^$\\.*+?()[]{}|";
  return kSpecial.find(c) != std::string::npos;
}

// The pieces between the occurrences of one literal character, with the token iterator's rules:
// empty pieces kept, except that a text ending in the delimiter has no empty last piece; a text
// without the delimiter (the empty text too) is one piece.
std::vector<std::string> SplitAtCharacter(const std::string& text, char delimiter) {
  std::vector<std::string> pieces;
  std::string::size_type start = 0;
  for (std::string::size_type at = text.find(delimiter); at != std::string::npos;
       at = text.find(delimiter, start)) {
    pieces.emplace_back(text, start, at - start);
    start = at + 1;
  }
  if (pieces.empty() || start < text.size()) {
    pieces.emplace_back(text, start, std::string::npos);
  }
  return pieces;
}

// The pieces between the maximal runs of characters that "\s" matches. The regex library's traits
// decide "\s" as the ctype facet of the global locale classifies "space"; the facet is fetched
// once per text here, since the traits look it up again for every character they are asked
// about, which cost more than the splitting itself.
std::vector<std::string> SplitAtWhitespaceRuns(const std::string& text) {
  const std::ctype<char>& ctype = std::use_facet<std::ctype<char>>(std::locale());
  const auto isSpace = [&ctype](char c) { return ctype.is(std::ctype_base::space, c); };

  std::vector<std::string> pieces;
  std::string::size_type start = 0;
  std::string::size_type at = 0;
  bool matched = false;
  while (at < text.size()) {
    if (!isSpace(text[at])) {
      ++at;
      continue;
    }
    pieces.emplace_back(text, start, at - start);
    matched = true;
    while (at < text.size() && isSpace(text[at])) {
      ++at;
    }
    start = at;
  }
  if (!matched || start < text.size()) {
    pieces.emplace_back(text, start, std::string::npos);
  }
  return pieces;
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

}  // namespace

std::vector<std::string> SplitAtPattern(const std::string& text, const std::string& pattern) {
  // The system's fixed patterns are split by hand with the token iterator's exact rules: the
  // regex engine costs far more than the listings it would split.
  if (pattern.size() == 1 && !IsRegexSpecial(pattern[0])) {
    return SplitAtCharacter(text, pattern[0]);
  }
  if (pattern == "(\\s+)") {
    return SplitAtWhitespaceRuns(text);
  }
  return SplitAtRegex(text, pattern);
}
