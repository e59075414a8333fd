#include "host/DocumentExport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/TestSupport.h"
#include "values/uCSVText.h"

namespace dct {
namespace {

namespace fs = std::filesystem;

TEST(DocumentExport, QuantitiesArePlainDecimals) {
  struct {
    double Value;
    const char* Text;
  } cases[] = {
      {0, "0"},
      {2.5, "2.5"},
      {1, "1"},
      {-0.001, "-0.001"},
      {1e-5, "0.00001"},
      {-1.5e-7, "-0.00000015"},
      {1e15, "1000000000000000"},
      {1.25e16, "12500000000000000"},
      {123456.789, "123456.789"},
      {1.0 / 3, "0.333333333333333"},
  };
  for (const auto& c : cases) EXPECT_EQ(QuantityText(c.Value), c.Text) << c.Value;
}

TEST(DocumentExport, FilesReadBackAsTheDocuments) {
  TDocuments docs(2);
  docs[0] = {
      "ТСД-1, смена \"2\"", 2, 1, "Приход\r\nсклад", {{"4600000000017", 5, ""}, {"it's", 1e-5, "SN,1"}}};
  docs[1] = {"D2", 7, 0, "", {}};
  std::vector<std::string> f;
  const std::string headersText = DocHeadersCSV(docs);
  TCSVReader headers(headersText);
  std::vector<std::vector<std::string>> read;
  while (headers.Next(f)) read.push_back(f);
  EXPECT_EQ(read, (std::vector<std::vector<std::string>>{{"id", "docsource", "doctype", "description"},
                                                         {"ТСД-1, смена \"2\"", "1", "2", "Приход\r\nсклад"},
                                                         {"D2", "0", "7", ""}}));
  const std::string tablesText = DocTablesCSV(docs);
  TCSVReader tables(tablesText);
  read.clear();
  while (tables.Next(f)) read.push_back(f);
  EXPECT_EQ(read, (std::vector<std::vector<std::string>>{{"docid", "barcode", "quantity", "serialnum"},
                                                         {"ТСД-1, смена \"2\"", "4600000000017", "5", ""},
                                                         {"ТСД-1, смена \"2\"", "it's", "0.00001", "SN,1"}}));
  EXPECT_EQ(tablesText.substr(0, 34), "docid,barcode,quantity,serialnum\r\n");
}

// A description, a barcode or a serial number set by a terminal must not run as a formula in
// the accounting side's spreadsheet; numbers stay numbers, negative ones included.
TEST(DocumentExport, TextThatASpreadsheetWouldEvaluateIsWrittenInert) {
  TDocuments docs(1);
  docs[0] = {"=1+1", 3, 1, "@SUM(A1:A9)", {{"+79990000000", -1.5, "-SN"}, {"4600000000017", 2, "\tx"}}};
  std::vector<std::string> f;
  std::vector<std::vector<std::string>> read;
  const std::string headersText = DocHeadersCSV(docs);
  TCSVReader headers(headersText);
  while (headers.Next(f)) read.push_back(f);
  EXPECT_EQ(read[1], (std::vector<std::string>{"'=1+1", "1", "3", "'@SUM(A1:A9)"}));
  read.clear();
  const std::string tablesText = DocTablesCSV(docs);
  TCSVReader tables(tablesText);
  while (tables.Next(f)) read.push_back(f);
  EXPECT_EQ(read[1], (std::vector<std::string>{"'=1+1", "'+79990000000", "-1.5", "'-SN"}));
  EXPECT_EQ(read[2], (std::vector<std::string>{"'=1+1", "4600000000017", "2", "'\tx"}));
}

std::string Content(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(DocumentExport, FilesAppearWholeOrNotAtAll) {
  testing::TTempDir temp;
  const fs::path dir = fs::path(temp.Path());
  WriteFilesWhole(temp.Path(), {{"a.csv", "old"}, {"b.csv", "old"}});
  WriteFilesWhole(temp.Path(), {{"a.csv", "new a"}, {"b.csv", "new b"}});  // over an earlier export
  EXPECT_EQ(Content(dir / "a.csv"), "new a");
  EXPECT_EQ(Content(dir / "b.csv"), "new b");

  // The second file cannot be written (a folder stands in its temporary name's place):
  // nothing changes under the final names and no temporary file is left.
  fs::create_directory(dir / ".b.csv.partial");
  EXPECT_THROW(WriteFilesWhole(temp.Path(), {{"a.csv", "newer"}, {"b.csv", "newer"}}), std::runtime_error);
  EXPECT_EQ(Content(dir / "a.csv"), "new a");
  EXPECT_FALSE(fs::exists(dir / ".a.csv.partial"));
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir)) entries += e.path().filename() != ".b.csv.partial";
  EXPECT_EQ(entries, 2u);
}

// A link planted at a temporary name (the folder may be shared) is never written through.
TEST(DocumentExport, ALinkAtATemporaryNameIsNotFollowed) {
  testing::TTempDir temp;
  const fs::path dir = fs::path(temp.Path());
  const fs::path victim = dir / "victim";
  std::ofstream(victim) << "not to be touched";
  std::error_code error;
  fs::create_symlink(victim, dir / ".a.csv.partial", error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  fs::create_symlink(dir / "nowhere", dir / ".b.csv.partial");
  WriteFilesWhole(temp.Path(), {{"a.csv", "new a"}, {"b.csv", "new b"}});
  EXPECT_EQ(Content(victim), "not to be touched");
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
  EXPECT_EQ(Content(dir / "a.csv"), "new a");
  EXPECT_EQ(Content(dir / "b.csv"), "new b");
  EXPECT_FALSE(fs::is_symlink(dir / "a.csv"));
}

}  // namespace
}  // namespace dct
