#include "support/BaseLog.h"

#include <cstdlib>
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

TEST(BaseLogNameTest, MarkerNameCarriesThePidInUpperCaseHexOfAtLeastSixDigits) {
  const struct {
    uint32_t Pid;
    const char* Marker;
  } cases[] = {
      {0x1A2C, "_com.korvel.baselog.host_001A2C"},       {0, "_com.korvel.baselog.host_000000"},
      {0xABCDEF, "_com.korvel.baselog.host_ABCDEF"},     {0x1234567, "_com.korvel.baselog.host_1234567"},
      {0xFFFFFFFF, "_com.korvel.baselog.host_FFFFFFFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(HostMarkerName(c.Pid), c.Marker) << c.Pid;
}

TEST(BaseLogNameTest, NameJoinsPrefixExtraComputerAndSession) {
  EXPECT_EQ(BuildLogName("/logs/dct_korvelmobilesvc", "", "PC1", 0), "/logs/dct_korvelmobilesvc_PC1_0.log");
  EXPECT_EQ(BuildLogName("/logs/p", "", "PC1", kUnknownLogSession), "/logs/p_PC1_9999.log");
  EXPECT_EQ(BuildLogName("/logs/p", "X", "PC1", 12), "/logs/pX_PC1_12.log");
  EXPECT_EQ(BuildLogName("/logs/p", "", "ПК", 1), "/logs/p_ПК_1.log");
}

TEST(BaseLogNameTest, LongNameIsCutAt259BytesWithoutSplittingACharacter) {
  const std::string ascii = BuildLogName(std::string(300, 'a'), "", "PC1", 0);
  EXPECT_EQ(ascii, std::string(259, 'a'));  // the ".log" ending is cut off too

  // 258 single bytes, then a two-byte letter that straddles byte 259.
  const std::string cyrillic = BuildLogName(std::string(258, 'a') + "Ж", "", "PC1", 0);
  EXPECT_EQ(cyrillic, std::string(258, 'a'));

  const std::string exact = BuildLogName(std::string(259 - 10, 'a'), "", "PC1", 0);
  EXPECT_EQ(exact.size(), 259u);
  EXPECT_EQ(exact.substr(exact.size() - 10), "_PC1_0.log");
}

TEST(BaseLogNameTest, BaseNameDropsFolderAndLastExtension) {
  EXPECT_EQ(ModuleBaseName("/opt/dct/dct_korvelmobilesvc"), "dct_korvelmobilesvc");
  EXPECT_EQ(ModuleBaseName("/opt/dct/libmod.so"), "libmod");
  EXPECT_EQ(ModuleBaseName("/opt/d.ir/prog"), "prog");
  EXPECT_EQ(ModuleBaseName("prog.exe"), "prog");
  EXPECT_EQ(DropFileExtension("/opt/d.ir/prog"), "/opt/d.ir/prog");
  EXPECT_EQ(DropFileExtension("/opt/dir/prog.bin"), "/opt/dir/prog");
  EXPECT_EQ(DropFileExtension("/opt/dir/.hidden"), "/opt/dir/.hidden");
}

using testing::BaseLogUnitTest;

TEST_F(BaseLogUnitTest, FirstUnitIsHostAndLaterUnitsTakeItsName) {
  ASSERT_FALSE(HostMarkerExists(Marker()));
  const std::string expected =
      FRoot + testing::NativePath("/ZeltEquipment/LOGs/") + ModuleBaseName(GetModuleFilePath()) + Suffix();
  {
    TBaseLog host;
    EXPECT_TRUE(host.IsHost());
    EXPECT_EQ(std::string(host.LogFileName()), expected);
    EXPECT_TRUE(fs::is_directory(FRoot + "/ZeltEquipment/LOGs"));
    EXPECT_TRUE(HostMarkerExists(Marker()));
    EXPECT_TRUE(SlotPublished());

    TBaseLog second("ignored because not host");
    EXPECT_FALSE(second.IsHost());
    EXPECT_EQ(std::string(second.LogFileName()), expected);
  }
  // Both objects went with the host; the next unit becomes the host itself.
  EXPECT_FALSE(HostMarkerExists(Marker()));
  EXPECT_FALSE(SlotPublished());
  TBaseLog next("X");
  EXPECT_TRUE(next.IsHost());
  EXPECT_EQ(std::string(next.LogFileName()), FRoot + testing::NativePath("/ZeltEquipment/LOGs/") +
                                                 ModuleBaseName(GetModuleFilePath()) + "X" + Suffix());
}

TEST_F(BaseLogUnitTest, MarkerWithoutSlotPutsTheNameBesideTheProgram) {
  const TProcessObject marker = CreateHostMarker(Marker());
  ASSERT_NE(marker, kNoProcessObject);
  {
    TBaseLog unit;
    EXPECT_FALSE(unit.IsHost());
    EXPECT_EQ(std::string(unit.LogFileName()), DropFileExtension(GetModuleFilePath()) + Suffix());
    EXPECT_FALSE(fs::exists(FRoot + "/ZeltEquipment"));  // only a host makes the folder
  }
  CloseHostMarker(marker);
}

TEST_F(BaseLogUnitTest, LogFolderIsMadeBelowTheMachineWideFolder) {
  const std::string folder = GetLogFolder();
  EXPECT_EQ(folder, FRoot + testing::NativePath("/ZeltEquipment/LOGs/"));
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(GetLogFolder(), folder);  // existing folder: same answer
}

}  // namespace
}  // namespace dct
