#include "values/uJSONText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dct {
namespace {

TEST(JSONTextTest, ReadsEveryKindAndKeepsIntegersExact) {
  const TJSONValue v = TJSONValue::Parse(
      " {\"n\": 9007199254740993, \"neg\": -2, \"f\": 1.5e2, \"t\": true, \"z\": null,"
      " \"s\": \"a\\\"\\\\\\/\\n\\u00e9\\ud83d\\ude00\", \"a\": [1, [], {}]} ");
  EXPECT_EQ(v["n"].AsInt64(), 9007199254740993);  // above 2^53: a double would round it
  EXPECT_EQ(v["neg"].AsInt64(), -2);
  EXPECT_DOUBLE_EQ(v["f"].AsDouble(), 150.0);
  EXPECT_TRUE(v["t"].AsBoolean());
  EXPECT_TRUE(v["z"].IsNull());
  EXPECT_EQ(v["s"].AsString(), "a\"\\/\n\xC3\xA9\xF0\x9F\x98\x80");
  ASSERT_EQ(v["a"].AsArray().size(), 3u);
  EXPECT_EQ(v["a"].AsArray()[1].Kind(), TJSONValue::TKind::Array);
  EXPECT_FALSE(v.Has("missing"));
  EXPECT_THROW(v["missing"], EJSONError);
  EXPECT_THROW(v["f"].AsInt64(), EJSONError);
  EXPECT_THROW(v["s"].AsInt64(), EJSONError);
}

TEST(JSONTextTest, RefusesMalformedText) {
  const std::string deep(kMaxJSONDepth + 1, '[');
  for (const std::string& text :
       std::vector<std::string>{"", "{", "[1,]", "{\"a\" 1}", "{a:1}", "01", "1.", "-", "1e", "tru", "\"abc",
                                "\"\\x\"", "\"\\ud800\"", "\"\\udc00x\"", "\"a\tb\"", "1 2", "nul", deep}) {
    EXPECT_THROW(TJSONValue::Parse(text), EJSONError) << text;
  }
}

TEST(JSONTextTest, WrittenStringsReadBack) {
  const std::string original = std::string("q\"b\\ \n\r\t \x01 \x1f ") + "\xD0\x96";
  std::string text;
  AppendJSONString(text, original);
  EXPECT_EQ(text.find('\x01'), std::string::npos);
  EXPECT_EQ(TJSONValue::Parse(text).AsString(), original);
}

}  // namespace
}  // namespace dct
