// The host's version order against the real package managers: every pair, hand-picked and
// generated, must order as `dpkg --compare-versions` and rpm's own rpm.vercmp order it, and be
// refused where they refuse it.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "TestSupport.h"
#include "VersionCompare.h"

namespace {

using Pair = std::pair<std::string, std::string>;

// Epochs, tildes, carets, revisions, letters against digits, leading zeros, product texts.
const Pair kHandPicked[] = {
    {"1.0", "1.0"},
    {"1.0", "1.0.0"},
    {"1.0~rc1", "1.0"},
    {"1.0~~", "1.0~"},
    {"1.0~", "1.0"},
    {"1.0~rc1-1", "1.0-1"},
    {"1.0^1", "1.0"},
    {"1.0^", "1.0~"},
    {"1:1.0", "2.0"},
    {"0:1.0", "1.0"},
    {"2:0.1", "1:9.9"},
    {"01:1", "1:1"},
    {"1.0-1", "1.0"},
    {"1.0-0", "1.0"},
    {"1.0-1", "1.0-2"},
    {"1.0-1.1", "1.0-1a"},
    {"1.0-a", "1.0-1"},
    {"1.0a", "1.0"},
    {"1.0a", "1.0.1"},
    {"1.0.a", "1.0.1"},
    {"a", "1"},
    {"abc", "abd"},
    {"1.01", "1.1"},
    {"1.010", "1.9"},
    {"007", "7"},
    {"1.0+b1", "1.0"},
    {"1.0+b1", "1.0.1"},
    {"1.0-1+b1", "1.0-1"},
    {"2024.2", "2024.10"},
    {"2024.2.1-118", "2024.10"},
    {"2024.2 Update 1", "2024.10"},
    {"2024.2 Update 1", "2024.2 Update 2"},
    {"2024.2.0-95", "2024.2.1-118"},
    {"2024.2", "2024.2 Update 1"},
    {"1:3.4-2", "1:3.4-10"},
    {"1:3.4-2", "3.5"},
    {"1.0-", "1.0"},
    {"1:", "1"},
    {":1", "1"},
    {"", "1"},
    {" 1.0 ", "1.0"},
    {"1.0-1-2", "1.0-1"},
    {"1:2:3", "1:2"},
    {"a:1", "1"},
    {"99999999999999999999:1", "1:1"},
    {"2147483647:1", "1:1"},
    {"2147483648:1", "1:1"},
    {"1.0_x", "1.0"},
    {"1..0", "1.0"},
    {"1.0.", "1.0"},
    {"10000000000000000000001", "10000000000000000000002"},
    {"1.0-~", "1.0"},
    {"1.0", "1.0-~1"},
    {"1-2-3", "1-2"},
    {"+1:1", "1:1"},
    {"1.0", "1.0-"},
    {"-", "1"},
    {"1:-", "1:"},
};

// Pieces that the generator strings together: separators, letters, digits with and without
// leading zeros, tildes, carets, an epoch or a revision.
std::vector<Pair> GeneratedPairs(size_t count) {
  const std::vector<std::string> pieces = {
      "0", "1", "2", "9", "10", "01", "007", "a",  "b",  "z",         "A",          "rc",
      ".", "+", "~", "^", "-",  "-1", ":",   "1:", "2:", " Update 1", " Update 12", "_"};
  std::mt19937 random(20240521);
  const auto version = [&]() {
    std::string text;
    const size_t length = 1 + random() % 5;
    for (size_t index = 0; index < length; ++index) {
      text += pieces[random() % pieces.size()];
    }
    return text;
  };
  std::vector<Pair> pairs;
  while (pairs.size() < count) {
    const std::string a = version();
    // Half the pairs share a stem, so that the comparison reaches past the first piece.
    const std::string b = random() % 2 == 0 ? a + version() : version();
    pairs.emplace_back(random() % 2 == 0 ? a : b, random() % 2 == 0 ? b : a);
  }
  return pairs;
}

std::vector<Pair> AllPairs() {
  std::vector<Pair> pairs(std::begin(kHandPicked), std::end(kHandPicked));
  const std::vector<Pair> generated = GeneratedPairs(250);
  pairs.insert(pairs.end(), generated.begin(), generated.end());
  return pairs;
}

// "-1", "0", "1" for an order, "x" for a refusal.
std::string Word(const std::optional<int>& order) {
  return order ? std::to_string((*order > 0) - (*order < 0)) : "x";
}

// One line per pair from one shell run: dpkg's "lt" and "eq" answers, 2 when it refuses.
std::vector<std::string> DpkgOrders(const std::vector<Pair>& pairs) {
  std::string script;
  for (const auto& [a, b] : pairs) {
    script += "dpkg --compare-versions -- '" + a + "' lt '" + b + "' 2>/dev/null; l=$?; " +
              "dpkg --compare-versions -- '" + a + "' eq '" + b + "' 2>/dev/null; e=$?; " +
              "if [ $l = 2 ]; then echo x; elif [ $l = 0 ]; then echo -1; " +
              "elif [ $e = 0 ]; then echo 0; else echo 1; fi\n";
  }
  const testsupport::TempDir dir;
  std::string output;
  EXPECT_EQ(testsupport::Shell("sh '" + dir.Write("pairs.sh", script) + "'", &output), 0);
  std::vector<std::string> words;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    words.push_back(line);
  }
  return words;
}

// rpm's Lua rpm.vercmp parses both texts as [epoch:]version[-release], as rpm does for packages;
// it raises an error for a text it refuses.
std::vector<std::string> RpmOrders(const std::vector<Pair>& pairs) {
  const testsupport::TempDir dir;
  std::string list;
  for (const auto& [a, b] : pairs) {
    list += a + "\t" + b + "\n";
  }
  const std::string file = dir.Write("pairs.tsv", list);
  std::string output;
  EXPECT_EQ(testsupport::Shell("rpm --eval '%{lua: for line in io.lines(\"" + file +
                                   "\") do local a, b = line:match(\"^(.*)\\t(.*)$\"); "
                                   "local ok, r = pcall(rpm.vercmp, a, b); "
                                   "print((ok and tostring(r) or \"x\") .. \"\\n\") end}'",
                               &output),
            0);
  std::vector<std::string> words;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) {
      words.push_back(line);
    }
  }
  return words;
}

TEST(VersionOrderTest, AgreesWithDpkg) {
  const std::vector<Pair> pairs = AllPairs();
  ASSERT_GE(pairs.size(), 200u);
  const std::vector<std::string> expected = DpkgOrders(pairs);
  ASSERT_EQ(expected.size(), pairs.size());
  for (size_t index = 0; index < pairs.size(); ++index) {
    const auto& [a, b] = pairs[index];
    EXPECT_EQ(Word(CompareDpkgVersions(a, b)), expected[index])
        << "\"" << a << "\" \"" << b << "\"";
  }
}

TEST(VersionOrderTest, AgreesWithRpm) {
  const std::vector<Pair> pairs = AllPairs();
  const std::vector<std::string> expected = RpmOrders(pairs);
  ASSERT_EQ(expected.size(), pairs.size());
  for (size_t index = 0; index < pairs.size(); ++index) {
    const auto& [a, b] = pairs[index];
    EXPECT_EQ(Word(CompareRpmVersions(a, b)), expected[index]) << "\"" << a << "\" \"" << b << "\"";
  }
}

}  // namespace
