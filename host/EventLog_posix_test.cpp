#include "host/EventLog.h"

#include <sys/stat.h>

#include <cstdlib>

#include <gtest/gtest.h>

namespace dct {
namespace {

TEST(EventLogTest, SystemdIsRecognisedByItsEnvironment) {
  unsetenv("JOURNAL_STREAM");
  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(StartedBySystemd());
  setenv("JOURNAL_STREAM", "", 1);
  EXPECT_FALSE(StartedBySystemd());  // empty is unset
  setenv("JOURNAL_STREAM", "8:12345", 1);
  EXPECT_TRUE(StartedBySystemd());
  unsetenv("JOURNAL_STREAM");
  setenv("NOTIFY_SOCKET", "/run/systemd/notify", 1);
  EXPECT_TRUE(StartedBySystemd());
  unsetenv("NOTIFY_SOCKET");
}

TEST(EventLogTest, EntryRefusedByTheJournalStillReachesStandardError) {
  struct stat st {};
  if (stat("/run/systemd/journal/socket", &st) == 0) {
    GTEST_SKIP() << "a journal runs here and takes the entry";
  }
  TEventLog log(true);
  testing::internal::CaptureStderr();
  log.Write({TEventType::Information, 0, 1, "x"});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "dct_korvelmobile: information, event 1: x\n");
}

}  // namespace
}  // namespace dct
