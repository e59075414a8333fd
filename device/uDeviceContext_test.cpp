#include "device/uDeviceContext.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "device/uDevice.h"
#include "support/TestSupport.h"
#include "support/uCommonUtils.h"

namespace dct {
namespace {

// A device makes its buffer folder when constructed, so every test runs in a fresh data root.
class DeviceContextTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCommonAppDataRoot(FTemp.Path() + "/"); }
  void TearDown() override { SetCommonAppDataRoot(""); }

  testing::TTempDir FTemp{"dct_device_context_test"};
  TDeviceContext FContext;
};

TEST_F(DeviceContextTest, FindsByExactIdentifier) {
  auto device = std::make_unique<TDevice>(FContext);
  EXPECT_EQ(FContext.GetSingleDevice(), device.get());
  EXPECT_EQ(FContext.FindDevice("0"), device.get());
  device->SetDeviceID("ABC");
  EXPECT_EQ(FContext.FindDevice("0"), nullptr);
  EXPECT_EQ(FContext.FindDevice("abc"), nullptr);
  EXPECT_EQ(FContext.FindDevice("ABC"), device.get());
  device.reset();
  EXPECT_EQ(FContext.GetSingleDevice(), nullptr);
}

TEST_F(DeviceContextTest, CreateAndFreeSingleDevice) {
  FContext.CreateSingleDevice();
  TDevice* first = FContext.GetSingleDevice();
  ASSERT_NE(first, nullptr);
  FContext.CreateSingleDevice();  // a second call keeps the one device
  EXPECT_EQ(FContext.GetSingleDevice(), first);
  EXPECT_EQ(first->DeviceID(), "0");
  FContext.FreeSingleDevice();
  EXPECT_EQ(FContext.GetSingleDevice(), nullptr);
  FContext.FreeSingleDevice();  // nothing to free
}

// Two contexts share nothing: each has its own list, numbering and listener count.
TEST_F(DeviceContextTest, ContextsAreIndependent) {
  TDeviceContext other;
  FContext.CreateSingleDevice();
  other.CreateSingleDevice();
  EXPECT_NE(FContext.GetSingleDevice(), other.GetSingleDevice());
  EXPECT_EQ(other.GetSingleDevice()->DeviceID(), "0");
  EXPECT_EQ(other.FindDevice("0"), other.GetSingleDevice());
  FContext.StartListener();
  EXPECT_EQ(FContext.ListenerUsers(), 1);
  EXPECT_EQ(other.ListenerUsers(), 0);
  FContext.StopListener();
}

// Racing creators make one device between them.
TEST_F(DeviceContextTest, ConcurrentCreateSingleDeviceMakesOne) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([this] { FContext.CreateSingleDevice(); });
  for (auto& t : threads) t.join();
  ASSERT_NE(FContext.GetSingleDevice(), nullptr);
  EXPECT_EQ(FContext.GetSingleDevice()->DeviceID(), "0");
  EXPECT_EQ(FContext.FindDevice("1"), nullptr);
}

}  // namespace
}  // namespace dct
