#include "service/uSOAPDispatcher.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <stdexcept>

#include "service/uSOAPMessage.h"

namespace dct {
namespace {

// Records what reached the interface and answers what the test sets.
struct TCalls {
  int Count = 0;
  std::string deviceID, commandName, Input;
  bool AutoClearDocs = false, autoClearItems = false;
  std::string appVersion, AppName;
  std::string Output = "<sa/>";
  int Code = 0;
  std::string Raise;  // when set, the operation raises with this message
};

class TFakeMobileDCT : public IMobileDCT {
 public:
  explicit TFakeMobileDCT(TCalls& calls) : FCalls(calls) {}
  bool ExecuteCommand(const std::string& DeviceID, const std::string& CommandName,
                      std::string_view InputParameters, std::string& OutputParameters, int& ResultCode,
                      std::string& ResultDescription) override {
    ++FCalls.Count;
    if (!FCalls.Raise.empty()) throw std::runtime_error(FCalls.Raise);
    FCalls.deviceID = DeviceID;
    FCalls.commandName = CommandName;
    FCalls.Input = std::string(InputParameters);
    OutputParameters = FCalls.Output;
    ResultCode = FCalls.Code;
    ResultDescription = "описание";
    return ResultCode == 0;
  }
  bool SetSingleDeviceParams(bool AutoClearDocs, bool AutoClearItems, const std::string& DeviceID,
                             const std::string& AppVersion, const std::string& AppName, int& ResultCode,
                             std::string& ResultDescription) override {
    ++FCalls.Count;
    FCalls.AutoClearDocs = AutoClearDocs;
    FCalls.autoClearItems = AutoClearItems;
    FCalls.deviceID = DeviceID;
    FCalls.appVersion = AppVersion;
    FCalls.AppName = AppName;
    ResultCode = 0;
    ResultDescription = "ok";
    return true;
  }

