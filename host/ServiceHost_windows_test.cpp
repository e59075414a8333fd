#include "host/ServiceHost.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "host/TestConsole_windows.h"

namespace dct {
namespace {

class TCountingRun : public IServiceRun {
 public:
  int FStarts = 0;
  int FStops = 0;
  bool Start(IEventSink&) override { return ++FStarts > 0; }
  bool Stop() override { return ++FStops > 0; }
  bool Shutdown() override { return false; }
  void WriteFailure(const std::string&, const std::string&) override {}
};

TEST(ServiceHostWindowsTest, StartedByHandWithoutTheServiceManagerEndsWithoutStarting) {
  TCountingRun service;
  TStopSignal stop;
  EXPECT_EQ(RunHostService(THostOptions(), service, stop), kExitFailure);
  EXPECT_EQ(service.FStarts, 0);
}

TEST(ServiceHostWindowsTest, ConsoleRunStartsAndStopsOnCtrlC) {
  TStopSignal stop;
  const testing::TTestConsole& console = testing::TestConsole();
  if (!console.Ready())
    GTEST_SKIP() << "no console of its own for the test (error " << console.Error() << ")";
  ASSERT_TRUE(console.RaiseCtrlC()) << GetLastError();
  TCountingRun service;
  THostOptions options;
  options.Console = true;
  EXPECT_EQ(RunHostService(options, service, stop), kExitOk);  // the Ctrl+C was kept for the wait
  EXPECT_EQ(service.FStarts, 1);
  EXPECT_EQ(service.FStops, 1);
}

TEST(ServiceHostWindowsTest, ArgumentsComeFromTheWideCommandLineAsUtf8) {
  char name[] = "ignored";
  char* argv[] = {name};
  const std::vector<std::string> args = ProgramArguments(1, argv);
  ASSERT_FALSE(args.empty());
  EXPECT_NE(args[0], "ignored");
  EXPECT_NE(args[0].find("host_test"), std::string::npos) << args[0];
}

}  // namespace
}  // namespace dct
