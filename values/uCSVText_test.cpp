#include "values/uCSVText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dct {
namespace {

using TRecords = std::vector<std::vector<std::string>>;

// Every record of text, and the line each field starts on.
TRecords ReadAll(std::string_view text, std::vector<std::vector<int>>* lines = nullptr) {
  TCSVReader reader(text);
  TRecords records;
  std::vector<std::string> fields;
  while (reader.Next(fields)) {
    records.push_back(fields);
    if (lines) {
      lines->emplace_back();
      for (size_t i = 0; i < fields.size(); ++i) lines->back().push_back(reader.FieldLine(i));
    }
  }
  return records;
}

TEST(CSVReader, ReadsRecordsAsRFC4180Has) {
  struct {
    const char* Name;
    std::string Text;
    TRecords Expected;
  } cases[] = {
      {"LF ends", "a,b\nc,d\n", {{"a", "b"}, {"c", "d"}}},
      {"CRLF ends, last without", "a,b\r\nc,d", {{"a", "b"}, {"c", "d"}}},
      {"empty fields", ",\n,x,\n", {{"", ""}, {"", "x", ""}}},
      {"quoted comma and quotes", "\"a,b\",\"say \"\"hi\"\"\"\n", {{"a,b", "say \"hi\""}}},
      {"quoted line breaks kept as sent", "\"l1\r\nl2\nl3\",x\r\n", {{"l1\r\nl2\nl3", "x"}}},
      {"empty quoted field", "\"\",\"\"\"\"\n", {{"", "\""}}},
      {"byte order mark skipped",
       "\xEF\xBB\xBF"
       "barcode\n1\n",
       {{"barcode"}, {"1"}}},
      {"Cyrillic", "Молоко,\"Хлеб, белый\"\n", {{"Молоко", "Хлеб, белый"}}},
      {"blank line is one empty field", "a\n\nb\n", {{"a"}, {""}, {"b"}}},
      {"nothing", "", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadAll(c.Text), c.Expected) << c.Name;
}

TEST(CSVReader, CountsPhysicalLinesAcrossQuotedBreaks) {
  std::vector<std::vector<int>> lines;
  ReadAll("h1,h2\r\n\"a\r\nb\nc\",d\r\ne,\"f\ng\"\nh,i\n", &lines);
  EXPECT_EQ(lines, (std::vector<std::vector<int>>{{1, 1}, {2, 4}, {5, 5}, {7, 7}}));
}

TEST(CSVReader, ErrorsNameTheLineAndFieldWhereTheBadFieldStarts) {
  struct {
    const char* Name;
    std::string Text;
    int Line;
    int Field;
  } cases[] = {
      {"unterminated quote", "a,b\nc,\"d\ne\nf\n", 2, 1},
      {"quote inside unquoted field", "a,b\nc,d\"e\n", 2, 1},
      {"text after closing quote", "a\n\"x\ny\"z,b\n", 2, 0},
      {"bare CR", "a,b\rc\n", 1, 1},
      {"invalid UTF-8", "a,b\nc,\xC3\x28\n", 2, 1},
      {"overlong form", "\xC0\xAF\n", 1, 0},
      {"encoded surrogate", "a,\"\n\xED\xA0\x80\"\n", 1, 1},
      {"truncated sequence at the end", "a,\xD0", 1, 1},
  };
  for (const auto& c : cases) {
    try {
      ReadAll(c.Text);
      ADD_FAILURE() << c.Name << ": no error";
    } catch (const ECSVError& e) {
      EXPECT_EQ(e.Line(), c.Line) << c.Name;
      EXPECT_EQ(e.Field(), c.Field) << c.Name;
    }
  }
}

TEST(CSVWriter, QuotesOnlyWhatMustBeQuotedAndReadsBack) {
  struct {
    std::string Field;
    std::string Written;
  } cases[] = {
      {"plain", "plain"},           {"", ""},
      {"a,b", "\"a,b\""},           {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"l1\r\nl2", "\"l1\r\nl2\""}, {"lf\n", "\"lf\n\""},
      {"cr\r", "\"cr\r\""},         {"Товар; 5", "Товар; 5"},
  };
  std::vector<std::string> all;
  for (const auto& c : cases) {
    std::string out;
    AppendCSVField(out, c.Field);
    EXPECT_EQ(out, c.Written);
    all.push_back(c.Field);
  }
  std::string text;
  AppendCSVRecord(text, all);
  AppendCSVRecord(text, {"x"});
  EXPECT_EQ(text.substr(text.size() - 3), "x\r\n");
  EXPECT_EQ(ReadAll(text), (TRecords{all, {"x"}}));
}

TEST(CSVWriter, TextThatASpreadsheetWouldEvaluateIsMadeInert) {
  const struct {
    std::string Field;
    std::string Inert;
  } cases[] = {
      {"=HYPERLINK(\"http://x\")", "'=HYPERLINK(\"http://x\")"},
      {"+1+cmd", "'+1+cmd"},
      {"-2+3", "'-2+3"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\t=1", "'\t=1"},
      {"\r=1", "'\r=1"},
      {"a=1", "a=1"},  // only the first character counts
      {"4600000000017", "4600000000017"},
      {"'quoted", "'quoted"},
      {"", ""},
      {"Молоко", "Молоко"},
  };
  for (const auto& c : cases) EXPECT_EQ(InertCSVText(c.Field), c.Inert) << c.Field;
}

}  // namespace
}  // namespace dct
