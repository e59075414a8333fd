#include "service/uSvcImpl.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "service/EnabledDeviceFixture.h"
#include "service/MemoryBudget.h"

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

TEST_F(MobileDCTTest, SettingsOfUnboundedLengthAreRefusedAndChangeNothing) {
  const std::string longest(TMobileDCT::kMaxSettingBytes, 'n');
  const std::string tooLong(TMobileDCT::kMaxSettingBytes + 1, 'n');
  int code = -1;
  std::string description;
  ASSERT_TRUE(FService.SetSingleDeviceParams(false, false, "0", longest, longest, code, description));
  for (int field = 0; field < 3; ++field) {
    EXPECT_FALSE(FService.SetSingleDeviceParams(true, true, field == 0 ? tooLong : "5",
                                                field == 1 ? tooLong : "2.0", field == 2 ? tooLong : "x",
                                                code, description))
        << field;
    EXPECT_EQ(code, 1004);
    EXPECT_EQ(description, "Ошибка входных параметров команды");
    const TDevice& device = *FContext.GetSingleDevice();
    EXPECT_EQ(device.DeviceID(), "0");
    EXPECT_EQ(device.AppVersion(), longest);
    EXPECT_EQ(device.AppName(), longest);
    EXPECT_FALSE(device.AutoClearDocs());
  }
}

// Under a listener a command runs only while its client's address is within its share, and
// its output counts there until it is encoded.
TEST_F(MobileDCTTest, ACommandWaitsForItsClientsShareAndCountsItsOutput) {
  TMemoryBudget budget({/*Total=*/64u << 20, /*PerAddress=*/32u << 20, /*ConnectionsPerAddress=*/4});
  const TMemoryBudget::TAddress address{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 10, 0, 0, 1};
  std::unique_ptr<TMemoryCharge> charge = budget.Open(address, 0);
  TMemoryCharge::TScope scope(charge.get());

  const std::string text(1u << 20, 'a');
  const std::string input = "<sa><elm t=\"S\">" + text + "</elm></sa>";
  const TAnswer a = Execute("0", "Echo", input);
  EXPECT_TRUE(a.Result);
  EXPECT_EQ(charge->Held(), 0u) << "the output value is given back once it is text";

  charge->Charge(32u << 20);  // answers waiting to be read fill the share
  try {
    Execute("0", "Echo", input);
    ADD_FAILURE() << "the command ran";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), TMobileDCT::kBudgetRefusal);
  }
  charge->Release(32u << 20);
  EXPECT_TRUE(Execute("0", "Echo", input).Result);
}

}  // namespace
}  // namespace dct
