#include "values/uXMLEncoder.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace dct {

// Readable failure messages: kind code and text, arrays as nested lists.
void PrintTo(const Variant& v, std::ostream* os) {
  if (!v.IsArray()) {
    *os << v.VarType() << ":" << (v.IsNull() ? "null" : v.ToText());
    return;
  }
  *os << "[";
  if (v.DimCount() == 2) {
    for (int i = v.LowBound(1); i <= v.HighBound(1); ++i) {
      *os << "(";
      for (int j = v.LowBound(2); j <= v.HighBound(2); ++j) {
        PrintTo(v.At(i, j), os);
        *os << " ";
      }
      *os << ")";
    }
  } else {
    for (int i = v.LowBound(1); i <= v.HighBound(1); ++i) {
      PrintTo(v.At(i), os);
      *os << " ";
    }
  }
  *os << "]";
}

namespace {

Variant Str(const char* s) { return Variant::FromString(s); }
Variant Dbl(double d) { return Variant::FromDouble(d); }

Variant OneCell(Variant v) {
  Variant t = Variant::CreateArray({{0, 0}, {0, 0}});
  t.Put(0, 0, std::move(v));
  return t;
}

// One element as any XML parser sees it, in document order.
struct TRow {
  std::string Name, Parent, T, R, C, Text;
  bool operator==(const TRow&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TRow& r) {
  return os << r.Name << "<" << r.Parent << "> t=" << r.T << " r=" << r.R << " c=" << r.C << " [" << r.Text
            << "]";
}

std::vector<TRow> ElementRows(const std::string& xml) {
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_string(xml.c_str()));
  std::vector<TRow> rows;
  struct TWalker : pugi::xml_tree_walker {
    std::vector<TRow>* Rows;
    bool for_each(pugi::xml_node& n) override {
      if (n.type() == pugi::node_element)
        Rows->push_back({n.name(), n.parent().name(), n.attribute("t").value(), n.attribute("r").value(),
                         n.attribute("c").value(), n.child_value()});
      return true;
    }
  } walker;
  walker.Rows = &rows;
  doc.traverse(walker);
  return rows;
}

// The one element of <sa>inner</sa>.
Variant DecodeOne(TXMLEncoder& enc, const std::string& inner) {
  Variant v = enc.Decode("<sa>" + inner + "</sa>");
  EXPECT_EQ(v.Length(1), 1);
  return v.At(0);
}

TEST(XMLEncoder, WorkedExample) {
  Variant table = Variant::CreateArray({{0, 1}, {0, 1}});
  table.Put(0, 0, Str("x"));
  table.Put(0, 1, Variant::FromByte(1));
  table.Put(1, 0, Str("y"));
  Variant value = Variant::ArrayOf({Dbl(2.5), Str("abc"), Variant::FromBoolean(true), table});

  TXMLEncoder enc;
  std::string xml = enc.Encode(value);
  std::vector<TRow> expected = {
      {"sa", "", "", "", "", ""},        {"elm", "sa", "N", "", "", "2.5"},
      {"elm", "sa", "S", "", "", "abc"}, {"elm", "sa", "B", "", "", "True"},
      {"elm", "sa", "A", "2", "2", ""},  {"elm", "elm", "S", "", "", "x"},
      {"elm", "elm", "N", "", "", "1"},  {"elm", "elm", "S", "", "", "y"},
      {"elm", "elm", "U", "", "", ""},
  };
  EXPECT_EQ(ElementRows(xml), expected);
  pugi::xml_document doc;
  doc.load_string(xml.c_str(), pugi::parse_default | pugi::parse_declaration);
  EXPECT_STREQ(doc.first_child().attribute("version").value(), "1.0");
  EXPECT_STREQ(doc.first_child().attribute("encoding").value(), "UTF-8");
  EXPECT_TRUE(xml.ends_with("\r\n"));
  EXPECT_TRUE(doc.child("sa").last_child().last_child().first_child().empty());  // U: no content

  Variant back = enc.Decode(xml);
  Variant expectedBack = value;
  expectedBack.Ref(3).Put(0, 1, Dbl(1));  // the byte comes back as a double
  EXPECT_EQ(back, expectedBack);
}

TEST(XMLEncoder, EncodeGivesEmptyTextForScalars) {
  TXMLEncoder enc;
  EXPECT_EQ(enc.Encode(Variant()), "");
  EXPECT_EQ(enc.Encode(Str("abc")), "");
  EXPECT_EQ(enc.Encode(Dbl(1)), "");
}

TEST(XMLEncoder, EncodeShapes) {
  TXMLEncoder enc;
  EXPECT_EQ(ElementRows(enc.Encode(Variant::CreateArray({{0, -1}}))),
            (std::vector<TRow>{{"sa", "", "", "", "", ""}}));

  Variant noRows = Variant::ArrayOf({Variant::CreateArray({{0, -1}, {0, 2}})});
  std::string xml = enc.Encode(noRows);
  EXPECT_EQ(ElementRows(xml),
            (std::vector<TRow>{{"sa", "", "", "", "", ""}, {"elm", "sa", "A", "0", "3", ""}}));
  Variant back = enc.Decode(xml).At(0);
  EXPECT_EQ(back.DimCount(), 2);
  EXPECT_EQ(back.HighBound(1), -1);
  EXPECT_EQ(back.HighBound(2), 2);

  EXPECT_THROW(enc.Encode(Variant::CreateArray({{0, 0}, {0, 0}})), EVariantError);
}

TEST(XMLEncoder, ScalarTextForms) {
  struct {
    Variant Value;
    const char* T;
    const char* Text;
  } cases[] = {
      {Dbl(0.1), "N", "0.1"},
      {Dbl(0.00001), "N", "1E-5"},
      {Dbl(-12.5), "N", "-12.5"},
      {Variant::FromCurrency(Currency{1234500}), "N", "123.45"},
      {Variant::FromInteger(-7), "N", "-7"},
      {Variant::FromSmallint(300), "N", "300"},
      {Variant::FromSingle(0.25f), "N", "0.25"},
      {Variant::FromDate(EncodeDateTime(2015, 2, 10, 13, 5, 9, 999)), "D", "2015.02.10 13:05:09"},
      {Variant::FromBoolean(false), "B", "False"},
      {Variant::MakeNull(), "U", ""},
      {Str(""), "S", ""},
  };
  TXMLEncoder enc;
  for (const auto& c : cases) {
    std::vector<TRow> rows = ElementRows(enc.Encode(Variant::ArrayOf({c.Value})));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].T, c.T) << c.Text;
    EXPECT_EQ(rows[1].Text, c.Text);
  }
  EXPECT_THROW(enc.Encode(Variant::ArrayOf({Dbl(std::numeric_limits<double>::infinity())})), EVariantError);
}

