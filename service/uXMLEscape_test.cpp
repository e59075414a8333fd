#include "service/uXMLEscape.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>

namespace dct {
namespace {

TEST(XMLEscapeTest, TextEscapesMarkupAndMendsWhatXMLCannotCarry) {
  struct TCase {
    std::string in, text, Attr;
  };
  const TCase cases[] = {
      {"a&b<c>d", "a&amp;b&lt;c&gt;d", "a&amp;b&lt;c&gt;d"},
      {"q\"'", "q\"'", "q&quot;'"},
      {"l1\r\nl2", "l1&#13;\nl2", "l1&#13;&#10;l2"},
      {"\t", "\t", "&#9;"},
      {std::string("\x01\x1f", 2), "\uFFFD\uFFFD", "\uFFFD\uFFFD"},
      {"a\xC3", "a\uFFFD", "a\uFFFD"},
      {"<\xED\xA0\x80>", "&lt;\uFFFD\uFFFD\uFFFD&gt;", "&lt;\uFFFD\uFFFD\uFFFD&gt;"},
      {"Привет, ёж", "Привет, ёж", "Привет, ёж"},
      {"", "", ""},
  };
  for (const TCase& c : cases) {
    std::string text, attr;
    AppendXMLText(text, c.in);
    AppendXMLAttr(attr, c.in);
    EXPECT_EQ(text, c.text) << c.in;
    EXPECT_EQ(attr, c.Attr) << c.in;
    EXPECT_EQ(EscapedXMLTextSize(c.in), text.size()) << c.in;
  }
  EXPECT_EQ(HTMLEscape("<a href='x'>\"&"), "&lt;a href=&#39;x&#39;&gt;&quot;&amp;");
  EXPECT_EQ(HTMLEscape("\xFF<"), "\uFFFD&lt;");
}

// What a standard XML reader gets back is exactly the text, CR and LF included.
TEST(XMLEscapeTest, ReaderGetsTheTextBack) {
  std::string value;
  for (int c = 0x20; c < 0x7f; ++c) value += static_cast<char>(c);
  value += "\r\n\r\t\nЖ]]>";
  std::string doc = "<r a=\"";
  AppendXMLAttr(doc, value);
  doc += "\">";
  AppendXMLText(doc, value);
  doc += "</r>";
  pugi::xml_document parsed;
  ASSERT_TRUE(parsed.load_string(doc.c_str(), pugi::parse_default));
  EXPECT_EQ(std::string(parsed.child("r").child_value()), value);
  EXPECT_EQ(std::string(parsed.child("r").attribute("a").value()), value);
}

}  // namespace
}  // namespace dct
