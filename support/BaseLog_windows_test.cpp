#include "support/BaseLog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <filesystem>

#include "support/BaseLogFixture.h"
#include "support/TestSupport.h"
#include "support/uCommonUtils.h"
#include "support/uWideText.h"

namespace dct {
namespace {

using testing::BaseLogUnitTest;

// The marker's name as other modules know it, spelled out here rather than taken from the unit.
std::wstring MarkerOfThisProcess() {
  wchar_t name[64];
  std::swprintf(name, 64, L"_com.korvel.baselog.host_%06lX", GetCurrentProcessId());
  return name;
}

bool SlotFromAnotherModule(WNDCLASSA& slot) {
  return GetClassInfoA(GetModuleHandleW(L"kernel32.dll"), "_com.korvel.baselog.dataclass", &slot) != 0;
}

TEST_F(BaseLogUnitTest, HostHoldsANamedMutexAndAGlobalClassPointingAtItsName) {
  {
    TBaseLog host;
    ASSERT_TRUE(host.IsHost());
    const HANDLE marker = OpenMutexW(SYNCHRONIZE, FALSE, MarkerOfThisProcess().c_str());
    EXPECT_NE(marker, nullptr);
    if (marker != nullptr) CloseHandle(marker);

    // CS_GLOBALCLASS: any module of the process finds the class, whatever instance it asks with.
    WNDCLASSA slot{};
    ASSERT_TRUE(SlotFromAnotherModule(slot));
    EXPECT_EQ(slot.style & CS_GLOBALCLASS, static_cast<UINT>(CS_GLOBALCLASS));
    EXPECT_EQ(reinterpret_cast<const void*>(slot.lpfnWndProc), static_cast<const void*>(host.LogFileName()));
  }
  EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, MarkerOfThisProcess().c_str()), nullptr);
  WNDCLASSA gone{};
  EXPECT_FALSE(SlotFromAnotherModule(gone));
}

TEST_F(BaseLogUnitTest, MutexMadeElsewhereInTheProcessMakesTheUnitAGuest) {
  const HANDLE other = CreateMutexW(nullptr, FALSE, MarkerOfThisProcess().c_str());
  ASSERT_NE(other, nullptr);
  {
    TBaseLog unit;
    EXPECT_FALSE(unit.IsHost());
  }
  CloseHandle(other);
}

// The text in the system's ANSI code page, converted here on its own.
std::string Ansi(const std::wstring& Text) {
  const int length = WideCharToMultiByte(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), text.data(), length, nullptr,
                      nullptr);
  return text;
}

// Other modules read the published name as ANSI text: a folder (or a computer name) in
// Cyrillic must reach them in the code page, not as UTF-8 bytes that read as other letters.
TEST(BaseLogWindowsTest, TheNameIsPublishedInTheAnsiCodePage) {
  testing::TTempDir temp("baselog_ansi");
  const std::wstring folder = std::filesystem::path(temp.Path()).wstring() + L"\\Данные";
  std::filesystem::create_directory(folder);
  const std::string root = WideToUtf8(folder);
  SetCommonAppDataRoot(root);
  {
    TBaseLog host;
    ASSERT_TRUE(host.IsHost());
    const std::string utf8 = root + "\\ZeltEquipment\\LOGs\\" + ModuleBaseName(GetModuleFilePath()) + "_" +
                             GetLogComputerName() + "_" + std::to_string(GetLogSessionId()) + ".log";
    EXPECT_EQ(std::string(host.LogFileName()), Ansi(Utf8ToWide(utf8)));
    EXPECT_NE(std::string(host.LogFileName()), utf8);
    if (GetACP() == 1251) {  // a Russian system: every letter is in the code page
      const std::string shown = host.LogFileName();
      std::wstring back(shown.size(), L'\0');
      back.resize(
          static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, shown.data(), static_cast<int>(shown.size()),
                                                  back.data(), static_cast<int>(back.size()))));
      EXPECT_EQ(WideToUtf8(back), utf8);
    }
    TBaseLog guest;  // takes the bytes as they were published
    EXPECT_STREQ(guest.LogFileName(), host.LogFileName());
  }
  SetCommonAppDataRoot("");
}

TEST(BaseLogWindowsTest, ALongAnsiNameIsCutAt259BytesOnACharacter) {
  const std::string cut = LogNameBufferText(std::string(258, 'a') + "Ж" + "_PC1_0.log");
  CPINFO codePage{};
  ASSERT_TRUE(GetCPInfo(CP_ACP, &codePage));
  // One byte in a single-byte code page (where UTF-8 takes two, and the name would lose it);
  // two in a double-byte one, which do not fit and are left out whole.
  EXPECT_EQ(cut.size(), codePage.MaxCharSize == 1 ? 259u : 258u);
  EXPECT_EQ(cut.substr(0, 258), std::string(258, 'a'));
  EXPECT_EQ(LogNameBufferText("C:\\logs\\p_PC1_0.log"), "C:\\logs\\p_PC1_0.log");
}

}  // namespace
}  // namespace dct
