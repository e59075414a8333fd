#include "support/BaseLog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>

#include "support/BaseLogFixture.h"

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

}  // namespace
}  // namespace dct
