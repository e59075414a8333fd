#include "host/ServiceInstaller.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace dct {
namespace {

TEST(RunCommandTest, StatusOfTheCommandDecides) {
  EXPECT_NO_THROW(RunCommand({"true"}));
  try {
    RunCommand({"false"});
    FAIL() << "false succeeded";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "false ended with status 1");
  }
  EXPECT_THROW(RunCommand({"/nonexistent/systemctl", "daemon-reload"}), std::runtime_error);
}

}  // namespace
}  // namespace dct
