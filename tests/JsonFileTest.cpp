// Reading JSON files from disk and looking values up by "/"-separated path.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "JsonNode.h"
#include "TestSupport.h"

using testsupport::HangGuard;
using testsupport::TempDir;

namespace {

using Pieces = std::vector<std::string>;

struct JsonDeleter {
  void operator()(json_object* object) const { json_object_put(object); }
};
using JsonPtr = std::unique_ptr<json_object, JsonDeleter>;

std::string Plain(json_object* object) {
  return json_object_to_json_string_ext(object, JSON_C_TO_STRING_PLAIN);
}

std::string Quoted(const char* reason, const std::string& path) {
  return reason + ("\"" + path + "\" \n");
}

// A failing read must leave the output alone and replace the whole message.
class FailedRead : public ::testing::Test {
 protected:
  TempDir dir;
  JsonPtr marker{json_object_new_object()};
  json_object* output = marker.get();
  std::string message = "an earlier message";

  void ExpectFailure(const std::string& path, const std::string& expected) {
    EXPECT_FALSE(JsonNode::ParseFile(path, &output, message));
    EXPECT_EQ(message, expected);
    EXPECT_EQ(output, marker.get());
  }
};

}  // namespace

TEST(ParseFile, ValidJsonGivesTheCallerTheOnlyReference) {
  const TempDir dir;
  const std::string path = dir.Write("m.json", R"({ "a": [1, "two"], "b": { "c": null } })");
  json_object* value = nullptr;
  std::string message = "untouched";
  ASSERT_TRUE(JsonNode::ParseFile(path, &value, message));
  EXPECT_EQ(message, "untouched");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(Plain(value), R"({"a":[1,"two"],"b":{"c":null}})");
  EXPECT_EQ(json_object_put(value), 1);  // 1: this put freed it
}

TEST(ParseFile, TextThatIsNotJsonIsReadAsNull) {
  const TempDir dir;
  for (const char* text : {"{ \"visible\": tru", "<manifest/>", "\n\n  \n"}) {
    json_object* value = json_object_new_object();
    json_object* const earlier = value;
    std::string message = "untouched";
    EXPECT_TRUE(JsonNode::ParseFile(dir.Write("m.json", text), &value, message)) << text;
    EXPECT_EQ(value, nullptr) << text;
    EXPECT_EQ(message, "untouched");
    json_object_put(earlier);
  }
}

TEST(ParseFile, FilesOfWholePagesAndOfTheLargestSizeAreReadToTheirLastByte) {
  const TempDir dir;
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const std::string frame = R"({"k":""})";
  for (const size_t size : {page, 2 * page, size_t{16} << 20}) {
    // The closing characters sit in the last bytes of the file.
    const std::string filler(size - frame.size(), 'x');
    const std::string path = dir.Write("m.json", "{\"k\":\"" + filler + "\"}");
    ASSERT_EQ(testsupport::ReadFile(path).size(), size);
    json_object* value = nullptr;
    std::string message;
    ASSERT_TRUE(JsonNode::ParseFile(path, &value, message)) << size;
    const JsonPtr owned(value);
    ASSERT_NE(value, nullptr) << size;
    EXPECT_EQ(json_object_get_string_len(json_object_object_get(value, "k")),
              static_cast<int>(filler.size()));
  }
}

TEST_F(FailedRead, FileOverSixteenMegabytesIsRefusedUnread) {
  const std::string path = dir / "m.json";
  ASSERT_EQ(truncate(dir.Write("m.json", "{}").c_str(), (off_t{16} << 20) + 1), 0);
  ExpectFailure(path, "File \"" + path + "\" is larger than 16 MiB \n");
}

TEST_F(FailedRead, MissingOrUnreachablePathCannotBeMeasured) {
  const std::string file = dir.Write("file", "{}");
  ExpectFailure(dir / "missing.json",
                Quoted("Cannot obtain length of file ", dir / "missing.json"));
  ExpectFailure(file + "/below", Quoted("Cannot obtain length of file ", file + "/below"));
  ExpectFailure("", Quoted("Cannot obtain length of file ", ""));
}

TEST_F(FailedRead, EmptyFileCannotBeRead) {
  const std::string path = dir.Write("m.json", "");
  ExpectFailure(path, Quoted("Cannot read file ", path));
}

TEST_F(FailedRead, DirectoryAndDeviceCannotBeRead) {
  ExpectFailure(dir.path(), Quoted("Cannot read file ", dir.path()));
  ExpectFailure("/dev/zero", Quoted("Cannot read file ", "/dev/zero"));
}

TEST_F(FailedRead, FifoWithoutWriterFailsInsteadOfWaiting) {
  const std::string path = dir / "m.json";
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
  const HangGuard guard(10);
  ExpectFailure(path, Quoted("Cannot read file ", path));
}

TEST(GetObject, FollowsMemberNamesAndGivesNullWhereAStepFails) {
  const JsonPtr root(json_tokener_parse(
      R"({ "display": { "localized": [1], "count": 2, "none": null }, "": { "x": 3 } })"));
  json_object* localized = JsonNode::GetObject(root.get(), "display/localized");
  ASSERT_NE(localized, nullptr);
  EXPECT_EQ(Plain(localized), "[1]");
  // A trailing "/" adds no component.
  EXPECT_EQ(JsonNode::GetObject(root.get(), "display/localized/"), localized);
  EXPECT_EQ(JsonNode::GetObject(root.get(), "display/missing"), nullptr);
  EXPECT_EQ(JsonNode::GetObject(root.get(), "display/count/deeper"), nullptr);
  EXPECT_EQ(JsonNode::GetObject(root.get(), "display/localized/0"), nullptr);
  EXPECT_EQ(JsonNode::GetObject(root.get(), "display/none"), nullptr);
  EXPECT_EQ(JsonNode::GetObject(root.get(), "display/none/x"), nullptr);
  EXPECT_EQ(JsonNode::GetObject(nullptr, "display"), nullptr);
}

TEST(GetObject, EmptyComponentsNameTheMemberWithTheEmptyName) {
  const JsonPtr withEmpty(json_tokener_parse(R"({ "": { "x": 3 }, "display": {} })"));
  EXPECT_EQ(Plain(JsonNode::GetObject(withEmpty.get(), "")), R"({"x":3})");
  EXPECT_EQ(Plain(JsonNode::GetObject(withEmpty.get(), "/x")), "3");
  const JsonPtr without(json_tokener_parse(R"({ "display": {} })"));
  EXPECT_EQ(JsonNode::GetObject(without.get(), ""), nullptr);
  EXPECT_EQ(JsonNode::GetObject(without.get(), "/display"), nullptr);
}

TEST(SplitString, SlashesKeepInnerEmptyPiecesButNoEmptyLastPiece) {
  EXPECT_EQ(JsonNode::SplitString("display/localized", "/"), (Pieces{"display", "localized"}));
  EXPECT_EQ(JsonNode::SplitString("/display//localized/", "/"),
            (Pieces{"", "display", "", "localized"}));
  EXPECT_EQ(JsonNode::SplitString("", "/"), (Pieces{""}));
  EXPECT_EQ(JsonNode::SplitString("display", "/"), (Pieces{"display"}));
  EXPECT_EQ(JsonNode::SplitString("//", "/"), (Pieces{"", ""}));
}
