#include "device/uDeviceList.h"

#include <gtest/gtest.h>

#include <memory>

#include "device/uDevice.h"
#include "support/TestSupport.h"
#include "support/uCommonUtils.h"

namespace dct {
namespace {

// A device makes its buffer folder when constructed, so every test runs in a fresh data root.
class DeviceListTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCommonAppDataRoot(tmp_.path() + "/"); }
  void TearDown() override { SetCommonAppDataRoot(""); }

  testing::TempDir tmp_{"dct_device_list_test"};
};

TEST_F(DeviceListTest, FindsByExactIdentifier) {
  auto device = std::make_unique<TDevice>();
  EXPECT_EQ(GetSingleDevice(), device.get());
  EXPECT_EQ(FindDevice("0"), device.get());
  device->SetDeviceID("ABC");
  EXPECT_EQ(FindDevice("0"), nullptr);
  EXPECT_EQ(FindDevice("abc"), nullptr);
  EXPECT_EQ(FindDevice("ABC"), device.get());
  device.reset();
  EXPECT_EQ(GetSingleDevice(), nullptr);
}

TEST_F(DeviceListTest, CreateAndFreeSingleDevice) {
  CreateSingleDevice();
  TDevice* first = GetSingleDevice();
  ASSERT_NE(first, nullptr);
  CreateSingleDevice();  // a second call keeps the one device
  EXPECT_EQ(GetSingleDevice(), first);
  EXPECT_EQ(first->DeviceID(), "0");
  FreeSingleDevice();
  EXPECT_EQ(GetSingleDevice(), nullptr);
  FreeSingleDevice();  // nothing to free
}

}  // namespace
}  // namespace dct
