#include "host/ufmSvcMain.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace dct {
namespace {

class TFakeDevice : public IHostedDevice {
 public:
  int FEnableCode = 0;
  bool FEnableRaises = false;
  bool FDisableRaises = false;
  bool FEnabled = false;
  int FDisables = 0;

  int Enable() override {
    if (FEnableRaises) throw std::runtime_error("Could not bind socket. Address already in use");
    FEnabled = FEnableCode == 0;
    return FEnableCode;
  }
  void Disable() override {
    ++FDisables;
    FEnabled = false;
    if (FDisableRaises) throw std::runtime_error("buffer close failed");
  }
  bool Enabled() const override { return FEnabled; }
  std::string GetResultDescription(int code) const override {
    return code == 1006 ? "Библиотека не найдена" : "code " + std::to_string(code);
  }
};

class TRecordingLog : public IEventSink {
 public:
  void Write(const TEventEntry& entry) override { FEntries.push_back(entry); }
  std::vector<TEventEntry> FEntries;
};

TEST(ServiceTest, StartOutcomeIsWrittenAsExactlyOneEntry) {
  const struct {
    int Code;
    bool Raises;
    bool Started;
    TEventType Type;
    int Event;
    const char* Text;
  } cases[] = {
      {0, false, true, TEventType::Information, 1, "Служба успешно запущена"},
      {1006, false, false, TEventType::Error, 1, "Ошибка запуска службы: Библиотека не найдена"},
      {1001, false, false, TEventType::Error, 1, "Ошибка запуска службы: code 1001"},
      {0, true, false, TEventType::Error, 0,
       "Service failed on start: Could not bind socket. Address already in use"},
  };
  for (const auto& c : cases) {
    TFakeDevice device;
    device.FEnableCode = c.Code;
    device.FEnableRaises = c.Raises;
    TRecordingLog log;
    Tdct_korvelmobile service(device, log);
    EXPECT_EQ(service.ServiceStart(), c.Started) << c.Text;
    ASSERT_EQ(log.FEntries.size(), 1u) << c.Text;
    EXPECT_EQ(log.FEntries[0].Type, c.Type) << c.Text;
    EXPECT_EQ(log.FEntries[0].EventId, c.Event) << c.Text;
    EXPECT_EQ(log.FEntries[0].Category, 0) << c.Text;
    EXPECT_EQ(log.FEntries[0].Text, c.Text);
  }
}

TEST(ServiceTest, AStartThatLeftAWarningWritesItBeforeTheSuccess) {
  class TWarningDevice : public TFakeDevice {
   public:
    std::string StartWarning() const override { return "The data buffer was not compacted"; }
  } device;
  TRecordingLog log;
  Tdct_korvelmobile service(device, log);
  ASSERT_TRUE(service.ServiceStart());
  ASSERT_EQ(log.FEntries.size(), 2u);
  EXPECT_EQ(log.FEntries[0].Type, TEventType::Warning);
  EXPECT_EQ(log.FEntries[0].EventId, kStartWarningEventId);
  EXPECT_EQ(log.FEntries[0].Text, "The data buffer was not compacted");
  EXPECT_EQ(log.FEntries[1].Type, TEventType::Information);
  EXPECT_EQ(log.FEntries[1].Text, "Служба успешно запущена");
}

// A long Enable (a large VACUUM) keeps asking for start time, and the asking ends with it.
TEST(ServiceTest, ALongStartAsksForMoreTimeUntilEnableReturns) {
  std::mutex lock;
  std::condition_variable changed;
  int asked = 0;
  std::chrono::microseconds more{0};
  class TSlowDevice : public TFakeDevice {
   public:
    std::function<void()> FWhileEnabling;
    int Enable() override {
      FWhileEnabling();
      return TFakeDevice::Enable();
    }
  } device;
  device.FWhileEnabling = [&] {
    std::unique_lock<std::mutex> guard(lock);
    // Bounded: a start that is never extended fails the count below instead of hanging.
    changed.wait_for(guard, std::chrono::seconds(20), [&] { return asked >= 3; });
  };
  TRecordingLog log;
  Tdct_korvelmobile service(
      device, log,
      [&](std::chrono::microseconds by) {
        std::lock_guard<std::mutex> guard(lock);
        ++asked;
        more = by;
        changed.notify_all();
        return true;
      },
      std::chrono::milliseconds(1));
  ASSERT_TRUE(service.ServiceStart());
  int atReturn = 0;
  {
    std::lock_guard<std::mutex> guard(lock);
    atReturn = asked;
  }
  EXPECT_GE(atReturn, 3);
  EXPECT_EQ(more, kStartExtendBy);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // fifty periods
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(asked, atReturn);
}

TEST(ServiceTest, AQuickStartAsksForNoTime) {
  TFakeDevice device;
  TRecordingLog log;
  int asked = 0;
  Tdct_korvelmobile service(
      device, log, [&](std::chrono::microseconds) { return ++asked > 0; }, std::chrono::seconds(10));
  ASSERT_TRUE(service.ServiceStart());
  EXPECT_EQ(asked, 0);
}

TEST(ServiceTest, StopDisablesOnceAndReportsARaise) {
  TFakeDevice device;
  TRecordingLog log;
  Tdct_korvelmobile service(device, log);
  ASSERT_TRUE(service.ServiceStart());
  EXPECT_TRUE(service.ServiceStop());
  EXPECT_EQ(device.FDisables, 1);
  EXPECT_FALSE(device.FEnabled);
  EXPECT_EQ(log.FEntries.size(), 1u);  // a good stop writes nothing

  device.FDisableRaises = true;
  EXPECT_FALSE(service.ServiceStop());
  ASSERT_EQ(log.FEntries.size(), 2u);
  EXPECT_EQ(log.FEntries[1].Type, TEventType::Error);
  EXPECT_EQ(log.FEntries[1].EventId, 0);
  EXPECT_EQ(log.FEntries[1].Text, "Service failed on stop: buffer close failed");
}

TEST(ServiceTest, ShutdownDisablesAndNamesItselfInItsFailure) {
  TFakeDevice device;
  TRecordingLog log;
  Tdct_korvelmobile service(device, log);
  ASSERT_TRUE(service.ServiceStart());
  EXPECT_TRUE(service.ServiceShutdown());
  EXPECT_FALSE(device.FEnabled);
  device.FDisableRaises = true;
  EXPECT_FALSE(service.ServiceShutdown());
  EXPECT_EQ(device.FDisables, 2);
  ASSERT_EQ(log.FEntries.size(), 2u);
  EXPECT_EQ(log.FEntries[1].Text, "Service failed on shutdown: buffer close failed");
}

}  // namespace
}  // namespace dct
