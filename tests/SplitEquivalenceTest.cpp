// The hand-made splitting of the fixed patterns against the regex token iterator itself, on many
// generated texts: the pieces must be the same, empty ones included.
#include <gtest/gtest.h>

#include <locale>
#include <random>
#include <regex>

#include "CheckerHelper.h"

namespace {

std::vector<std::string> TokenIteratorPieces(const std::string& text, const std::string& pattern) {
  const std::regex expression(pattern, std::regex::ECMAScript);
  std::vector<std::string> pieces;
  for (std::sregex_token_iterator it(text.begin(), text.end(), expression, -1), end; it != end;
       ++it) {
    pieces.push_back(it->str());
  }
  return pieces;
}

// Texts made mostly of separators of every kind, so that runs, leading and trailing separators
// and empty texts all come up often; bytes above 127 and NUL among them.
std::vector<std::string> GeneratedTexts(size_t count) {
  static const char kAlphabet[] = {'\n', '\t', '/', ' ',    ' ',    '\v', '\f', '\r', 'a',
                                   'b',  'i',  ':', '\xa0', '\x85', '\0', '-',  '\\', '.'};
  std::mt19937 random(20240611);
  std::uniform_int_distribution<size_t> length(0, 24);
  std::uniform_int_distribution<size_t> letter(0, sizeof kAlphabet - 1);
  std::vector<std::string> texts;
  for (size_t index = 0; index < count; ++index) {
    std::string text(length(random), ' ');
    for (char& c : text) {
      c = kAlphabet[letter(random)];
    }
    texts.push_back(text);
  }
  return texts;
}

void ExpectSameAsTokenIterator(const std::string& pattern) {
  for (const std::string& text : GeneratedTexts(20000)) {
    ASSERT_EQ(CheckerHelper::SplitString(text, pattern), TokenIteratorPieces(text, pattern))
        << "pattern " << pattern << ", text of " << text.size() << " bytes";
  }
}

TEST(SplitEquivalence, LineFeed) { ExpectSameAsTokenIterator("\n"); }

TEST(SplitEquivalence, Tab) { ExpectSameAsTokenIterator("\t"); }

TEST(SplitEquivalence, Slash) { ExpectSameAsTokenIterator("/"); }

TEST(SplitEquivalence, WhitespaceRuns) { ExpectSameAsTokenIterator("(\\s+)"); }

// "\s" follows the global locale; where another one is installed, the hand splitting follows it
// as the regex library does.
TEST(SplitEquivalence, WhitespaceRunsUnderAnotherGlobalLocale) {
  for (const char* name : {"C.UTF-8", "en_US.UTF-8", "en_US.ISO-8859-1"}) {
    try {
      std::locale::global(std::locale(name));
    } catch (const std::runtime_error&) {
      continue;
    }
    ExpectSameAsTokenIterator("(\\s+)");
  }
  std::locale::global(std::locale::classic());
}

}  // namespace
