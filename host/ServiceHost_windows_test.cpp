#include "host/ServiceHost.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "host/ServiceHost_windows.h"
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

// A device whose disabling takes Time: answers finishing, then a long command.
class TSlowStopRun : public TCountingRun {
 public:
  explicit TSlowStopRun(std::chrono::milliseconds Time) : FTime(Time) {}
  bool Stop() override {
    std::this_thread::sleep_for(FTime);
    return TCountingRun::Stop();
  }

 private:
  std::chrono::milliseconds FTime;
};

class TNoEvents : public IEventSink {
 public:
  void Write(const TEventEntry&) override {}
};

// What the service manager sees of a stop that outlasts its wait hint: the checkpoint must
// move within every hint until the device is disabled, or "net stop" gives up (error 1053)
// and a shutdown kills the process mid-close.
TEST(ServiceHostWindowsTest, AStopLongerThanItsHintReportsRisingCheckpointsUntilStopped) {
  using clock = std::chrono::steady_clock;
  constexpr std::chrono::milliseconds kStopTime{12000};
  ASSERT_GT(kStopTime.count(), static_cast<long long>(kStopWaitHintMs));
  struct TSent {
    SERVICE_STATUS Status;
    clock::time_point At;
  };
  std::mutex lock;
  std::vector<TSent> sent;
  TSlowStopRun service(kStopTime);
  TNoEvents events;
  TControlQueue controls;
  controls.Post(TServiceControl::Stop);
  int exitStatus = -1;
  {
    TServiceStatusReporter reporter(
        [&](const SERVICE_STATUS& status) {
          std::lock_guard<std::mutex> guard(lock);
          sent.push_back({status, clock::now()});
          return true;
        },
        kPendingTick);
    exitStatus = RunControlThread(service, events, controls,
                                  [&](TServiceState State, bool Failed) { reporter.Report(State, Failed); });
  }
  EXPECT_EQ(exitStatus, kExitOk);
  EXPECT_EQ(service.FStops, 1);

  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent.front().Status.dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
  EXPECT_EQ(sent.front().Status.dwWaitHint, kStartWaitHintMs);
  size_t first = 0;
  while (first < sent.size() && sent[first].Status.dwCurrentState != SERVICE_STOP_PENDING) ++first;
  ASSERT_LT(first, sent.size()) << "no stop pending was reported";
  EXPECT_EQ(sent[first - 1].Status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  const TSent& last = sent.back();
  EXPECT_EQ(last.Status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(last.Status.dwCheckPoint, 0u);
  EXPECT_EQ(last.Status.dwWaitHint, 0u);
  EXPECT_EQ(last.Status.dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));

  // Every report between them: stop pending, accepting nothing, its checkpoint one more than
  // the last, and each within the hint of the one before, the stopped report too.
  const size_t pending = sent.size() - 1 - first;
  EXPECT_GE(pending, static_cast<size_t>(kStopTime / kPendingTick) - 1);  // about one a second
  for (size_t i = first; i + 1 < sent.size(); ++i) {
    const SERVICE_STATUS& status = sent[i].Status;
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING)) << i;
    EXPECT_EQ(status.dwCheckPoint, i - first + 1) << i;
    EXPECT_EQ(status.dwWaitHint, kStopWaitHintMs) << i;
    EXPECT_EQ(status.dwControlsAccepted, 0u) << i;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(sent[i + 1].At - sent[i].At).count(),
              static_cast<long long>(kStopWaitHintMs))
        << i;
  }
  for (size_t i = first; i < sent.size(); ++i)
    std::printf(
        "report %zu: state %lu checkpoint %lu hint %lu at +%lld ms\n", i, sent[i].Status.dwCurrentState,
        sent[i].Status.dwCheckPoint, sent[i].Status.dwWaitHint,
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(sent[i].At - sent[first].At).count()));
}

TEST(ServiceHostWindowsTest, RunningAcceptsThePreshutdownThatGivesAStopItsTime) {
  EXPECT_EQ(ServiceStatusOf(TServiceState::Running, false).dwControlsAccepted,
            static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN |
                               SERVICE_ACCEPT_PRESHUTDOWN));
  EXPECT_EQ(ServiceStatusOf(TServiceState::StartPending, false).dwControlsAccepted, 0u);
  const SERVICE_STATUS failed = ServiceStatusOf(TServiceState::Stopped, true);
  EXPECT_EQ(failed.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
  EXPECT_EQ(failed.dwServiceSpecificExitCode, kServiceFailedExitCode);
}

}  // namespace
}  // namespace dct
