#include "values/uXMLValueReader.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <charconv>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "values/uXMLEncoder.h"

namespace dct {

void PrintTo(const Variant& v, std::ostream* os);  // uXMLEncoder_test.cpp

namespace {

Variant Str(const char* s) { return Variant::FromString(s); }
Variant Dbl(double d) { return Variant::FromDouble(d); }

// Reads text from a heap block of exactly its size, so that AddressSanitizer catches any read
// past its end (a std::string has a terminator and spare capacity behind it).
Variant Read(std::string_view text) {
  auto block = std::make_unique<char[]>(text.size());
  if (!text.empty()) std::memcpy(block.get(), text.data(), text.size());
  return ReadXMLValue(std::string_view(block.get(), text.size()));
}

struct TCase {
  std::string Text;                 // a whole document
  std::optional<Variant> Expected;  // nothing: refused
};

void CheckTable(const std::vector<TCase>& cases) {
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    if (c.Expected) {
      EXPECT_EQ(Read(c.Text), *c.Expected);
    } else {
      EXPECT_THROW(Read(c.Text), EXMLDecodeError);
    }
  }
}

const Variant kNone = Variant::CreateArray({{0, -1}});
const Variant kOne = Variant::ArrayOf({Dbl(1)});

TEST(XMLValueReader, Declaration) {
  CheckTable({
      {"<?xml version=\"1.0\"?><sa/>", kNone},
      {"<?xml version='1.0' encoding='UTF-8' standalone='yes'?><sa/>", kNone},
      // The text is UTF-8 whatever the declaration names.
      {"<?xml version = \"1.0\"\r\n encoding=\"windows-1251\" ?><sa><elm t=\"S\">П</elm></sa>",
       Variant::ArrayOf({Str("П")})},
      {"<?xml?><sa/>", kNone},
      {"\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<sa/>", kNone},
      {"\xEF\xBB\xBF<sa/>", kNone},
      {"<?xml-stylesheet href=\"a\"?><sa/>", kNone},  // a processing instruction, not a declaration
      {"<!--c--><?xml version=\"1.0\"?><sa/>", std::nullopt},
      {"<sa><?xml version=\"1.0\"?></sa>", std::nullopt},
      {"<?XML version=\"1.0\"?><sa/>", std::nullopt},
      {"<?xml version=\"1.0\"", std::nullopt},
      {"<?xml version=\"1.0\"><sa/>", std::nullopt},
      {"<?xml version=1.0?><sa/>", std::nullopt},
      {"<?xml version?><sa/>", std::nullopt},
      {"<?xml version=\"1.0\"encoding=\"UTF-8\"?><sa/>", std::nullopt},
      {"<?xml version=\"1.0\" >?></xml><sa/>", std::nullopt},
      {"<?xml version=\"1.0?>\" a=\"b\"/><sa/>", std::nullopt},  // the declaration ends at the first "?>"
      {"<?xml=\"1.0\"?><sa/>", std::nullopt},
      {"\xEF\xBB\xBF\xEF\xBB\xBF<sa/>", std::nullopt},
      {"\xEF\xBB\xBF", std::nullopt},
  });
}

TEST(XMLValueReader, DocumentLevel) {
  CheckTable({
      {"\r\n <!-- a --> <?pi x?>\t<sa/> <!-- b --><?pi?>\r\n", kNone},
      {"<sa/><elm/>", std::nullopt},
      {"<sa/>x", std::nullopt},
      {"<sa/>]]>", std::nullopt},
      {"<sa/></sa>", std::nullopt},
      {"</sa>", std::nullopt},
      {"<![CDATA[x]]><sa/>", std::nullopt},
      {"<!DOCTYPE sa [<!ELEMENT sa ANY>]><sa/>", std::nullopt},
      {"<!doctype sa><sa/>", std::nullopt},
      {"<sa><!ENTITY x \"y\"></sa>", std::nullopt},
      {"<sa><!ELEMENT elm ANY></sa>", std::nullopt},
      {"<sa><![INCLUDE[x]]></sa>", std::nullopt},
      {"<", std::nullopt},
      {"<sa", std::nullopt},
      {"", std::nullopt},
  });
}

TEST(XMLValueReader, TagsAndNames) {
  CheckTable({
      // White space inside tags and around '=', either quote.
      {"<sa\r\n><elm\tt = 'S'\n>x</elm\r\n ><elm t=\"S\" >y</elm ></sa >",
       Variant::ArrayOf({Str("x"), Str("y")})},
      {"<sa><elm t=\"S\" x='\"' y=\"'\">q</elm></sa>", Variant::ArrayOf({Str("q")})},
      // Names with prefixes; names of any letters.
      {"<p:sa xmlns:p=\"urn:x\"><p:elm t=\"N\">1</p:elm></p:sa>", kOne},
      {"<корень><_a.b-c t=\"N\">1</_a.b-c></корень>", kOne},
      // End tags must match start tags exactly.
      {"<sa><elm t=\"S\">x</elmx></sa>", std::nullopt},
      {"<sa><elm t=\"S\">x</el></sa>", std::nullopt},
      {"<sa><elm t=\"S\">x</ elm></sa>", std::nullopt},
      {"<sa><elm t=\"S\">x</elm/></sa>", std::nullopt},
      {"<sa><p:elm t=\"S\">x</q:elm></sa>", std::nullopt},
      {"<sa><elm t=\"S\">x</ELM></sa>", std::nullopt},
      {"<sa><elm><x></elm></x></sa>", std::nullopt},
      // Malformed start tags and attributes.
      {"<sa><elm t=S>x</elm></sa>", std::nullopt},
      {"<sa><elm t>x</elm></sa>", std::nullopt},
      {"<sa><elm t=\"S\"x=\"1\">x</elm></sa>", std::nullopt},
      {"<sa><elm t=\"S\" / >x</elm></sa>", std::nullopt},
      {"<sa><elm t=\"S>x</elm></sa>", std::nullopt},
      {"<sa x=\"a<b\"/>", std::nullopt},
      {"<sa/ >", std::nullopt},
      {"< sa/>", std::nullopt},
      {"<sa><-x/></sa>", std::nullopt},
      {"<sa><elm t=\"S\">x</elm>", std::nullopt},
  });
}

TEST(XMLValueReader, ReferencesInTextAndAttributes) {
  CheckTable({
      {"<sa><elm t=\"S\">&lt;&amp;&gt;&quot;&apos; &#x1F600;&#1055;</elm></sa>",
       Variant::ArrayOf({Str("<&>\"' \xF0\x9F\x98\x80П")})},
      // Attribute values are decoded before they are read.
      {"<sa><elm t=\"&#83;\">x</elm><elm t='&#x61;' r=\"&#50;\" c=\"&#48;\"><e/><e/></elm></sa>",
       Variant::ArrayOf({Str("x"), Variant::ArrayOf({Variant(), Variant()})})},
      {"<sa><elm t=\"S&#10;\">x</elm><elm t=\"A\" r=\"\r\n1\t\"><e/></elm></sa>",
       Variant::ArrayOf({Variant(), Variant::ArrayOf({Variant()})})},
      // Checked wherever they stand, also where nothing is read.
      {"<sa x=\"&bad;\"/>", std::nullopt},
      {"<sa><elm><y z=\"&#0;\"/></elm></sa>", std::nullopt},
      {"<sa><elm>&#xFFFE;</elm></sa>", std::nullopt},
      {"<sa><elm t=\"A\" r=\"0\"><e>&</e></elm></sa>", std::nullopt},
      {"<sa><elm t=\"S\">&#X41;</elm></sa>", std::nullopt},
      {"<sa><elm t=\"S\">&amp</elm></sa>", std::nullopt},
      // '&' is an ordinary character in comments, processing instructions and CDATA.
      {"<sa><!-- & --><?pi & ?><elm t=\"S\"><![CDATA[&bad;]]></elm></sa>", Variant::ArrayOf({Str("&bad;")})},
  });
}

// Every bad form of UTF-8, wherever it stands (also where nothing of it is read), and every
// character XML does not allow, as a byte or as a reference: a client's text that an answer
// could not repeat is refused whole.
TEST(XMLValueReader, TextThatIsNotUTF8XMLIsRefused) {
  const std::string bad[] = {"\x80",         "\xFF\xFE",         "\xC0\xAF",
                             "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80",
                             "\xE2\x82",     "\xEF\xBF\xBE",     "\xEF\xBF\xBF"};
  const std::string places[] = {
      "<sa><elm t=\"S\">ab@</elm></sa>",           "<sa><elm t=\"S\" x=\"@\">a</elm></sa>",
      "<sa><elm@ t=\"S\">a</elm@></sa>",           "<sa><!--@--><elm t=\"S\">a</elm></sa>",
      "<sa><elm t=\"S\"><![CDATA[@]]></elm></sa>", "<sa><?pi @?></sa>",
      "<sa><elm><skipped>@</skipped></elm></sa>",  "<?xml version=\"1.0\"?><sa/>@",
  };
  std::vector<TCase> cases;
  for (const std::string& place : places)
    for (const std::string& b : bad) {
      std::string text = place;
      text.replace(text.find('@'), 1, b);
      cases.push_back({text, std::nullopt});
      if (size_t end = text.find("</elm@>"); end != std::string::npos)
        cases.back().Text.replace(end + 5, 1, b);
    }
  cases.push_back({"<sa><elm t=\"S\">ab\xC3</elm></sa>", std::nullopt});  // cut short before markup
  cases.push_back({"<sa/>\xC3", std::nullopt});                           // cut short at the end
  for (const char* ref : {"&#xD800;", "&#xDFFF;", "&#xFFFE;", "&#xFFFF;", "&#x110000;", "&#1114112;"})
    cases.push_back({std::string("<sa><elm t=\"S\">") + ref + "</elm></sa>", std::nullopt});
  // The neighbours of every refused range are taken.
  cases.push_back(
      {"<sa><elm t=\"S\">&#xD7FF;&#xE000;&#xFFFD;&#x10000;&#x10FFFF;\xF4\x8F\xBF\xBF</elm></sa>",
       Variant::ArrayOf(
           {Str("\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBD\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\xF4\x8F\xBF\xBF")})});
  CheckTable(cases);
}

TEST(XMLValueReader, LineBreaksAndWhiteSpace) {
  CheckTable({
      {"<sa><elm t=\"S\"><![CDATA[a\r\nb\rc\n]]></elm></sa>", Variant::ArrayOf({Str("a\nb\nc\n")})},
      {"<sa><elm t=\"S\">\r\n a\r\n</elm></sa>", Variant::ArrayOf({Str("\n a\n")})},
      // White-space-only text is no child, a reference is no white space.
      {"<sa>\r\n <elm t=\"N\">1</elm>\t\r</sa>", kOne},
      {"<sa> &#32; </sa>", Variant::ArrayOf({Variant()})},
      {"<sa><elm t=\"S\">&#32;</elm></sa>", Variant::ArrayOf({Str(" ")})},
      {"<sa><elm t=\"S\">\r\n <![CDATA[x]]>\t</elm></sa>", Variant::ArrayOf({Str("x")})},
      // Control characters, wherever they stand.
      {"<sa><!-- \x01 --></sa>", std::nullopt},
      {"<sa><?pi \x02?></sa>", std::nullopt},
      {"<sa><elm t=\"S\"><![CDATA[\x1F]]></elm></sa>", std::nullopt},
      {"<sa x=\"\x0B\"/>", std::nullopt},
      {"<?xml version=\"1.0\x0C\"?><sa/>", std::nullopt},
      {std::string("<sa>\0</sa>", 10), std::nullopt},
  });
}

// Comments, processing instructions and CDATA among the children of an array: comments and
// instructions are no children, every piece of text and every CDATA section is one.
TEST(XMLValueReader, PiecesAmongChildren) {
  const Variant e;
  CheckTable({
      {"<sa>a<!--c-->b<![CDATA[]]>c<?pi?>d<elm t=\"N\">1</elm></sa>",
       Variant::ArrayOf({e, e, e, e, e, Dbl(1)})},
      {"<sa><elm t=\"A\" r=\"3\" c=\"0\"><!----><![CDATA[x]]><?p q?>y<elm t=\"N\">1</elm></elm></sa>",
       Variant::ArrayOf({Variant::ArrayOf({e, e, Dbl(1)})})},
      {"<sa><elm t=\"S\"><![CDATA[]]></elm><elm t=\"S\"><![CDATA[]]]]></elm></sa>",
       Variant::ArrayOf({Str(""), Str("]]")})},
      {"<sa><elm t=\"S\"><![CDATA[a]]>b</elm></sa>", std::nullopt},
      {"<sa><elm t=\"S\"><![CDATA[a]]><![CDATA[b]]></elm></sa>", std::nullopt},
      {"<sa><elm t=\"S\"> <?pi?> </elm></sa>", std::nullopt},
      {"<sa><elm t=\"S\"><![CDATA[a]]></elm>", std::nullopt},
      // A comment is what XML says: "--" only as its end.
      {"<sa><!-- a -- b --></sa>", std::nullopt},
      {"<sa><!-- a ---></sa>", std::nullopt},
      {"<sa><!--->&--></sa>", kNone},
      {"<sa><!-- x </sa>", std::nullopt},
      {"<sa><![CDATA[x]></sa>", std::nullopt},
      {"<sa><?pi x></sa>", std::nullopt},
      {"<sa><?pi#?></sa>", std::nullopt},
      {"<sa><? pi?></sa>", std::nullopt},
  });
}

// What is not read is still checked, without recursion however deep it nests.
TEST(XMLValueReader, SkippedContent) {
  const int kLevels = 200000;
  std::string deep;
  for (int k = 0; k < kLevels; ++k) deep += "<x a=\"1\">";
  deep += "text";
  for (int k = 0; k < kLevels; ++k) deep += "</x>";
  // Inside an Empty element, and as a child beyond what an array takes.
  EXPECT_EQ(Read("<sa><elm>" + deep + "</elm></sa>"), Variant::ArrayOf({Variant()}));
  EXPECT_EQ(Read("<sa><elm t=\"A\" r=\"1\" c=\"0\"><elm t=\"N\">1</elm>" + deep + "</elm></sa>"),
            Variant::ArrayOf({kOne}));
  std::string broken = deep;
  broken.replace(broken.find("</x>"), 4, "</y>");
  EXPECT_THROW(Read("<sa><elm>" + broken + "</elm></sa>"), EXMLDecodeError);

  CheckTable({
      {"<sa><elm t=\"A\" r=\"1\" c=\"0\"><e/><elm t=\"N\">x</elm><elm t=\"A\"/></elm></sa>",
       Variant::ArrayOf({Variant::ArrayOf({Variant()})})},
      // Repeated attributes are refused on every element, read or not.
      {"<sa><elm><y a=\"1\" a=\"2\"/></elm></sa>", std::nullopt},
      {"<sa><elm t=\"A\" r=\"0\"><e t=\"N\" t=\"N\"/></elm></sa>", std::nullopt},
      {"<sa><elm t=\"U\"><y></elm></sa>", std::nullopt},
  });
}

// Arrays of more cells than one block of the collector holds, tables among them.
TEST(XMLValueReader, LargeArrays) {
  const int kRows = 3000, kCols = 3;
  Variant table = Variant::CreateArray({{0, kRows - 1}, {0, kCols - 1}});
  std::vector<Variant> list;
  for (int i = 0; i < kRows; ++i) {
    for (int j = 0; j < kCols; ++j) table.Ref(i, j) = Dbl(i * kCols + j);
    list.push_back(Str(std::to_string(i).c_str()));
    list.push_back(Variant::FromBoolean(i % 2 == 0));
  }
  Variant value = Variant::ArrayOf({table, Variant::ArrayOf(list)});
  std::vector<Variant> top(5000, Dbl(7));
  Variant wide = Variant::ArrayOf(top);
  TXMLEncoder enc;
  EXPECT_EQ(Read(enc.Encode(value)), value);
  EXPECT_EQ(Read(enc.Encode(wide)), wide);

  // The first r of 6000 children.
  std::string xml = "<sa><elm t=\"A\" r=\"5000\" c=\"0\">";
  for (int k = 0; k < 6000; ++k) xml += "<elm t=\"N\">" + std::to_string(k) + "</elm>";
  xml += "</elm></sa>";
  Variant first = Read(xml).At(0);
  ASSERT_EQ(first.Length(1), 5000);
  EXPECT_EQ(first.At(4999), Dbl(4999));
  // One cell short of a large table.
  std::string shortTable = "<sa><elm t=\"A\" r=\"2001\" c=\"3\">";
  for (int k = 0; k < 2001 * 3 - 1; ++k) shortTable += "<elm t=\"N\">1</elm>";
  EXPECT_THROW(Read(shortTable + "</elm></sa>"), EXMLDecodeError);

  // Counts the text could not hold are not reserved for: refused once the children run out.
  EXPECT_THROW(Read("<sa><elm t=\"A\" r=\"2000000000\" c=\"2000000000\"><a/></elm></sa>"), EXMLDecodeError);
  // Children of under four bytes (text between empty elements) are taken as they come, in
  // blocks; such a table still comes out whole.
  std::string tiny = "<sa><elm t=\"A\" r=\"3000\" c=\"2\">";
  for (int k = 0; k < 3000; ++k) tiny += "x<a/>";
  EXPECT_EQ(Read(tiny + "</elm></sa>"), Variant::ArrayOf({Variant::CreateArray({{0, 2999}, {0, 1}})}));
}

// Every proper prefix of a document is refused, and none is read past its end.
TEST(XMLValueReader, EveryPrefixIsRefused) {
  const std::string doc =
      "\xEF\xBB\xBF<?xml version='1.0' encoding=\"UTF-8\"?>\r\n<!--c--><?pi x?><p:sa a=\"&amp;\">"
      "<elm t=\"S\">a&#x41f;&lt;\r\n</elm><elm t='A' r=\"2\" c=\"1\"><elm t=\"N\"> 1 "
      "</elm><![CDATA[x]]></elm>"
      "<elm t=\"D\">2015.02.10</elm><elm><q r=\"\"><!-- & --></q>t<?p?></elm>t</p:sa>\r\n<!--e-->";
  ASSERT_EQ(Read(doc).Length(1), 5);
  size_t whole = doc.find("</p:sa>") + 7;  // cut here or in the CR LF behind, it is a document
  for (size_t n = 0; n < doc.size(); ++n) {
    if (n >= whole && n <= whole + 2) continue;
    EXPECT_THROW(Read(doc.substr(0, n)), EXMLDecodeError) << n;
  }
}

// ---- Random mutations of valid documents ----

// The value as the tree-walking reader this one replaced read it, on pugixml's tree: the
// reference for which piece of the text lands in which cell. Nothing when it refuses the value.
class TReference {
 public:
  static std::optional<Variant> Read(const pugi::xml_document& doc) {
    pugi::xml_node root;
    for (pugi::xml_node n : doc.children())
      if (n.type() == pugi::node_element) root = n;
    try {
      std::vector<Variant> items;
      for (pugi::xml_node child : Children(root)) items.push_back(Value(child, 1));
      return Variant::ArrayOf(std::move(items));
    } catch (const TRefused&) {
      return std::nullopt;
    }
  }

