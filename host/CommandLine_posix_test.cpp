#include "host/CommandLine.h"

#include <gtest/gtest.h>

namespace dct {
namespace {

TEST(CommandLinePosixTest, UnitDirIsAnOptionWithTheSystemFolderAsDefault) {
  THostOptions o;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({}, o, error)) << error;
  EXPECT_EQ(o.UnitDir, "/etc/systemd/system");
  ASSERT_TRUE(ParseCommandLine({"/install", "--unit-dir", "/tmp/u"}, o, error)) << error;
  EXPECT_EQ(o.UnitDir, "/tmp/u");
  ASSERT_TRUE(ParseCommandLine({"--unit-dir=/tmp/v"}, o, error)) << error;
  EXPECT_EQ(o.UnitDir, "/tmp/v");
  EXPECT_FALSE(ParseCommandLine({"--unit-dir"}, o, error));
  EXPECT_NE(error.find("needs a value"), std::string::npos) << error;
}

TEST(CommandLinePosixTest, ConsoleBelongsToTheWindowsBuildOnly) {
  THostOptions o;
  std::string error;
  EXPECT_FALSE(ParseCommandLine({"--console"}, o, error));
  EXPECT_EQ(error, "unknown option --console");
  EXPECT_EQ(UsageText("p").find("--console"), std::string::npos);
}

}  // namespace
}  // namespace dct
