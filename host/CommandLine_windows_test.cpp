#include "host/CommandLine.h"

#include <gtest/gtest.h>

namespace dct {
namespace {

TEST(CommandLineWindowsTest, ConsoleIsAFlagBesideThePortableOptions) {
  THostOptions o;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"--console", "--port", "8123", "--data-root=C:\\d"}, o, error)) << error;
  EXPECT_TRUE(o.Console);
  EXPECT_EQ(o.Port, 8123);
  EXPECT_EQ(o.DataRoot.value(), "C:\\d");
  EXPECT_FALSE(ParseCommandLine({"--console=yes"}, o, error));
  EXPECT_EQ(error, "option --console takes no value");
}

TEST(CommandLineWindowsTest, UnitDirBelongsToThePosixBuildOnly) {
  THostOptions o;
  std::string error;
  EXPECT_FALSE(ParseCommandLine({"/install", "--unit-dir", "C:\\u"}, o, error));
  EXPECT_EQ(error, "unknown option --unit-dir");
  const std::string usage = UsageText("dct_korvelmobilesvc.exe");
  EXPECT_NE(usage.find("--console"), std::string::npos);
  EXPECT_EQ(usage.find("--unit-dir"), std::string::npos);
}

}  // namespace
}  // namespace dct