 private:
  struct TRefused {};

  // Children by position: elements and pieces of text; a piece of text as an empty handle.
  static std::vector<pugi::xml_node> Children(pugi::xml_node parent) {
    std::vector<pugi::xml_node> children;
    for (pugi::xml_node child : parent.children()) {
      if (child.type() == pugi::node_element) children.push_back(child);
      if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) children.push_back({});
    }
    return children;
  }

  static std::string Text(pugi::xml_node element) {
    pugi::xml_node child = element.first_child();
    if (!child) return "";
    if (child.next_sibling() || (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata))
      throw TRefused();
    return child.value();
  }

  // Blanks around an optional sign and digits, within 32 bits; else 0.
  static int64_t Whole(std::string s) {
    s.erase(0, s.find_first_not_of(" \t\r\n"));
    s.erase(s.find_last_not_of(" \t\r\n") + 1);
    if (s.starts_with('+')) {
      s.erase(0, 1);
      if (s.starts_with('-')) return 0;
    }
    int32_t v = 0;
    auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    return !s.empty() && res.ec == std::errc() && res.ptr == s.data() + s.size() ? v : 0;
  }

  static Variant Value(pugi::xml_node node, int depth) {
    if (!node) return Variant();
    std::string t = node.attribute("t") ? node.attribute("t").value() : "U";
    char kind = t.size() == 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(t[0]))) : 'U';
    double d;
    switch (kind) {
      case 'S': return Variant::FromString(Text(node));
      case 'N':
        if (ParseNumberText(Text(node), d) != TNumberTextResult::Ok) throw TRefused();
        return Variant::FromDouble(d);
      case 'D':
        if (!ParseDateText(Text(node), d)) throw TRefused();
        return Variant::FromDate(d);
      case 'B': {
        std::string text = Text(node);
        bool b;
        TNumberTextResult n = ParseNumberText(text, d);
        if (n != TNumberTextResult::Malformed)
          return Variant::FromBoolean(n == TNumberTextResult::OutOfRange || d != 0);
        if (!ParseBooleanWord(text, b)) throw TRefused();
        return Variant::FromBoolean(b);
      }
      case 'A': {
        if (depth + 1 > TXMLEncoder::kMaxNestingDepth || !node.attribute("r")) throw TRefused();
        int64_t r = Whole(node.attribute("r").value()), c = Whole(node.attribute("c").value());
        if (r < 0) throw TRefused();
        std::vector<pugi::xml_node> children = Children(node);
        int64_t cells = c >= 1 ? r * c : r;
        if (static_cast<int64_t>(children.size()) < cells) throw TRefused();
        std::vector<Variant> values;
        for (int64_t k = 0; k < cells; ++k) values.push_back(Value(children[k], depth + 1));
        if (c < 1) return Variant::ArrayOf(std::move(values));
        Variant v = Variant::CreateArray({{0, static_cast<int>(r - 1)}, {0, static_cast<int>(c - 1)}});
        for (int64_t k = 0; k < cells; ++k)
          v.Ref(static_cast<int>(k / c), static_cast<int>(k % c)) = values[k];
        return v;
      }
      default: return Variant();
    }
  }
};

