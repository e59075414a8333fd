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
  void SetUp() override { SetCommonAppDataRoot(tmp_.path() + "/"); }
  void TearDown() override { SetCommonAppDataRoot(""); }

  testing::TempDir tmp_{"dct_device_context_test"};
  TDeviceContext context_;
};

TEST_F(DeviceContextTest, FindsByExactIdentifier) {
  auto device = std::make_unique<TDevice>(context_);
  EXPECT_EQ(context_.GetSingleDevice(), device.get());
  EXPECT_EQ(context_.FindDevice("0"), device.get());
  device->SetDeviceID("ABC");
  EXPECT_EQ(context_.FindDevice("0"), nullptr);
  EXPECT_EQ(context_.FindDevice("abc"), nullptr);
  EXPECT_EQ(context_.FindDevice("ABC"), device.get());
  device.reset();
  EXPECT_EQ(context_.GetSingleDevice(), nullptr);
}

TEST_F(DeviceContextTest, CreateAndFreeSingleDevice) {
  context_.CreateSingleDevice();
  TDevice* first = context_.GetSingleDevice();
  ASSERT_NE(first, nullptr);
  context_.CreateSingleDevice();  // a second call keeps the one device
  EXPECT_EQ(context_.GetSingleDevice(), first);
  EXPECT_EQ(first->DeviceID(), "0");
  context_.FreeSingleDevice();
  EXPECT_EQ(context_.GetSingleDevice(), nullptr);
  context_.FreeSingleDevice();  // nothing to free
}

// Two contexts share nothing: each has its own list, numbering and listener count.
TEST_F(DeviceContextTest, ContextsAreIndependent) {
  TDeviceContext other;
  context_.CreateSingleDevice();
  other.CreateSingleDevice();
  EXPECT_NE(context_.GetSingleDevice(), other.GetSingleDevice());
  EXPECT_EQ(other.GetSingleDevice()->DeviceID(), "0");
  EXPECT_EQ(other.FindDevice("0"), other.GetSingleDevice());
  context_.StartListener();
  EXPECT_EQ(context_.ListenerUsers(), 1);
  EXPECT_EQ(other.ListenerUsers(), 0);
  context_.StopListener();
}

// Racing creators make one device between them.
TEST_F(DeviceContextTest, ConcurrentCreateSingleDeviceMakesOne) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([this] { context_.CreateSingleDevice(); });
  for (auto& t : threads) t.join();
  ASSERT_NE(context_.GetSingleDevice(), nullptr);
  EXPECT_EQ(context_.GetSingleDevice()->DeviceID(), "0");
  EXPECT_EQ(context_.FindDevice("1"), nullptr);
}

}  // namespace
}  // namespace dct