 private:
  TCalls& FCalls;
};

const char kExecuteBody[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
    " xmlns:ns1=\"urn:uSvcIntf-IMobileDCT\"><SOAP-ENV:Body><ns1:ExecuteCommand>"
    "<DeviceID>0</DeviceID><CommandName>Echo</CommandName>"
    "<InputParameters>&lt;sa&gt;&lt;elm t=\"S\"&gt;a &amp;amp; b&lt;/elm&gt;&lt;/sa&gt;"
    "</InputParameters></ns1:ExecuteCommand></SOAP-ENV:Body></SOAP-ENV:Envelope>";

class SOAPDispatcherTest : public ::testing::Test {
 protected:
  SOAPDispatcherTest() : FDispatcher([this] { return std::make_unique<TFakeMobileDCT>(FCalls); }) {}

  TWebResponse Post(const std::string& path, const std::string& action,
                    const std::string& body = kExecuteBody, const std::string& httpAction = "") {
    TWebRequest r;
    r.Method = "POST";
    r.Target = path;
    r.SOAPAction = action;
    r.HTTPSoapAction = httpAction;
    r.Body = body;
    return FDispatcher.Dispatch(r);
  }

  // The faultstring of a fault answer, "" for any other answer.
  static std::string FaultString(const TWebResponse& response) {
    pugi::xml_document doc;
    if (!doc.load_string(response.Body.c_str())) return "unparsable: " + response.Body;
    return doc.document_element().child("SOAP-ENV:Body").child("SOAP-ENV:Fault").child_value("faultstring");
  }

  TCalls FCalls;
  THTTPSoapDispatcher FDispatcher;
};

TEST_F(SOAPDispatcherTest, ChoosesTheInterface) {
  struct TCase {
    const char* Path;
    const char* Action;
    const char* HttpAction;
    bool Reaches;
  };
  const TCase cases[] = {
      {"/soap/IMobileDCT", "\"urn:uSvcIntf-IMobileDCT#ExecuteCommand\"", "", true},
      {"/soap/IMobileDCT", "urn:uSvcIntf-IMobileDCT#ExecuteCommand", "", true},
      {"/soap/IMobileDCT", "urn:uSvcIntf-IMobileDCT", "", true},
      // The action's operation plays no part: the Body names it.
      {"/soap/IMobileDCT", "urn:uSvcIntf-IMobileDCT#SetSingleDeviceParams", "", true},
      {"/soap", "urn:uSvcIntf-IMobileDCT#ExecuteCommand", "", true},
      {"/soap/IMobileDCT", "", "", true},
      {"/soap/IMobileDCT", "\"\"", "", true},
      {"/soap/imobiledct", "", "", true},
      {"/SOAP/x/IMOBILEDCT?x=1", "", "", true},
      {"/soap/IMobileDCT", "", "urn:uSvcIntf-IMobileDCT#ExecuteCommand", true},
      {"/soap/IMobileDCT", "urn:uSvcIntf-IMOBILEDCT#ExecuteCommand", "", false},
      {"/soap/IMobileDCT", "", "urn:other", false},
      {"/soap", "", "", false},
      {"/soap/", "", "", false},
      {"/soap/IWSDLPublish", "", "", false},
  };
  for (const TCase& c : cases) {
    FCalls.Count = 0;
    const TWebResponse r = Post(c.Path, c.Action, kExecuteBody, c.HttpAction);
    EXPECT_EQ(r.ContentType, "text/xml; charset=\"utf-8\"");
    EXPECT_EQ(r.Status, c.Reaches ? 200 : 500) << c.Path << " " << c.Action;
    EXPECT_EQ(FCalls.Count, c.Reaches ? 1 : 0) << c.Path << " " << c.Action;
  }
}

TEST_F(SOAPDispatcherTest, InterfaceFaultsCarryTheActionOrPath) {
  TWebResponse r = Post("/soap/IMobileDCT", "\"urn:uSvcIntf-IMOBILEDCT#ExecuteCommand\"");
  EXPECT_EQ(r.Status, 500);
  EXPECT_EQ(FaultString(r),
            "No interface  registered for soap action '\"urn:uSvcIntf-IMOBILEDCT#ExecuteCommand\"'");
  EXPECT_EQ(r.Body, SOAPFixedFault(FaultString(r)));
  r = Post("/soap/Other", "");
  EXPECT_EQ(r.Status, 500);
  EXPECT_EQ(FaultString(r), "No interface  registered for URL '/soap/Other'");
}

TEST_F(SOAPDispatcherTest, ExecuteCommandRoundTrip) {
  FCalls.Output = "<?xml version=\"1.0\"?>\r\n<sa><elm t=\"S\">x &amp; Ж</elm></sa>\r\n";
  const TWebResponse r = Post("/soap/IMobileDCT", "");
  ASSERT_EQ(r.Status, 200);
  EXPECT_EQ(FCalls.deviceID, "0");
  EXPECT_EQ(FCalls.commandName, "Echo");
  EXPECT_EQ(FCalls.Input, "<sa><elm t=\"S\">a &amp; b</elm></sa>");

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(r.Body.c_str()));
  const pugi::xml_node op = doc.document_element().child("SOAP-ENV:Body").first_child();
  EXPECT_STREQ(op.name(), "NS1:ExecuteCommandResponse");
  EXPECT_STREQ(op.child_value("return"), "true");
  EXPECT_EQ(std::string(op.child_value("OutputParameters")), FCalls.Output);
  EXPECT_STREQ(op.child_value("ResultCode"), "0");
  EXPECT_STREQ(op.child_value("ResultDescription"), "описание");
}

TEST_F(SOAPDispatcherTest, SetSingleDeviceParams) {
  const std::string body =
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body>"
      "<m:SetSingleDeviceParams xmlns:m=\"urn:uSvcIntf-IMobileDCT\">"
      "<AutoClearDocs>true</AutoClearDocs><AutoClearItems>0</AutoClearItems>"
      "<DeviceID>7</DeviceID><AppVersion>1.0</AppVersion><AppName>Склад</AppName>"
      "</m:SetSingleDeviceParams></e:Body></e:Envelope>";
  const TWebResponse r = Post("/soap/IMobileDCT", "", body);
  ASSERT_EQ(r.Status, 200);
  EXPECT_TRUE(FCalls.AutoClearDocs);
  EXPECT_FALSE(FCalls.autoClearItems);
  EXPECT_EQ(FCalls.deviceID, "7");
  EXPECT_EQ(FCalls.appVersion, "1.0");
  EXPECT_EQ(FCalls.AppName, "Склад");
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(r.Body.c_str()));
  const pugi::xml_node op = doc.document_element().child("SOAP-ENV:Body").first_child();
  EXPECT_STREQ(op.name(), "NS1:SetSingleDeviceParamsResponse");
  const char* names[] = {"return", "ResultCode", "ResultDescription"};
  pugi::xml_node part = op.first_child();
  for (const char* name : names) {
    EXPECT_STREQ(part.name(), name);
    part = part.next_sibling();
  }
  EXPECT_FALSE(part);
}

// Once the interface is chosen, every failure is a status-200 fault and the operation does
// not run unless the call was decoded.
TEST_F(SOAPDispatcherTest, CallFaultsAreStatus200) {
  const std::string wrap =
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\">"
      "<e:Body>";
  const std::string end = "</e:Body></e:Envelope>";
  const std::string cases[] = {
      "<broken",
      wrap + "<m:Nope xmlns:m=\"urn:uSvcIntf-IMobileDCT\"/>" + end,
      wrap + "<m:ExecuteCommand xmlns:m=\"urn:other\"/>" + end,
      wrap +
          "<m:SetSingleDeviceParams xmlns:m=\"urn:uSvcIntf-IMobileDCT\">"
          "<AutoClearDocs>maybe</AutoClearDocs></m:SetSingleDeviceParams>" +
          end,
  };
  for (const std::string& body : cases) {
    FCalls.Count = 0;
    const TWebResponse r = Post("/soap/IMobileDCT", "", body);
    EXPECT_EQ(r.Status, 200) << body;
    EXPECT_NE(FaultString(r), "") << body;
    EXPECT_EQ(FCalls.Count, 0) << body;
  }

  FCalls.Raise = "Encode failed";
  const TWebResponse r = Post("/soap/IMobileDCT", "");
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(FaultString(r), "Encode failed");
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(r.Body.c_str()));
  const pugi::xml_node fault = doc.document_element().child("SOAP-ENV:Body").child("SOAP-ENV:Fault");
  EXPECT_STREQ(fault.child_value("faultcode"), "SOAP-ENV:Server");
  EXPECT_TRUE(fault.child("faultactor"));
}

// An operation element without a namespace is taken as the interface's own.
TEST_F(SOAPDispatcherTest, UnqualifiedOperationIsAccepted) {
  const std::string body =
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body>"
      "<ExecuteCommand><DeviceID>3</DeviceID></ExecuteCommand></e:Body></e:Envelope>";
  const TWebResponse r = Post("/soap/IMobileDCT", "", body);
  EXPECT_EQ(FaultString(r), "");
  EXPECT_EQ(FCalls.deviceID, "3");
  EXPECT_EQ(FCalls.Input, "");
}

}  // namespace
}  // namespace dct