TEST(XMLValueReader, RandomMutationsAgreeWithTheTreeReader) {
  const std::vector<std::string> seeds = {
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><sa><elm t=\"N\">2.5</elm><elm t=\"S\">abc</elm><elm "
      "t=\"B\">True</elm>"
      "<elm t=\"A\" r=\"2\" c=\"2\"><elm t=\"S\">x</elm><elm t=\"N\">1</elm><elm t=\"S\">y</elm><elm "
      "t=\"U\"/></elm></sa>\r\n",
      "\xEF\xBB\xBF<?xml version='1.0'?>\r\n<!-- h --><?pi d?><p:sa a='1'><p:elm "
      "t='S'>a&amp;b&#x41f;&#13;</p:elm>"
      "<elm t=\"D\">2015.02.10 10:30:15</elm><elm t=\"a\" r=\"1\"><elm "
      "t=\"S\"><![CDATA[q<&]]></elm></elm></p:sa>",
      "<sa>junk<elm t=\"N\">1</elm>more<![CDATA[z]]><!--c--><?p?><elm><x><y a=\"1\"/></x>text</elm>"
      "<elm t=\"A\" r=\"1\" c=\"0\"><elm t=\"N\">5</elm><elm t=\"N\">bad</elm></elm></sa>",
      "<sa>\r\n  <elm t=\"S\">l1\r\nl2\rl3</elm>\r\n  <elm t=\"S\">  </elm>\r\n  <elm t=\"A\" r=\"0\" "
      "c=\"3\"/>\r\n"
      "  <elm t=\"A\" r=\"abc\"/><elm t=\"b\">0</elm>\r\n</sa>",
  };
  const std::vector<std::string> tokens = {"<",
                                           ">",
                                           "/",
                                           "</",
                                           "/>",
                                           "&",
                                           "&amp;",
                                           "&#65;",
                                           "&#x41;",
                                           "&#0;",
                                           "&bad;",
                                           "&#13;",
                                           "<!--",
                                           "-->",
                                           "--",
                                           "<!-- c -->",
                                           "<![CDATA[",
                                           "]]>",
                                           "<![CDATA[x]]>",
                                           "<?",
                                           "?>",
                                           "<?pi x?>",
                                           "<?xml version=\"1.0\"?>",
                                           "<!DOCTYPE sa>",
                                           "\r\n",
                                           "\r",
                                           " ",
                                           "\"",
                                           "'",
                                           "=",
                                           " t=\"S\"",
                                           " t=\"A\" r=\"1\" c=\"0\"",
                                           " r=\"2\"",
                                           " c=\"1\"",
                                           "<elm t=\"N\">1</elm>",
                                           "<elm>",
                                           "</elm>",
                                           "<elm t=\"A\" r=\"1\" c=\"0\">",
                                           "x",
                                           "\x01",
                                           std::string(1, '\0'),
                                           "1",
                                           "-",
                                           ":",
                                           "D",
                                           "S",
                                           "B"};
  constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_pi |
                                     pugi::parse_declaration | pugi::parse_doctype | pugi::parse_fragment;
  std::mt19937 random(20240611);
  auto below = [&](size_t n) { return n == 0 ? size_t{0} : static_cast<size_t>(random() % n); };
  int accepted = 0;
  const int kRuns = 20000;
  for (int run = 0; run < kRuns; ++run) {
    std::string text = seeds[below(seeds.size())];
    for (int m = 1 + static_cast<int>(below(3)); m > 0; --m) {
      size_t at = below(text.size() + 1);
      switch (below(4)) {
        case 0: text.erase(at, 1 + below(8)); break;
        case 1: text.insert(at, tokens[below(tokens.size())]); break;
        case 2: text.insert(below(text.size() + 1), text.substr(at, 1 + below(12))); break;
        default:
          if (at < text.size()) text[at] = tokens[below(tokens.size())][0];
      }
    }
    SCOPED_TRACE(text);
    std::optional<Variant> value;
    try {
      value = Read(text);
    } catch (const EXMLDecodeError&) {
    }  // anything else fails the test
    pugi::xml_document doc;
    bool parsed = doc.load_buffer(text.data(), text.size(), kParseOptions, pugi::encoding_utf8);
    if (!value) continue;
    ++accepted;
    // pugixml is laxer than this reader: what it refuses, this one refuses too.
    ASSERT_TRUE(parsed);
    std::optional<Variant> expected = TReference::Read(doc);
    ASSERT_TRUE(expected.has_value());
    ASSERT_EQ(*value, *expected);
  }
  // The mutations must leave enough documents whole for the comparison to mean something.
  EXPECT_GT(accepted, kRuns / 20);
}

}  // namespace
}  // namespace dct
