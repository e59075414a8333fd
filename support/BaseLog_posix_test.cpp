#include "support/BaseLog.h"

#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace dct {
namespace {

TEST(BaseLogNameTest, SessionTextOfTheKernel) {
  const struct {
    const char* Text;
    int Session;
  } cases[] = {
      {"3", 3},
      {"3\n", 3},
      {"0\n", 0},
      {"4294967295", 0},  // no login session: a system service
      {"", kUnknownLogSession},
      {"abc", kUnknownLogSession},
      {"-1", kUnknownLogSession},
      {"12x", kUnknownLogSession},
      {"4294967296", kUnknownLogSession},
      {"3000000000", kUnknownLogSession},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseLogSessionId(c.Text), c.Session) << c.Text;

  std::ifstream in("/proc/self/sessionid");
  std::string text;
  if (std::getline(in, text)) {
    EXPECT_EQ(GetLogSessionId(), ParseLogSessionId(text));
  } else {
    EXPECT_EQ(GetLogSessionId(), kUnknownLogSession);
  }
}

}  // namespace
}  // namespace dct
