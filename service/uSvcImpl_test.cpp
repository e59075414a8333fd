#include "service/uSvcImpl.h"

#include <gtest/gtest.h>

#include <memory>

#include "service/EnabledDeviceFixture.h"

namespace dct {
namespace {

// The single device over a fresh data root, enabled unless a test disables it.
class MobileDCTTest : public testing::TEnabledDeviceFixture {
 protected:
  struct TAnswer {
    bool Result;
    std::string Output;
    int Code;
    std::string Description;
  };
  TAnswer Execute(const std::string& id, const std::string& command, const std::string& input) {
    TAnswer a{};
    a.Output = "stale";
    a.Result = FService.ExecuteCommand(id, command, input, a.Output, a.Code, a.Description);
    return a;
  }

  TMobileDCT FService{FContext};
};

const char kEchoInput[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<sa><elm t=\"N\">2.5</elm>"
    "<elm t=\"S\">a &amp; b &lt;c&gt;</elm><elm t=\"A\" r=\"1\" c=\"0\"><elm t=\"S\">Привет</elm>"
    "</elm></sa>\r\n";

TEST_F(MobileDCTTest, EchoAnswersItsInput) {
  const TAnswer a = Execute("0", "echo", kEchoInput);
  EXPECT_TRUE(a.Result);
  EXPECT_EQ(a.Code, 0);
  EXPECT_EQ(a.Description, "Нет ошибок");
  TXMLEncoder encoder;
  EXPECT_EQ(encoder.Decode(a.Output), encoder.Decode(kEchoInput));
}

// The checks come in a fixed order: device, enabled, input; then the command.
TEST_F(MobileDCTTest, ChecksInOrder) {
  struct TCase {
    const char* Id;
    bool Enabled;
    const char* Command;
    const char* Input;
    int Code;
    const char* Description;
  };
  const TCase cases[] = {
      {"1", false, "NoSuch", "abc", 1013, "Устройство не найдено"},
      {"0", false, "NoSuch", "abc", 70, "Устройство не включено"},
      {"0", true, "NoSuch", "abc", 1004, "Ошибка входных параметров команды"},
      {"0", true, "NoSuch", "<sa><elm", 1004, "Ошибка входных параметров команды"},
      {"0", true, "NoSuch", "", 1002, "Команда не распознана устройством"},
      {"0", true, "Echo", "", 0, "Нет ошибок"},
  };
  for (const TCase& c : cases) {
    if (c.Enabled) {
      ASSERT_EQ(FContext.GetSingleDevice()->Enable(), 0);
    } else {
      FContext.GetSingleDevice()->Disable();
    }
    const TAnswer a = Execute(c.Id, c.Command, c.Input);
    EXPECT_EQ(a.Code, c.Code) << c.Id << " " << c.Command << " " << c.Input;
    EXPECT_EQ(a.Result, c.Code == 0);
    EXPECT_EQ(a.Description, c.Description);
    EXPECT_EQ(a.Output, "") << "no output unless the call succeeded";
  }
}

TEST_F(MobileDCTTest, SetSingleDeviceParamsRenamesTheDevice) {
  FContext.GetSingleDevice()->Disable();  // settings need no enabled device
  int code = -1;
  std::string description;
  EXPECT_TRUE(FService.SetSingleDeviceParams(true, true, "7", "2.0", "Склад", code, description));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(description, "Нет ошибок");
  TDevice& device = *FContext.GetSingleDevice();
  EXPECT_EQ(device.DeviceID(), "7");
  EXPECT_TRUE(device.AutoClearDocs());
  EXPECT_TRUE(device.AutoClearItems());
  EXPECT_EQ(device.AppVersion(), "2.0");
  EXPECT_EQ(device.AppName(), "Склад");

  EXPECT_EQ(Execute("7", "Echo", "").Code, 70);
  ASSERT_EQ(device.Enable(), 0);
  EXPECT_EQ(Execute("0", "Echo", "").Code, 1013);
  const TAnswer checkIn = Execute("7", "CheckIn", "");
  EXPECT_TRUE(checkIn.Result);
  EXPECT_NE(checkIn.Output.find("Склад"), std::string::npos) << checkIn.Output;

  FContext.FreeSingleDevice();
  EXPECT_FALSE(FService.SetSingleDeviceParams(false, false, "0", "", "", code, description));
  EXPECT_EQ(code, 1013);
  EXPECT_EQ(description, "Устройство не найдено");
}

}  // namespace
}  // namespace dct