TEST(XMLEncoder, RoundTripChangesOnlyWhatTheFormatDrops) {
  Variant lowOne = Variant::CreateArray({{1, 2}});
  lowOne.Put(1, Str("a"));
  lowOne.Put(2, Str("b"));
  Variant value = Variant::ArrayOf({
      Variant::FromByte(200),
      Variant::FromSmallint(-3),
      Variant::FromCurrency(Currency{-1234567}),
      Variant::FromDate(EncodeDateTime(2015, 2, 10, 13, 5, 9, 750)),
      Variant::MakeNull(),
      lowOne,
      Str("line1\nline2\n"),
      Str("Молоко & <сливки> \"3.2%\""),
  });
  Variant expected = Variant::ArrayOf({
      Dbl(200),
      Dbl(-3),
      Dbl(-123.4567),
      Variant::FromDate(EncodeDateTime(2015, 2, 10, 13, 5, 9)),
      Variant(),
      Variant::ArrayOf({Str("a"), Str("b")}),
      Str("line1\nline2\n"),
      Str("Молоко & <сливки> \"3.2%\""),
  });
  TXMLEncoder enc;
  std::string xml = enc.Encode(value);
  EXPECT_NE(xml.find("line1\r\nline2\r\n"), std::string::npos);
  EXPECT_EQ(xml.find("line1\nline2"), std::string::npos);
  EXPECT_EQ(enc.Decode(xml), expected);
}

