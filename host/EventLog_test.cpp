#include "host/EventLog.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace dct {
namespace {

TEST(EventLogTest, JournalFieldsCarryPriorityIdentifierAndEvent) {
  const std::vector<std::string> info =
      JournalFields({TEventType::Information, 0, 1, "Служба успешно запущена"});
  EXPECT_EQ(info, (std::vector<std::string>{"MESSAGE=Служба успешно запущена", "PRIORITY=6",
                                            "SYSLOG_IDENTIFIER=dct_korvelmobile", "EVENT_ID=1",
                                            "EVENT_CATEGORY=0"}));
  const std::vector<std::string> error =
      JournalFields({TEventType::Error, 0, 0, "Service failed on start: x"});
  EXPECT_EQ(error[1], "PRIORITY=3");
  EXPECT_EQ(error[3], "EVENT_ID=0");
  EXPECT_EQ(JournalFields({TEventType::Warning, 0, 3, "w"})[1], "PRIORITY=4");
}

TEST(EventLogTest, ConsoleLineHoldsTypeIdentifierAndExactText) {
  EXPECT_EQ(ConsoleLine({TEventType::Information, 0, 1, "Служба успешно запущена"}),
            "dct_korvelmobile: information, event 1: Служба успешно запущена\n");
  EXPECT_EQ(ConsoleLine({TEventType::Error, 0, 0, "two\nlines\r"}),
            "dct_korvelmobile: error, event 0: two lines \n");
  EXPECT_EQ(ConsoleLine({TEventType::Warning, 0, 3, "w"}), "dct_korvelmobile: warning, event 3: w\n");
}

TEST(EventLogTest, ByHandEntriesGoToStandardError) {
  TEventLog log(false);
  testing::internal::CaptureStderr();
  log.Write({TEventType::Error, 0, 1, "Ошибка запуска службы: Библиотека не найдена"});
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "dct_korvelmobile: error, event 1: Ошибка запуска службы: Библиотека не найдена\n");
}

}  // namespace
}  // namespace dct
