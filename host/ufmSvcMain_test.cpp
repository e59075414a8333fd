#include "host/ufmSvcMain.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace dct {
namespace {

class TFakeDevice : public IHostedDevice {
 public:
  int enable_code = 0;
  bool enable_raises = false;
  bool disable_raises = false;
  bool enabled = false;
  int disables = 0;

  int Enable() override {
    if (enable_raises) throw std::runtime_error("Could not bind socket. Address already in use");
    enabled = enable_code == 0;
    return enable_code;
  }
  void Disable() override {
    ++disables;
    enabled = false;
    if (disable_raises) throw std::runtime_error("buffer close failed");
  }
  bool Enabled() const override { return enabled; }
  std::string GetResultDescription(int code) const override {
    return code == 1006 ? "Библиотека не найдена" : "code " + std::to_string(code);
  }
};

class TRecordingLog : public IEventSink {
 public:
  void Write(const TEventEntry& entry) override { entries.push_back(entry); }
  std::vector<TEventEntry> entries;
};

TEST(ServiceTest, StartOutcomeIsWrittenAsExactlyOneEntry) {
  const struct {
    int code;
    bool raises;
    bool started;
    TEventType type;
    int event;
    const char* text;
  } cases[] = {
      {0, false, true, TEventType::Information, 1, "Служба успешно запущена"},
      {1006, false, false, TEventType::Error, 1, "Ошибка запуска службы: Библиотека не найдена"},
      {1001, false, false, TEventType::Error, 1, "Ошибка запуска службы: code 1001"},
      {0, true, false, TEventType::Error, 0,
       "Service failed on start: Could not bind socket. Address already in use"},
  };
  for (const auto& c : cases) {
    TFakeDevice device;
    device.enable_code = c.code;
    device.enable_raises = c.raises;
    TRecordingLog log;
    Tdct_korvelmobile service(device, log);
    EXPECT_EQ(service.ServiceStart(), c.started) << c.text;
    ASSERT_EQ(log.entries.size(), 1u) << c.text;
    EXPECT_EQ(log.entries[0].Type, c.type) << c.text;
    EXPECT_EQ(log.entries[0].EventId, c.event) << c.text;
    EXPECT_EQ(log.entries[0].Category, 0) << c.text;
    EXPECT_EQ(log.entries[0].Text, c.text);
  }
}

TEST(ServiceTest, StopDisablesOnceAndReportsARaise) {
  TFakeDevice device;
  TRecordingLog log;
  Tdct_korvelmobile service(device, log);
  ASSERT_TRUE(service.ServiceStart());
  EXPECT_TRUE(service.ServiceStop());
  EXPECT_EQ(device.disables, 1);
  EXPECT_FALSE(device.enabled);
  EXPECT_EQ(log.entries.size(), 1u);  // a good stop writes nothing

  device.disable_raises = true;
  EXPECT_FALSE(service.ServiceStop());
  ASSERT_EQ(log.entries.size(), 2u);
  EXPECT_EQ(log.entries[1].Type, TEventType::Error);
  EXPECT_EQ(log.entries[1].EventId, 0);
  EXPECT_EQ(log.entries[1].Text, "Service failed on stop: buffer close failed");
}

}  // namespace
}  // namespace dct