// Strings that no client can send may still come from the store (written by hand or by an
// older build): the text written for them is well-formed, each bad stretch one U+FFFD, and
// the rest of the string kept.
TEST(XMLEncoder, WhatXMLCannotCarryIsWrittenAsReplacementCharacters) {
  const struct {
    std::string stored, Written;
  } cases[] = {
      {"a\x80z", "a\uFFFDz"},
      {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
      {"ab\xC3", "ab\uFFFD"},
      {"x\x01y\x1Fz", "x\uFFFDy\uFFFDz"},
      {"<\xEF\xBF\xBE>", "&lt;\uFFFD&gt;"},
      {"Ж\xE2\x82\r\n", "Ж\uFFFD\r\n"},
  };
  TXMLEncoder enc;
  for (const auto& c : cases) {
    std::string text = enc.Encode(Variant::ArrayOf({Variant::FromString(c.stored)}));
    EXPECT_EQ(text,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><sa><elm t=\"S\">" + c.Written + "</elm></sa>\r\n");
    EXPECT_NO_THROW(enc.Decode(text)) << text;
  }
}

TEST(XMLEncoder, DecodeDocumentLevel) {
  TXMLEncoder enc;
  EXPECT_TRUE(enc.Decode("").IsEmpty());
  Variant none = enc.Decode("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<sa/>\r\n");
  EXPECT_EQ(none.DimCount(), 1);
  EXPECT_EQ(none.HighBound(1), -1);
  // Names play no part, only positions.
  EXPECT_EQ(enc.Decode("<root x=\"1\"><a t=\"N\">1</a><b t=\"S\">z</b></root>"),
            Variant::ArrayOf({Dbl(1), Str("z")}));
  // A BOM, comments and processing instructions around or between elements are allowed.
  EXPECT_EQ(
      enc.Decode(
          "\xEF\xBB\xBF<?xml version=\"1.0\"?><!--&--><sa><!--c--><?pi x?><elm t=\"N\">1</elm></sa><!--e-->"),
      Variant::ArrayOf({Dbl(1)}));
  // Stray text among the children takes a position and reads as Empty.
  EXPECT_EQ(enc.Decode("<sa>junk<elm t=\"N\">1</elm>more</sa>"),
            Variant::ArrayOf({Variant(), Dbl(1), Variant()}));
}

struct TDecodeCase {
  const char* Inner;                // one element inside <sa>
  std::optional<Variant> Expected;  // nothing: Decode must raise
};

void CheckDecodeTable(const std::vector<TDecodeCase>& cases) {
  TXMLEncoder enc;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Inner);
    if (c.Expected) {
      EXPECT_EQ(DecodeOne(enc, c.Inner), *c.Expected);
    } else {
      EXPECT_THROW(enc.Decode(std::string("<sa>") + c.Inner + "</sa>"), EXMLDecodeError);
    }
  }
}

