// The directly written JSON texts against json-c writing the same values, on many generated
// inputs: every byte in strings, nested objects, names given twice and damaged texts.
#include <gtest/gtest.h>
#include <json-c/json.h>

#include <map>
#include <random>

#include "JsonText.h"
#include "ProductMap.h"
#include "TestSupport.h"
#include "zorvex_checker.h"

namespace {

std::string JsonCText(json_object* value, int flags) {
  const char* text = json_object_to_json_string_ext(value, flags);
  return text != nullptr ? text : "";
}

// json-c's own road: parse the spaced text, write it pretty; "" when it does not parse.
std::string ParsedPretty(const std::string& spaced) {
  json_object* parsed = json_tokener_parse(spaced.c_str());
  std::string pretty = parsed != nullptr ? JsonCText(parsed, JSON_C_TO_STRING_PRETTY) : "";
  json_object_put(parsed);
  return pretty;
}

class Generator {
 public:
  explicit Generator(unsigned seed) : random_(seed) {}

  size_t Below(size_t bound) {
    return std::uniform_int_distribution<size_t>(0, bound - 1)(random_);
  }

  // Bytes of every kind, the ones json-c escapes among them; no NUL unless asked.
  std::string Text(size_t maxLength, bool withNul = false) {
    static const char kCommon[] = "aZ /\\\"\b\f\n\r\t\x01\x1f\x7f\xc3\xa9-:.{}[],";
    std::string text(Below(maxLength + 1), ' ');
    for (char& c : text) {
      c = Below(3) == 0 ? static_cast<char>(Below(256)) : kCommon[Below(sizeof kCommon - 1)];
      if (c == '\0' && !withNul) {
        c = 'n';
      }
    }
    return text;
  }

  // A json-c tree of objects, strings and integers, names drawn from a small set so that a
  // name given again replaces the member as json-c does.
  json_object* Tree(int depth) {
    json_object* object = json_object_new_object();
    const size_t members = Below(depth == 0 ? 2 : 6);
    for (size_t index = 0; index < members; ++index) {
      const std::string name =
          Below(2) == 0 ? Text(6) : std::string(1, static_cast<char>('a' + Below(4)));
      json_object_object_add(object, name.c_str(), Value(depth));
    }
    return object;
  }

 private:
  json_object* Value(int depth) {
    switch (Below(depth > 0 ? 3 : 2)) {
      case 0:
        return json_object_new_string(Text(12).c_str());
      case 1:
        return json_object_new_int64(static_cast<int64_t>(Below(3000)) - 1000);
      default:
        return Tree(depth - 1);
    }
  }

