// The log-naming unit's test fixture: a fresh machine-wide folder for each test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/BaseLog.h"
#include "support/TestSupport.h"
#include "support/uCommonUtils.h"

namespace dct::testing {

class BaseLogUnitTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCommonAppDataRoot(FRoot); }
  void TearDown() override { SetCommonAppDataRoot(""); }
  std::string Marker() const { return HostMarkerName(CurrentProcessId()); }
  static bool SlotPublished() {
    char name[kLogNameBufferSize];
    return ReadPublishedLogName(name);
  }
  // Appends, not "_" + a temporary: that inserts at the front, where GCC 12 at -O3 warns
  // of an overlapping copy that cannot happen (-Wrestrict).
  std::string Suffix() const {
    return std::string("_")
        .append(GetLogComputerName())
        .append("_")
        .append(std::to_string(GetLogSessionId()))
        .append(".log");
  }
  TTempDir FTemp{"baselog_test"};
  const std::string FRoot = FTemp.Path();
};

}  // namespace dct::testing