TEST(XMLEncoder, DecodeScalars) {
  TDateTime midnight = EncodeDateTime(2015, 2, 10);
  CheckDecodeTable({
      {"<elm t=\"N\"> 2.5 </elm>", Dbl(2.5)},
      {"<elm t=\"N\">1e3</elm>", Dbl(1000)},
      {"<elm t=\"n\">-4</elm>", Dbl(-4)},
      {"<elm t=\"N\"><![CDATA[7]]></elm>", Dbl(7)},
      {"<elm t=\"N\">1,5</elm>", std::nullopt},
      {"<elm t=\"N\"></elm>", std::nullopt},
      {"<elm t=\"N\"/>", std::nullopt},
      {"<elm t=\"N\">   </elm>", std::nullopt},
      {"<elm t=\"N\">-</elm>", std::nullopt},
      {"<elm t=\"N\">1e999</elm>", std::nullopt},
      {"<elm t=\"B\">1</elm>", Variant::FromBoolean(true)},
      {"<elm t=\"B\">TRUE</elm>", Variant::FromBoolean(true)},
      {"<elm t=\"b\">-0.5</elm>", Variant::FromBoolean(true)},
      {"<elm t=\"B\">0</elm>", Variant::FromBoolean(false)},
      {"<elm t=\"B\">false</elm>", Variant::FromBoolean(false)},
      {"<elm t=\"B\">yes</elm>", std::nullopt},
      {"<elm t=\"B\"/>", std::nullopt},
      {"<elm t=\"D\">2015.02.10</elm>", Variant::FromDate(midnight)},
      {"<elm t=\"d\">2015.02.10 10:30:15</elm>", Variant::FromDate(EncodeDateTime(2015, 2, 10, 10, 30, 15))},
      {"<elm t=\"D\">2015.2.1 7:05</elm>", Variant::FromDate(EncodeDateTime(2015, 2, 1, 7, 5))},
      {"<elm t=\"D\">2015.02.30 10:00:00</elm>", std::nullopt},
      {"<elm t=\"D\">2015.02.10 24:00:00</elm>", std::nullopt},
      {"<elm t=\"D\">10.02.2015</elm>", std::nullopt},
      {"<elm t=\"D\">2015-02-10</elm>", std::nullopt},
      {"<elm t=\"D\">2015.02.10 10:00:00.5</elm>", std::nullopt},
      {"<elm t=\"D\"></elm>", std::nullopt},
      {"<elm t=\"S\"/>", Str("")},
      {"<elm t=\"S\">   </elm>", Str("")},
      {"<elm t=\"s\">a\tb</elm>", Str("a\tb")},
      {"<elm t=\"S\"><![CDATA[a<&>b]]></elm>", Str("a<&>b")},
      {"<elm t=\"S\">&amp;&lt;&gt;&quot;&apos;&#65;&#x42;&#x41f;</elm>", Str("&<>\"'ABП")},
      {"<elm t=\"S\">a\r\nb\rc</elm>", Str("a\nb\nc")},           // line breaks read as LF
      {"<elm t=\"S\">a&#13;&#10;b&#13;</elm>", Str("a\r\nb\r")},  // a CR sent as a reference stays
      {"<elm t=\"S\">a<elm/></elm>", std::nullopt},
      {"<elm t=\"S\"><elm t=\"S\">a</elm></elm>", std::nullopt},
      {"<elm t=\"S\">a<!--c-->b</elm>", std::nullopt},
      {"<elm t=\"S\"><!--c--></elm>", std::nullopt},
      {"<elm t=\"S\">a<?pi?></elm>", std::nullopt},
      {"<elm t=\"S\">a<![CDATA[b]]></elm>", std::nullopt},
      {"<elm t=\"X\">1</elm>", Variant()},
      {"<elm t=\"\">1</elm>", Variant()},
      {"<elm t=\"SS\">1</elm>", Variant()},
      {"<elm>1</elm>", Variant()},
      {"<elm><elm t=\"N\">x</elm><!--c--></elm>", Variant()},  // Empty: content not examined
  });
}

