#include "buffer/uDataBuffer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "buffer/DataBufferFixture.h"
#include "support/TestSupport.h"
#include "support/uCommonUtils.h"

namespace dct {
namespace {

namespace fs = std::filesystem;
using DataBufferTest = testing::TDataBufferFixture;

TEST_F(DataBufferTest, TheFolderIsWrittenWithBackslashesBelowTheMachineWideFolder) {
  SetCommonAppDataRoot(FTemp.Path() + "\\root");
  TDataBuffer buffer;
  SetCommonAppDataRoot("");
  const std::string folder = FTemp.Path() + "\\root\\dct_korvelmobile\\DataBuffer\\";
  EXPECT_EQ(buffer.DBPath(), folder);
  EXPECT_EQ(buffer.FileName(), folder + "0.db");
  ASSERT_EQ(buffer.Enable(), 0) << buffer.ResultDescription();
  EXPECT_TRUE(fs::is_regular_file(folder + "0.db"));
}

// Beside "/", a backslash or a drive's colon would take the file out of the folder.
TEST_F(DataBufferTest, AnIdentifierWithABackslashOrColonIsRefused) {
  for (const char* id : {"..\\escaped", "a\\b", "C:escaped", "0.db:stream"}) {
    FBuffer->SetDBID(id);
    EXPECT_EQ(FBuffer->Enable(), 1001) << id;
    EXPECT_NE(FBuffer->ResultDescription().find("invalid database identifier"), std::string::npos)
        << FBuffer->ResultDescription();
  }
  EXPECT_FALSE(fs::exists(FTemp.Path() + "\\escaped.db"));
}

}  // namespace
}  // namespace dct
