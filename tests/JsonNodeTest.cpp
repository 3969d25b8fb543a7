// Report nodes: member order, member types and replacement, seen through json-c's serialiser.
#include <gtest/gtest.h>

#include <memory>

#include "JsonNode.h"

namespace {

struct JsonDeleter {
  void operator()(json_object* object) const { json_object_put(object); }
};
using JsonPtr = std::unique_ptr<json_object, JsonDeleter>;

std::string Plain(json_object* object) {
  return json_object_to_json_string_ext(object, JSON_C_TO_STRING_PLAIN);
}

class JsonNodeBuilding : public ::testing::Test {
 protected:
  JsonPtr parent{json_object_new_object()};
  std::string Text() const { return Plain(parent.get()); }
};

TEST_F(JsonNodeBuilding, ShortFormsWriteRetValThenValueAndVerbosityOnlyWhenSet) {
  JsonNode::AddJsonNode(parent.get(), "text", "INFO", "v");
  JsonNode::AddJsonNode(parent.get(), "detail", "INFO", 1u, "v");
  JsonNode::AddJsonNode(parent.get(), "object", "INFO", json_object_new_object());
  JsonNode::AddJsonNode(parent.get(), "deep", "INFO", 2u, json_object_new_object());
  EXPECT_EQ(Text(), R"({"text":{"RetVal":"INFO","Value":"v"},)"
                    R"("detail":{"Verbosity":1,"RetVal":"INFO","Value":"v"},)"
                    R"("object":{"RetVal":"INFO","Value":{}},)"
                    R"("deep":{"Verbosity":2,"RetVal":"INFO","Value":{}}})");
}

TEST_F(JsonNodeBuilding, GeneralFormOrdersMembersRegardlessOfParameterOrder) {
  JsonNode::AddJsonNode(parent.get(), "n", "FAIL", "why", "what ran", 3u, "payload");
  EXPECT_EQ(Text(), R"({"n":{"Message":"why","Command":"what ran","Verbosity":3,"RetVal":"FAIL",)"
                    R"("Value":"payload"}})");
}

TEST_F(JsonNodeBuilding, EmptyMessageCommandAndZeroVerbosityAreLeftOut) {
  JsonNode::AddJsonNode(parent.get(), "n", "", "", "", 0u, std::string("x"));
  EXPECT_EQ(Text(), R"({"n":{"RetVal":"","Value":"x"}})");
}

TEST_F(JsonNodeBuilding, NullObjectValueIsWrittenAsNull) {
  JsonNode::AddJsonNode(parent.get(), "n", "INFO", "m", "", 0u, static_cast<json_object*>(nullptr));
  JsonNode::AddJsonNode(parent.get(), "short", "INFO", static_cast<json_object*>(nullptr));
  EXPECT_EQ(Text(), R"({"n":{"Message":"m","RetVal":"INFO","Value":null},)"
                    R"("short":{"RetVal":"INFO","Value":null}})");
}

TEST_F(JsonNodeBuilding, UnsignedValuesAre64BitAndVerbosityIs32Bit) {
  JsonNode::AddJsonNode(parent.get(), "max", "INFO", 4294967295u);
  JsonNode::AddJsonNode(parent.get(), "three", "INFO", 3u);
  JsonNode::AddJsonNode(parent.get(), "both", "INFO", 1u, 7u);
  JsonNode::AddJsonNode(parent.get(), "general", "INFO", "", "c", 0u, 5u);
  EXPECT_EQ(Text(), R"({"max":{"RetVal":"INFO","Value":4294967295},)"
                    R"("three":{"RetVal":"INFO","Value":3},)"
                    R"("both":{"Verbosity":1,"RetVal":"INFO","Value":7},)"
                    R"("general":{"Command":"c","RetVal":"INFO","Value":5}})");
  json_object* max = json_object_object_get(json_object_object_get(parent.get(), "max"), "Value");
  EXPECT_EQ(json_object_get_type(max), json_type_int);
  EXPECT_EQ(json_object_get_int64(max), 4294967295LL);
  json_object* verbosity =
      json_object_object_get(json_object_object_get(parent.get(), "both"), "Verbosity");
  EXPECT_EQ(json_object_get_int(verbosity), 1);
}

TEST_F(JsonNodeBuilding, ExistingNameIsReplacedInPlace) {
  JsonNode::AddJsonNode(parent.get(), "first", "INFO", "1");
  JsonNode::AddJsonNode(parent.get(), "second", "INFO", "2");
  JsonNode::AddJsonNode(parent.get(), "first", "INFO", 1u, "3");
  EXPECT_EQ(Text(), R"({"first":{"Verbosity":1,"RetVal":"INFO","Value":"3"},)"
                    R"("second":{"RetVal":"INFO","Value":"2"}})");
}

TEST_F(JsonNodeBuilding, TextsAreTakenUpToTheirFirstNulAndEscapedByJsonC) {
  JsonNode::AddJsonNode(parent.get(), std::string("na\0me", 5), "IN\"FO",
                        std::string("a/b\\c\n\x01\xff\0tail", 11));
  JsonNode::AddJsonNode(parent.get(), "", "", "");
  EXPECT_EQ(Text(),
            "{\"na\":{\"RetVal\":\"IN\\\"FO\",\"Value\":\"a\\/b\\\\c\\n\\u0001\xff\"},"
            "\"\":{\"RetVal\":\"\",\"Value\":\"\"}}");
}

TEST(JsonNodeTop, TopNodeIsTheSingleMemberValue) {
  JsonPtr top(json_object_new_object());
  JsonNode::AddJsonTopNode(top.get(), json_object_new_object());
  EXPECT_EQ(Plain(top.get()), R"({"Value":{}})");
}

}  // namespace