TEST(XMLEncoder, DecodeArrays) {
  CheckDecodeTable({
      {"<elm t=\"A\" r=\"2\" c=\"0\"><elm t=\"N\">1</elm><elm t=\"N\">2</elm><elm t=\"N\">3</elm></elm>",
       Variant::ArrayOf({Dbl(1), Dbl(2)})},
      {"<elm t=\"A\" r=\"2\" c=\"0\"><elm t=\"N\">1</elm></elm>", std::nullopt},
      {"<elm t=\"A\" c=\"0\"><elm t=\"N\">1</elm></elm>", std::nullopt},
      {"<elm t=\"A\" r=\"abc\"><elm t=\"N\">1</elm></elm>", Variant::CreateArray({{0, -1}})},
      {"<elm t=\"A\" r=\"-1\" c=\"0\"/>", std::nullopt},
      {"<elm t=\"a\" r=\" 1 \"><x t=\"S\">q</x></elm>",
       Variant::ArrayOf({Str("q")})},  // c missing: one dimension
      {"<elm t=\"A\" r=\"1\" c=\"z\"><elm t=\"N\">5</elm></elm>", Variant::ArrayOf({Dbl(5)})},
      {"<elm t=\"A\" r=\"1\" c=\"-3\"><elm t=\"N\">5</elm></elm>", Variant::ArrayOf({Dbl(5)})},
      {"<elm t=\"A\" r=\"1\" c=\"0\"><!--skipped--><elm t=\"N\">5</elm></elm>", Variant::ArrayOf({Dbl(5)})},
      {"<elm t=\"A\" r=\"2\" c=\"0\">text<elm t=\"N\">5</elm></elm>", Variant::ArrayOf({Variant(), Dbl(5)})},
      {"<elm t=\"A\" r=\"99999999999\" c=\"0\"/>",
       Variant::CreateArray({{0, -1}})},  // not 32-bit: counts as 0
      {"<elm t=\"A\" r=\"+-1\" c=\"0\"/>", Variant::CreateArray({{0, -1}})},
      {"<elm t=\"A\" r=\"+1\" c=\"+1\"><elm t=\"N\">5</elm></elm>", OneCell(Dbl(5))},
  });

  // Cells row by row, and a table inside a table.
  TXMLEncoder enc;
  Variant t = DecodeOne(enc,
                        "<elm t=\"A\" r=\"2\" c=\"2\"><elm t=\"S\">a</elm><elm t=\"S\">b</elm>"
                        "<elm t=\"S\">c</elm><elm t=\"A\" r=\"1\" c=\"1\"><elm t=\"N\">9</elm></elm></elm>");
  ASSERT_EQ(t.DimCount(), 2);
  EXPECT_EQ(t.At(0, 1), Str("b"));
  EXPECT_EQ(t.At(1, 0), Str("c"));
  EXPECT_EQ(t.At(1, 1).At(0, 0), Dbl(9));
}

TEST(XMLEncoder, RejectsWhatIsNotWellFormed) {
  const std::string cases[] = {
      "hello",
      "   ",
      "<?xml version=\"1.0\"?>",
      "<sa>",
      "<sa><elm t=\"N\">1</elm>",
      "<sa></sb>",
      "<sa/><sa/>",
      "junk<sa/>",
      "<sa/>junk",
      "<sa/><![CDATA[x]]>",
      " <?xml version=\"1.0\"?><sa/>",
      "<sa/><?xml version=\"1.0\"?>",
      "<sa><elm t=\"S\">&foo;</elm></sa>",
      "<sa><elm t=\"S\">a & b</elm></sa>",
      "<sa><elm t=\"S\">&#;</elm></sa>",
      "<sa><elm t=\"S\">&#0;</elm></sa>",
      "<sa><elm t=\"S\">&#1;</elm></sa>",
      "<sa><elm t=\"S\">&#xD800;</elm></sa>",
      "<sa><elm t=\"S\">&#x110000;</elm></sa>",
      "<sa><elm t=\"S\">&#99999999999999999999;</elm></sa>",
      "<sa><elm t=\"S&bad;\">a</elm></sa>",
      std::string("<sa><elm t=\"S\">a\0b</elm></sa>", 29),
      std::string("<sa/>\0", 6),
      "<sa><elm t=\"S\">a\x01"
      "b</elm></sa>",
      "<sa><elm t=\"S\">a\x1F"
      "b</elm></sa>",
      "<sa><elm t=\"N\" t=\"S\">1</elm></sa>",
      "<sa><elm t=\"S\" x=\"1\" x=\"2\">a</elm></sa>",
      "<sa a=\"1\" b=\"2\" a=\"3\"/>",
      "<sa><elm t=\"S\" a1=\"\" a2=\"\" a3=\"\" a4=\"\" a5=\"\" a6=\"\" a7=\"\" a8=\"\" a9=\"\" "
      "a1=\"\">a</elm></sa>",
      "<sa><1/></sa>",
  };
  TXMLEncoder enc;
  for (const auto& text : cases) EXPECT_THROW(enc.Decode(text), EXMLDecodeError) << text;
}

