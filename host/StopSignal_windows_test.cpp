#include "host/StopSignal.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "host/TestConsole_windows.h"

namespace dct {
namespace {

TEST(StopSignalWindowsTest, CtrlCBeforeTheWaitIsKeptForIt) {
  TStopSignal stop;
  const testing::TTestConsole& console = testing::TestConsole();
  if (!console.Ready())
    GTEST_SKIP() << "no console of its own for the test (error " << console.Error() << ")";
  ASSERT_TRUE(console.RaiseCtrlC()) << GetLastError();
  EXPECT_EQ(stop.Wait(), CTRL_C_EVENT);
  ASSERT_TRUE(console.RaiseCtrlC()) << GetLastError();  // the process lives on for a second one
  EXPECT_EQ(stop.Wait(), CTRL_C_EVENT);
}

}  // namespace
}  // namespace dct
