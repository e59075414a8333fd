#include "host/ServiceHost.h"

#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace dct {
namespace {

using S = TServiceState;
using C = TServiceControl;

class TFakeRun : public IServiceRun {
 public:
  bool FStarts = true;
  bool FStopsCleanly = true;
  std::vector<std::string> FCalls;
  std::vector<std::string> FFailures;

  bool Start(IEventSink&) override {
    FCalls.push_back("start");
    return FStarts;
  }
  bool Stop() override {
    FCalls.push_back("stop");
    return FStopsCleanly;
  }
  bool Shutdown() override {
    FCalls.push_back("shutdown");
    return FStopsCleanly;
  }
  void WriteFailure(const std::string& Request, const std::string& Message) override {
    FFailures.push_back(Request + ": " + Message);
  }
};

class TRecordingLog : public IEventSink {
 public:
  void Write(const TEventEntry& Entry) override { FEntries.push_back(Entry); }
  std::vector<TEventEntry> FEntries;
};

struct TReported {
  S State;
  bool Failed;
  bool operator==(const TReported&) const = default;
};

// Runs the control thread over Controls, all posted before it starts; the reports raise for
// the states in Refused.
struct TControlRun {
  std::vector<TReported> Reports;
  int ExitStatus = -1;

  TControlRun(TFakeRun& Service, TRecordingLog& Log, const std::vector<C>& Controls,
              const std::vector<S>& Refused = {}) {
    TControlQueue queue;
    for (C c : Controls) queue.Post(c);
    ExitStatus = RunControlThread(Service, Log, queue, [&](S State, bool Failed) {
      Reports.push_back({State, Failed});
      for (S r : Refused) {
        if (r == State) throw std::runtime_error("status refused");
      }
    });
  }
};

TEST(ControlThreadTest, RequestsMoveTheStateAsTheServiceManagerSeesIt) {
  const struct {
    const char* Name;
    std::vector<C> Controls;
    std::vector<TReported> Reports;
    std::vector<std::string> Calls;
  } cases[] = {
      {"stop",
       {C::Stop},
       {{S::StartPending, false}, {S::Running, false}, {S::StopPending, false}, {S::Stopped, false}},
       {"start", "stop"}},
      {"shutdown",
       {C::Shutdown, C::Stop},
       {{S::StartPending, false}, {S::Running, false}, {S::StopPending, false}, {S::Stopped, false}},
       {"start", "shutdown"}},
      {"pause, interrogate, continue, interrogate, stop",
       {C::Pause, C::Interrogate, C::Continue, C::Interrogate, C::Stop},
       {{S::StartPending, false},
        {S::Running, false},
        {S::Paused, false},
        {S::Paused, false},
        {S::Running, false},
        {S::Running, false},
        {S::StopPending, false},
        {S::Stopped, false}},
       {"start", "stop"}},
      {"stop while paused",
       {C::Pause, C::Stop},
       {{S::StartPending, false},
        {S::Running, false},
        {S::Paused, false},
        {S::StopPending, false},
        {S::Stopped, false}},
       {"start", "stop"}},
  };
  for (const auto& c : cases) {
    TFakeRun service;
    TRecordingLog log;
    const TControlRun run(service, log, c.Controls);
    EXPECT_EQ(run.ExitStatus, 0) << c.Name;
    EXPECT_EQ(run.Reports, c.Reports) << c.Name;
    EXPECT_EQ(service.FCalls, c.Calls) << c.Name;
    EXPECT_TRUE(service.FFailures.empty()) << c.Name;
  }
}

TEST(ControlThreadTest, FailedStartOrStopEndsAsAFailedStop) {
  TFakeRun notStarting;
  notStarting.FStarts = false;
  TRecordingLog log;
  const TControlRun failedStart(notStarting, log, {C::Stop});  // the stop must not be served
  EXPECT_EQ(failedStart.ExitStatus, 1);
  EXPECT_EQ(failedStart.Reports, (std::vector<TReported>{{S::StartPending, false}, {S::Stopped, true}}));
  EXPECT_EQ(notStarting.FCalls, std::vector<std::string>{"start"});

  TFakeRun badStop;
  badStop.FStopsCleanly = false;
  const TControlRun failedStop(badStop, log, {C::Stop});
  EXPECT_EQ(failedStop.ExitStatus, 1);
  EXPECT_EQ(failedStop.Reports.back(), (TReported{S::Stopped, true}));
}

TEST(ControlThreadTest, ARequestThatRaisesIsWrittenUnderItsNameAndTheServiceGoesOn) {
  TFakeRun service;
  TRecordingLog log;
  const TControlRun run(service, log, {C::Pause, C::Interrogate, C::Stop}, {S::Paused});
  EXPECT_EQ(service.FFailures, std::vector<std::string>{"pause: status refused"});
  // The refused pause left the service running, and interrogate says so.
  EXPECT_EQ(run.Reports[3], (TReported{S::Running, false}));
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(service.FCalls, (std::vector<std::string>{"start", "stop"}));
}

TEST(ControlThreadTest, StartPendingThatCannotBeReportedEndsBeforeTheStart) {
  TFakeRun service;
  TRecordingLog log;
  const TControlRun run(service, log, {C::Stop}, {S::StartPending});
  EXPECT_EQ(run.ExitStatus, 1);
  EXPECT_TRUE(service.FCalls.empty());
  ASSERT_EQ(log.FEntries.size(), 1u);
  EXPECT_EQ(log.FEntries[0].Type, TEventType::Error);
  EXPECT_EQ(log.FEntries[0].EventId, 0);
  EXPECT_EQ(log.FEntries[0].Text, "Service failed on start: status refused");
}

TEST(ControlQueueTest, RequestPostedFromAnotherThreadWakesTheTaker) {
  TControlQueue queue;
  std::thread handler([&] {
    queue.Post(C::Interrogate);
    queue.Post(C::Stop);
  });
  EXPECT_EQ(queue.Take(), C::Interrogate);
  EXPECT_EQ(queue.Take(), C::Stop);
  handler.join();
}

}  // namespace
}  // namespace dct