TEST(XMLEncoder, RefusesDoctypeWithoutExpandingIt) {
  const std::string laughs =
      "<?xml version=\"1.0\"?><!DOCTYPE sa [<!ENTITY a \"aaaaaaaaaa\">"
      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
      "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]><sa><elm t=\"S\">&d;</elm></sa>";
  const std::string cases[] = {
      "<!DOCTYPE sa><sa/>",
      "<!DOCTYPE sa [<!ENTITY x \"y\">]><sa><elm t=\"S\">&x;</elm></sa>",
      "<!DOCTYPE sa SYSTEM \"file:///etc/passwd\"><sa/>",
      "<sa/><!DOCTYPE sa>",
      "<sa><!DOCTYPE sa></sa>",
      laughs,
  };
  TXMLEncoder enc;
  for (const auto& text : cases) EXPECT_THROW(enc.Decode(text), EXMLDecodeError) << text;
  // '&' is literal text inside CDATA and comments, also after a rejected look-alike.
  EXPECT_EQ(enc.Decode("<sa><!-- &x; --><elm t=\"S\"><![CDATA[&d; &]]></elm></sa>"),
            Variant::ArrayOf({Str("&d; &")}));
}

// Nested <elm t="A" r="1" c="0"> elements, levels deep, around one number.
std::string Nested(int levels) {
  std::string xml = "<sa>";
  for (int k = 0; k < levels; ++k) xml += "<elm t=\"A\" r=\"1\" c=\"0\">";
  xml += "<elm t=\"N\">1</elm>";
  for (int k = 0; k < levels; ++k) xml += "</elm>";
  return xml + "</sa>";
}

TEST(XMLEncoder, NestingIsBounded) {
  TXMLEncoder enc;
  // The top-level array is the first level.
  Variant deepest = enc.Decode(Nested(TXMLEncoder::kMaxNestingDepth - 1));
  EXPECT_THROW(enc.Decode(Nested(TXMLEncoder::kMaxNestingDepth)), EXMLDecodeError);
  EXPECT_THROW(enc.Decode(Nested(200000)), EXMLDecodeError);  // would exhaust the stack

  // The writer refuses what the reader would.
  EXPECT_EQ(enc.Decode(enc.Encode(deepest)), deepest);
  Variant tooDeep = Variant::ArrayOf({deepest});
  EXPECT_THROW(enc.Encode(tooDeep), EVariantError);
}

TEST(XMLEncoder, ShapeIsCheckedBeforeAllocating) {
  // Each needs gigabytes if allocated from r and c alone; 65536 * 65536 wraps to 0 in 32 bits.
  const char* cases[] = {
      "<elm t=\"A\" r=\"2147483647\" c=\"2147483647\"><elm/></elm>",
      "<elm t=\"A\" r=\"65536\" c=\"65536\"/>",
      "<elm t=\"A\" r=\"2000000000\" c=\"0\"><elm/><elm/></elm>",
      "<elm t=\"A\" r=\"1\" c=\"2147483647\"/>",
  };
  TXMLEncoder enc;
  for (const char* inner : cases)
    EXPECT_THROW(enc.Decode(std::string("<sa>") + inner + "</sa>"), EXMLDecodeError) << inner;
  // Zero rows of very many columns needs no cells at all.
  Variant wide = DecodeOne(enc, "<elm t=\"A\" r=\"0\" c=\"2147483647\"/>");
  EXPECT_EQ(wide.Length(1), 0);
  EXPECT_EQ(wide.Length(2), 2147483647);
}

TEST(XMLEncoder, EveryCallStartsAfresh) {
  TXMLEncoder enc;
  EXPECT_THROW(enc.Decode("<sa><elm t=\"N\">x</elm></sa>"), EXMLDecodeError);
  EXPECT_EQ(enc.Decode("<sa><elm t=\"N\">2</elm></sa>"), Variant::ArrayOf({Dbl(2)}));
  EXPECT_THROW(enc.Encode(Variant::ArrayOf({Dbl(1), Dbl(std::nan(""))})), EVariantError);
  std::string xml = enc.Encode(Variant::ArrayOf({Str("only")}));
  EXPECT_EQ(ElementRows(xml),
            (std::vector<TRow>{{"sa", "", "", "", "", ""}, {"elm", "sa", "S", "", "", "only"}}));
  EXPECT_EQ(enc.Decode(xml), Variant::ArrayOf({Str("only")}));
}

}  // namespace
}  // namespace dct
