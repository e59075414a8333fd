#include "support/BaseLog.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/BaseLogFixture.h"
#include "support/TestSupport.h"
#include "support/uCommonUtils.h"

namespace dct {
namespace {

namespace fs = std::filesystem;
using testing::BaseLogUnitTest;

TEST(BaseLogNameTest, SessionTextOfTheKernel) {
  const struct {
    const char* Text;
    int Session;
  } cases[] = {
      {"3", 3},
      {"3\n", 3},
      {"0\n", 0},
      {"4294967295", 0},  // no login session: a system service
      {"", kUnknownLogSession},
      {"abc", kUnknownLogSession},
      {"-1", kUnknownLogSession},
      {"12x", kUnknownLogSession},
      {"4294967296", kUnknownLogSession},
      {"3000000000", kUnknownLogSession},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseLogSessionId(c.Text), c.Session) << c.Text;

  std::ifstream in("/proc/self/sessionid");
  std::string text;
  if (std::getline(in, text)) {
    EXPECT_EQ(GetLogSessionId(), ParseLogSessionId(text));
  } else {
    EXPECT_EQ(GetLogSessionId(), kUnknownLogSession);
  }
}

// What a forked child inherits: its parent's slot, recorded with the parent's PID.
TEST_F(BaseLogUnitTest, SlotOfAnotherProcessIsNotTaken) {
  const TProcessObject marker = CreateHostMarker(Marker());
  const int foreign = memfd_create(kPublicationSlotName, MFD_CLOEXEC);
  ASSERT_NE(marker, kNoProcessObject);
  ASSERT_GE(foreign, 0);
  struct {
    uint32_t Pid;
    char Name[kLogNameBufferSize];
  } record{};
  record.Pid = CurrentProcessId() + 1;
  std::strcpy(record.Name, "/elsewhere/parent_PC_0.log");
  ASSERT_EQ(pwrite(foreign, &record, sizeof(record), 0), static_cast<ssize_t>(sizeof(record)));
  {
    TBaseLog unit;
    EXPECT_FALSE(unit.IsHost());
    EXPECT_EQ(std::string(unit.LogFileName()), DropFileExtension(GetModuleFilePath()) + Suffix());
  }
  close(foreign);
  CloseHostMarker(marker);
}

// With no data folder of either kind, nothing is made, least of all below the working folder.
TEST_F(BaseLogUnitTest, NoDataFolderMeansNoLogFolderAndNoName) {
  const std::string blocked = FRoot + "/file";
  std::ofstream(blocked) << "not a folder";
  SetCommonAppDataRoot(blocked);
  testing::TScopedEnv xdg("XDG_DATA_HOME", blocked + "/xdg");
  testing::TScopedEnv home("HOME", blocked);
  const fs::path work = fs::path(FRoot) / "work";
  fs::create_directory(work);
  const fs::path before = fs::current_path();
  fs::current_path(work);
  EXPECT_EQ(GetLogFolder(), "");
  {
    TBaseLog host;
    EXPECT_TRUE(host.IsHost());
    EXPECT_STREQ(host.LogFileName(), "");
    TBaseLog second;
    EXPECT_STREQ(second.LogFileName(), "");
  }
  fs::current_path(before);
  EXPECT_TRUE(fs::is_empty(work));
}

}  // namespace
}  // namespace dct
