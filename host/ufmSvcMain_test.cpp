#include "host/ufmSvcMain.h"

#include <stdexcept>

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
