#include "host/CommandLine.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace dct {
namespace {

THostOptions Parse(const std::vector<std::string>& args) {
  THostOptions options;
  std::string error;
  EXPECT_TRUE(ParseCommandLine(args, options, error)) << error;
  return options;
}

TEST(CommandLineTest, NoArgumentsRunsTheServiceWithDefaults) {
  const THostOptions o = Parse({});
  EXPECT_FALSE(o.Install || o.Uninstall || o.Silent || o.Help);
  EXPECT_EQ(o.Port, 7211);
  EXPECT_FALSE(o.DataRoot.has_value());
  EXPECT_FALSE(o.SQLiteLibrary.has_value());
  EXPECT_FALSE(o.Console);
}

TEST(CommandLineTest, SwitchesTakeSlashOrDashInAnyLetterCase) {
  for (const char* s : {"/INSTALL", "-install", "/Install", "-InStAlL"}) {
    EXPECT_TRUE(Parse({s}).Install) << s;
  }
  for (const char* s : {"/UNINSTALL", "-uninstall", "/UnInstall"}) {
    const THostOptions o = Parse({s});
    EXPECT_TRUE(o.Uninstall) << s;
    EXPECT_FALSE(o.Install) << s;
  }
  const THostOptions o = Parse({"-silent", "/install"});
  EXPECT_TRUE(o.Silent);
  EXPECT_TRUE(o.Install);
}

TEST(CommandLineTest, OptionsTakeTheirValueNextOrAfterEquals) {
  const THostOptions o = Parse(
      {"--port", "8123", "--data-root=/tmp/d", "--sqlite-library", "/opt/lib/libsqlite3.so.0", "/install"});
  EXPECT_EQ(o.Port, 8123);
  EXPECT_EQ(o.DataRoot.value(), "/tmp/d");
  EXPECT_EQ(o.SQLiteLibrary.value(), "/opt/lib/libsqlite3.so.0");
  EXPECT_TRUE(o.Install);
  EXPECT_EQ(Parse({"--port=1"}).Port, 1);
  EXPECT_EQ(Parse({"--port", "65535"}).Port, 65535);
  EXPECT_TRUE(Parse({"--help"}).Help);
  EXPECT_EQ(Parse({"--allow-origin", "http://office:8080", "--allow-origin=https://[::1]"}).AllowedOrigins,
            (std::vector<std::string>{"http://office:8080", "https://[::1]"}));
}

TEST(CommandLineTest, OperatorCommandsTakeTheirOwnOptions) {
  THostOptions o = Parse({"--import-items", "items.csv", "--merge", "--url", "http://h:1"});
  EXPECT_EQ(OperatorCommand(o), TOperatorCommand::ImportItems);
  EXPECT_EQ(o.ImportItemsFile, "items.csv");
  EXPECT_TRUE(o.Merge);
  EXPECT_EQ(o.ServiceURL, "http://h:1");

  o = Parse({"--export-documents=out", "--source", "-2147483648", "--port", "8000"});
  EXPECT_EQ(OperatorCommand(o), TOperatorCommand::ExportDocuments);
  EXPECT_EQ(o.ExportDir, "out");
  EXPECT_EQ(o.ExportSource, INT32_MIN);
  EXPECT_EQ(o.Port, 8000);

  o = Parse({"--backup", "copy.db", "--data-root", "/srv/dct"});
  EXPECT_EQ(OperatorCommand(o), TOperatorCommand::Backup);
  EXPECT_EQ(o.BackupFile, "copy.db");
  EXPECT_EQ(OperatorCommand(Parse({})), TOperatorCommand::None);
}

TEST(CommandLineTest, BadCommandLinesAreRefusedWithAReason) {
  const struct {
    std::vector<std::string> Args;
    const char* Reason;
  } cases[] = {
      {{"--port"}, "needs a value"},
      {{"--port", "0"}, "1 to 65535"},
      {{"--port", "65536"}, "1 to 65535"},
      {{"--port", "72x1"}, "1 to 65535"},
      {{"--port", "-1"}, "1 to 65535"},
      {{"--port", "000007211"}, "1 to 65535"},
      {{"--port="}, "non-empty"},
      {{"--data-root", ""}, "non-empty"},
      {{"--sqlite-library"}, "needs a value"},
      {{"--bogus"}, "unknown option --bogus"},
      {{"--help=yes"}, "takes no value"},
      {{"/REMOVE"}, "unknown argument \"/REMOVE\""},
      {{"install"}, "unknown argument"},
      {{"-"}, "unknown argument"},
      {{"/"}, "unknown argument"},
      {{"/install", "/uninstall"}, "exclude each other"},
      {{"--backup", "a.db", "--status"}, "exclude each other"},
      {{"--import-items", "a.csv", "--export-documents", "d"}, "exclude each other"},
      {{"--backup", "a.db", "/uninstall"}, "--backup excludes INSTALL"},
      {{"--backup", "a.db", "--url", "http://h"}, "--url goes with --status, --import-items or"},
      {{"--merge"}, "--merge goes with --import-items"},
      {{"--export-documents", "d", "--merge"}, "--merge goes with --import-items"},
      {{"--import-items", "a.csv", "--merge=1"}, "takes no value"},
      {{"--source", "1"}, "--source goes with --export-documents"},
      {{"--export-documents", "d", "--source", "x"}, "whole number"},
      {{"--export-documents", "d", "--source", "2147483648"}, "whole number"},
      {{"--export-documents", "d", "--source", "-"}, "whole number"},
      {{"--import-items"}, "needs a value"},
      {{"--allow-origin", "office.example"}, "needs an origin"},
      {{"--allow-origin", "ftp://office.example"}, "needs an origin"},
      {{"--allow-origin", "http://office.example/page"}, "needs an origin"},
      {{"--allow-origin", "http://"}, "needs an origin"},
  };
  for (const auto& c : cases) {
    THostOptions options;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(c.Args, options, error)) << c.Args[0];
    EXPECT_NE(error.find(c.Reason), std::string::npos) << c.Args[0] << ": " << error;
  }
}

}  // namespace
}  // namespace dct
