#include "host/ServiceClient.h"

#include <gtest/gtest.h>

#include "service/uSOAPMessage.h"
#include "service/uSvcIntf.h"

namespace dct {
namespace {

TEST(ServiceClient, EnvelopeReadsBackThroughTheServicesOwnParser) {
  const std::string value = "<?xml version=\"1.0\"?>\r\n<sa><elm t=\"S\">a &amp; b\r\nc</elm></sa>\r\n";
  std::string body = ExecuteCommandEnvelope("касса 1", "SaveItemsToBuff", value);
  TSOAPRequest request(body);
  EXPECT_EQ(request.OperationName(), "ExecuteCommand");
  EXPECT_EQ(request.OperationNamespace(), MobileDCTInterface().Namespace);
  EXPECT_EQ(request.String("DeviceID"), "касса 1");
  EXPECT_EQ(request.String("CommandName"), "SaveItemsToBuff");
  EXPECT_EQ(request.String("InputParameters"), value);  // CR kept, escapes undone once
}

std::string Answer(bool ok, int code, const std::string& description, const std::string& output) {
  TSOAPResponseWriter w(MobileDCTInterface(), "ExecuteCommand");
  w.Boolean("return", ok);
  w.String("OutputParameters", output);
  w.Int("ResultCode", code);
  w.String("ResultDescription", description);
  return w.Finish();
}

TEST(ServiceClient, ReadsTheServicesAnswers) {
  TCommandAnswer a = ParseExecuteCommandAnswer(200, Answer(true, 0, "Нет ошибок", "<sa>\r\n</sa>"));
  EXPECT_EQ(a.ResultCode, 0);
  EXPECT_EQ(a.ResultDescription, "Нет ошибок");
  EXPECT_EQ(a.OutputParameters, "<sa>\r\n</sa>");
  a = ParseExecuteCommandAnswer(200, Answer(false, 6507, "Документы не найдены", ""));
  EXPECT_EQ(a.ResultCode, 6507);
  EXPECT_EQ(a.ResultDescription, "Документы не найдены");
}

std::string OtherOperation() {
  TSOAPResponseWriter w(MobileDCTInterface(), "SetSingleDeviceParams");
  w.Boolean("return", true);
  w.Int("ResultCode", 0);
  w.String("ResultDescription", "");
  return w.Finish();
}

TEST(ServiceClient, FaultsAndOtherAnswersAreErrorsThatSayWhat) {
  struct {
    int Status;
    std::string Body;
    std::string Message;
  } cases[] = {
      {200, SOAPFaultEnvelope("Unknown device"), "SOAP fault: Unknown device"},
      {500, SOAPFixedFault("No interface"), "SOAP fault: No interface"},
      {500, "Maximum number of concurrent connections exceeded.", "HTTP status 500"},
      {404, "<html/>", "HTTP status 404"},
      {200, "<a><b>", "not well-formed XML"},
      {200, "<Envelope/>", "not a SOAP envelope"},
      {200, OtherOperation(), "not an ExecuteCommand answer"},
  };
  for (const auto& c : cases) {
    try {
      ParseExecuteCommandAnswer(c.Status, c.Body);
      ADD_FAILURE() << c.Body;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << e.what();
    }
  }
}

TEST(ServiceClient, AddressTakesNoPathButTheStatusPage) {
  struct {
    std::string URL;
    bool Ok;
  } cases[] = {{"http://shop:7300", true},
               {"http://shop:7300/", true},
               {"http://shop:7300/status.json", true},
               {"http://shop:7300/soap/IMobileDCT", false},
               {"https://shop", false}};
  for (const auto& c : cases) {
    THostOptions options;
    options.ServiceURL = c.URL;
    TStatusAddress address;
    std::string error;
    EXPECT_EQ(ServiceAddress(options, address, error), c.Ok) << c.URL << ": " << error;
  }
}

}  // namespace
}  // namespace dct