  std::mt19937 random_;
};

TEST(AppendJsonString, EveryByteAsJsonCWritesIt) {
  for (int byte = 1; byte < 256; ++byte) {
    const std::string text = std::string("a") + static_cast<char>(byte) + "b";
    json_object* string = json_object_new_string(text.c_str());
    std::string written;
    AppendJsonString(written, text);
    EXPECT_EQ(written, JsonCText(string, JSON_C_TO_STRING_SPACED)) << "byte " << byte;
    json_object_put(string);
  }
}

TEST(AppendJsonString, GeneratedTextsAndTheCutAtNul) {
  Generator generate(7);
  for (int round = 0; round < 5000; ++round) {
    const std::string text = generate.Text(40, true);
    json_object* string = json_object_new_string(text.c_str());
    std::string written = "kept";
    AppendJsonString(written, text);
    ASSERT_EQ(written, "kept" + JsonCText(string, JSON_C_TO_STRING_SPACED));
    json_object_put(string);
  }
}

TEST(SpacedToPretty, GeneratedTreesAtEveryLevel) {
  Generator generate(11);
  for (int round = 0; round < 3000; ++round) {
    json_object* tree = generate.Tree(4);
    const std::string spaced = JsonCText(tree, JSON_C_TO_STRING_SPACED);
    std::string pretty;
    ASSERT_TRUE(SpacedToPretty(spaced, 0, pretty)) << spaced;
    EXPECT_EQ(pretty, JsonCText(tree, JSON_C_TO_STRING_PRETTY));

    // Nested three levels down, as a member's value is written there.
    json_object* outer = json_object_new_object();
    json_object* middle = json_object_new_object();
    json_object_object_add(outer, "m", middle);
    json_object_object_add(middle, "v", tree);
    const std::string nested = JsonCText(outer, JSON_C_TO_STRING_PRETTY);
    std::string inner;
    ASSERT_TRUE(SpacedToPretty(spaced, 2, inner));
    EXPECT_EQ("{\n  \"m\":{\n    \"v\":" + inner + "\n  }\n}", nested);
    json_object_put(outer);
  }
}

// Whatever it accepts, damaged or not, it writes as json-c's parser and pretty printer would.
TEST(SpacedToPretty, DamagedTextsAreRefusedOrWrittenAsJsonCWould) {
  Generator generate(13);
  int accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    json_object* tree = generate.Tree(3);
    std::string text = JsonCText(tree, JSON_C_TO_STRING_SPACED);
    json_object_put(tree);
    const size_t at = generate.Below(text.size());
    switch (generate.Below(3)) {
      case 0:
        text.resize(at);
        break;
      case 1:
        text[at] = static_cast<char>(generate.Below(256));
        break;
      default:
        text.insert(at, 1, " ,:\"\\u{}0-"[generate.Below(11)]);
    }
    std::string pretty = "kept";
    if (SpacedToPretty(text, 0, pretty)) {
      ++accepted;
      ASSERT_EQ(pretty, "kept" + ParsedPretty(text)) << text;
    } else {
      ASSERT_EQ(pretty, "kept");
    }
  }
  EXPECT_GT(accepted, 0);
}

// Two maps re-indented as they stand give what the text their splicing makes gives; what is
// refused is left to that text.
TEST(SplicedToPretty, AsTheSplicedText) {
  Generator generate(19);
  int accepted = 0;
  const auto check = [&accepted](const std::string& first, const std::string& second) {
    std::string spliced;
    SpliceMap(spliced, first);
    SpliceMap(spliced, second);
    std::string expected = "kept";
    const bool whole = SpacedToPretty(spliced, 1, expected);
    std::string pretty = "kept";
    if (SplicedToPretty(first, second, 1, pretty)) {
      ++accepted;
      ASSERT_TRUE(whole) << first << " + " << second;
      ASSERT_EQ(pretty, expected);
    } else {
      ASSERT_EQ(pretty, "kept");
    }
  };
  for (int round = 0; round < 3000; ++round) {
    json_object* tree = generate.Tree(3);
    const std::string first = JsonCText(tree, JSON_C_TO_STRING_SPACED);
    json_object_put(tree);
    tree = generate.Tree(3);
    // Now and then the same names in both, which the parser folds.
    const std::string second = round % 5 == 0 ? first : JsonCText(tree, JSON_C_TO_STRING_SPACED);
    json_object_put(tree);
    check(first, second);
  }
  EXPECT_GT(accepted, 1000);
  for (const char* edge : {"{ }", "{  }", " { \"a\": 1 }", "{ \"a\": 1 } ", "", "{ \"a\": 1, }"}) {
    check(edge, R"({ "b": 2 })");
    check(R"({ "b": 2 })", edge);
  }
}

