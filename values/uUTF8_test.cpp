#include "values/uUTF8.h"

#include <gtest/gtest.h>

#include <string>

namespace dct {
namespace {

const std::string kFFFD(kReplacementChar);

// Each bad input: where the first fault is, and the mended text (one U+FFFD per maximal
// subpart, so a truncated sequence is one stand-in and an invalid lead byte is one each).
TEST(UTF8Test, BadSequencesAreFoundAndMended) {
  struct TCase {
    const char* What;
    std::string In;
    size_t Prefix;
    std::string Mended;
  };
  const TCase cases[] = {
      {"stray continuation",
       "a\x80"
       "b",
       1, "a" + kFFFD + "b"},
      {"FF FE", "\xFF\xFE", 0, kFFFD + kFFFD},
      {"overlong C0 AF", "\xC0\xAF", 0, kFFFD + kFFFD},
      {"overlong E0 80 80", "\xE0\x80\x80", 0, kFFFD + kFFFD + kFFFD},
      {"surrogate ED A0 80", "x\xED\xA0\x80", 1, "x" + kFFFD + kFFFD + kFFFD},
      {"above U+10FFFF", "\xF4\x90\x80\x80", 0, kFFFD + kFFFD + kFFFD + kFFFD},
      {"five-byte form", "\xF8\x88\x80\x80\x80", 0, kFFFD + kFFFD + kFFFD + kFFFD + kFFFD},
      {"cut short E2 82", "\xE2\x82", 0, kFFFD},
      {"cut short at the end", "ab\xC3", 2, "ab" + kFFFD},
      {"cut short before ASCII",
       "\xF0\x9F\x98"
       "z",
       0, kFFFD + "z"},
      {"U+FFFE", "\xEF\xBF\xBE", 0, kFFFD},
      {"U+FFFF", "1234567\xEF\xBF\xBF", 7, "1234567" + kFFFD},
      {"NUL", std::string("abcdefghij\0k", 12), 10, "abcdefghij" + kFFFD + "k"},
      {"control in a long ASCII run",
       "0123456789abcdef\x01"
       "0123456789",
       16, "0123456789abcdef" + kFFFD + "0123456789"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(XMLCharsPrefix(c.In), c.Prefix) << c.What;
    EXPECT_FALSE(IsXMLChars(c.In)) << c.What;
    std::string out;
    AppendXMLChars(out, c.In);
    EXPECT_EQ(out, c.Mended) << c.What;
    EXPECT_TRUE(IsXMLChars(out)) << c.What;
  }
}

TEST(UTF8Test, GoodTextPassesUnchanged) {
  const std::string cases[] = {
      "",
      "plain ASCII text longer than one word, with tab\t, LF\n and CR\r",
      "Привет, ёж: кириллица",
      "\xC2\x80 \xDF\xBF \xE0\xA0\x80 \xED\x9F\xBF \xEE\x80\x80 \xEF\xBF\xBD",  // edges of each form
      "\xF0\x90\x80\x80 \xF4\x8F\xBF\xBF \xF0\x9F\x98\x80",                     // planes 1..16
      "\xEF\xBB\xBF<sa/>",                                                      // U+FEFF
  };
  for (const std::string& c : cases) {
    EXPECT_EQ(XMLCharsPrefix(c), c.size()) << c;
    std::string out = "=";
    AppendXMLChars(out, c);
    EXPECT_EQ(out, "=" + c);
  }
}

// Every byte value at every offset of a word: the word-at-a-time path agrees with the byte
// path, so no byte can slip through the fast check.
TEST(UTF8Test, FastPathAgreesWithEveryByte) {
  for (int b = 0; b < 256; ++b) {
    for (size_t at = 0; at < 16; ++at) {
      std::string s(16, 'a');
      s[at] = static_cast<char>(b);
      bool good = b >= 0x20 ? b < 0x80 : (b == '\t' || b == '\n' || b == '\r');
      EXPECT_EQ(XMLCharsPrefix(s), good ? s.size() : at) << b << " at " << at;
    }
  }
}

}  // namespace
}  // namespace dct
