// For the service's tests only: the single device of a context of its own, over a fresh data
// root, enabled, with a listener switch that only records its state (no sockets).
#pragma once

#include <gtest/gtest.h>

#include "device/uDevice.h"
#include "support/TestSupport.h"
#include "support/uCommonUtils.h"

namespace dct::testing {

class TNoListener : public IListenerSwitch {
 public:
  bool Listening() const override { return FListening; }
  void Start() override { FListening = true; }
  void Stop() override { FListening = false; }

 private:
  bool FListening = false;
};

class TEnabledDeviceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCommonAppDataRoot(FTemp.Path() + "/");
    FContext.SetListenerSwitch(&FListener);
    FContext.CreateSingleDevice();
    ASSERT_EQ(FContext.GetSingleDevice()->Enable(), 0);
  }
  void TearDown() override {
    FContext.FreeSingleDevice();
    FContext.SetListenerSwitch(nullptr);
    SetCommonAppDataRoot("");
  }

  TTempDir FTemp{"dct_service_device_test"};
  TNoListener FListener;
  TDeviceContext FContext;
};

}  // namespace dct::testing