TEST(SpacedToPretty, RefusesWhatTheParserWouldChange) {
  std::string out;
  // A name given twice: the parser keeps one member, at the first place with the last value.
  EXPECT_FALSE(SpacedToPretty(R"({ "a": 1, "b": 2, "a": 3 })", 0, out));
  // The parser cuts a name at NUL.
  EXPECT_FALSE(SpacedToPretty(R"({ "a\u0000b": 1 })", 0, out));
  // Other types, other spacing, other escapes, trailing text, leading zeros.
  for (const char* text :
       {R"({ "a": [ 1 ] })", R"({ "a": true })", R"({ "a": null })", R"({ "a": 1.5 })",
        R"({ "a": "\u0041" })", R"({ "a": "\u000a" })", R"({ "a": "x/y" })", R"({ "a": 1 } x)",
        R"({ "a": 01 })", R"({ "a": 1,, "b": 2 })", R"({ "a": 1, })", R"({ "a": -0 })", "{ }x",
        ""}) {
    EXPECT_FALSE(SpacedToPretty(text, 0, out)) << text;
  }
  EXPECT_TRUE(out.empty());
  // Blanks between tokens are the parser's to skip, as in two spliced maps.
  for (const char* text : {R"({"a":1,"b":{}})", R"({ "a": 1 , "b": 2 } )", R"(  { "a" :  1 })"}) {
    out.clear();
    EXPECT_TRUE(SpacedToPretty(text, 0, out)) << text;
    EXPECT_EQ(out, ParsedPretty(text));
  }
  out.clear();
  EXPECT_TRUE(SpacedToPretty(R"({ "a": "\u0000\u001f\/", "b": { }, "c": -12 })", 1, out));
  EXPECT_EQ(out, "{\n    \"a\":\"\\u0000\\u001f\\/\",\n    \"b\":{\n    },\n    \"c\":-12\n  }");
}

// Objects past the few names searched in place, a nested one among their members; a name given
// twice anywhere is refused.
TEST(SpacedToPretty, LargeObjectsFindNamesGivenTwice) {
  Generator generate(19);
  for (int round = 0; round < 200; ++round) {
    const size_t members = 17 + generate.Below(60);
    const bool twice = round % 2 == 0;
    const size_t repeated = generate.Below(members - 1);
    std::string text = "{ ";
    for (size_t index = 0; index < members; ++index) {
      const size_t name = twice && index == members - 1 ? repeated : index;
      text += (index > 0 ? ", \"n" : "\"n") + std::to_string(name) + "\": ";
      text += index == members / 2 ? R"({ "n1": 1, "n2": 2 })" : std::to_string(index);
    }
    text += " }";
    std::string out;
    ASSERT_EQ(SpacedToPretty(text, 0, out), !twice) << text;
    EXPECT_EQ(out, twice ? "" : ParsedPretty(text));
  }
}

// The product table through a json-c tree, as the Debian and RPM sources once built it: ordered
// by a std::map of the summaries, whatever order the table gives.
std::string TreeText(const ProductTable& table) {
  std::map<std::string, Product> ordered;
  for (size_t place = 0; place < table.size(); ++place) {
    ordered.emplace(table[place].summary, table[place]);
  }
  std::vector<testsupport::ExpectedProduct> products;
  for (const auto& [summary, product] : ordered) {
    const std::string version(product.version);
    products.push_back(testsupport::ProductMapEntry(summary, std::string(product.packages),
                                                    version.substr(0, version.find('-')), version,
                                                    std::string(product.architecture)));
  }
  return testsupport::ProductMap(products);
}

TEST(ProductTableToText, SameTextAsTheJsonCTree) {
  Generator generate(17);
  for (int round = 0; round < 500; ++round) {
    ProductTable table;
    const size_t products = generate.Below(12);
    // Summaries with NUL now and then: json-c folds those that agree up to it.
    const bool withNul = round % 10 == 0;
    for (size_t index = 0; index < products; ++index) {
      table.Add(generate.Text(10, withNul), generate.Text(8, true), generate.Text(8, true),
                generate.Text(5, true));
    }
    ASSERT_EQ(ProductMap(table).Text(), TreeText(table));
  }
}

// Many summaries that agree over long beginnings, some only up to where one of them ends.
TEST(ProductTableToText, LongSharedBeginnings) {
  Generator generate(23);
  for (int round = 0; round < 40; ++round) {
    const std::string shared = generate.Text(40, round % 4 == 0);
    ProductTable table;
    for (size_t index = generate.Below(400); index > 0; --index) {
      table.Add(shared.substr(0, generate.Below(shared.size() + 1)) +
                    std::string(generate.Below(20), 'a') + generate.Text(3, round % 4 == 0),
                generate.Text(8), "1.0-1", "amd64");
    }
    ASSERT_EQ(ProductMap(table).Text(), TreeText(table));
  }
}

TEST(ProductTableToText, EmptyTableIsTheEmptyObject) {
  EXPECT_EQ(ProductMap(ProductTable()).Text(), "{ }");
}

// The report as json-c's parser and pretty printer make it, for the chosen text and command.
std::string ParsedReport(const std::string& chosen, const std::string& command) {
  return testsupport::PrettyReportOfText(command, chosen);
}

TEST(AssembleReport, SameReportAsParsingTheChosenText) {
  Generator generate(19);
  const SourceResult skipped{"Obtaining information about products installed by RPM is skipped.",
                             false};
  for (int round = 0; round < 300; ++round) {
    json_object* installerTree = generate.Tree(3);
    json_object* debianTree = generate.Tree(3);
    const SourceResult installer{JsonCText(installerTree, JSON_C_TO_STRING_SPACED), true};
    const SourceResult debian{JsonCText(debianTree, JSON_C_TO_STRING_SPACED), true};
    json_object_put(installerTree);
    json_object_put(debianTree);
    if (installer.text == "{ }" || debian.text == "{ }") {
      continue;
    }
    std::string report;
    AssembleReport(installer, debian, skipped, 0, report);
    // The merge may give a name twice; the parser's rules then decide.
    const std::string merged =
        installer.text.substr(0, installer.text.size() - 1) + "," + debian.text.substr(1);
    ASSERT_EQ(report,
              ParsedReport(merged, "Parse installed zorvex caches and installed dpkg packages"));
    AssembleReport(skipped, debian, skipped, 0, report);
    ASSERT_EQ(report, ParsedReport(debian.text, "Parse installed dpkg packages"));
  }
}

TEST(AssembleReport, TextThatDoesNotParseGivesNull) {
  const SourceResult broken{"{ \"a\": ", true};
  const SourceResult none{"", false};
  std::string report;
  EXPECT_EQ(AssembleReport(none, broken, none, 0, report), 0);
  EXPECT_EQ(report, ParsedReport(broken.text, "Parse installed dpkg packages"));
  EXPECT_NE(report.find("\"Value\":null"), std::string::npos);
}

// What failed in a run is carried in either form as the node's message, with "ERROR", and makes
// the status 3, whatever other words the report holds; without failures nothing changes.
TEST(AssembleReport, FailuresGiveTheMessageAndStatus3InEitherForm) {
  const SourceResult map{"{ \"WARNING product\": { \"RetVal\": \"INFO\", \"Value\": { } } }", true};
  const SourceResult none{"", false};
  const std::string failures = "first failure\nsecond failure\n";
  const std::string message =
      "ERROR: Not every source of products could be read; what they hold is missing here.\n"
      "first failure\nsecond failure";
  const struct {
    const SourceResult& debian;
    std::string withFailures;
    std::string without;
  } forms[] = {
      {map, testsupport::PrettyReportOfText("Parse installed dpkg packages", map.text, message),
       testsupport::PrettyReportOfText("Parse installed dpkg packages", map.text)},
      {none, testsupport::PrettyNothingFoundReport("", message),
       testsupport::PrettyNothingFoundReport("")},
  };
  for (const auto& form : forms) {
    std::string report;
    EXPECT_EQ(AssembleReport(none, form.debian, none, 0, report, failures), 3);
    EXPECT_EQ(report, form.withFailures);
    EXPECT_EQ(AssembleReport(none, form.debian, none, 0, report), 0);
    EXPECT_EQ(report, form.without);
  }
}

// The fixed report handed on when memory runs out is the one json-c writes for its text.
TEST(MessageReport, FixedOutOfMemoryReportIsTheWrittenOne) {
  EXPECT_EQ(MessageReport(kOutOfMemoryMessage), kOutOfMemoryReport);
}

}  // namespace
