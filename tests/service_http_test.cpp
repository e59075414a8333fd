// The web service front as a client sees it: a real device wired to the real HTTP
// listener on a free port, over a temporary data root, driven through real sockets.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <pugixml.hpp>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

#include "device/uDevice.h"
#include "device/uEquipmentErrors.h"
#include "service/HTTPBridge.h"
#include "service/ufmWebModule.h"
#include "service/TestHTTPClient.h"
#include "support/uCommonUtils.h"
#include "values/uUTF8.h"
#include "values/uXMLEncoder.h"
#include "support/TestSupport.h"

namespace dct {
namespace {

namespace fs = std::filesystem;
using testing::Exchange;
using testing::IdentityBody;
using testing::MakeRequest;
using testing::TRawResponse;
using testing::TTestConnection;

using testing::WaitFor;

// The children of the Body's first element, by name: an answer's parts or a fault's fields.
struct TSoapAnswer {
  bool Parsed = false;
  std::string Element;  // local name of the Body's first element
  std::map<std::string, std::string> Parts;
  std::map<std::string, std::string> Types;  // xsi:type of each part
};

TSoapAnswer ParseSoap(const std::string& body) {
  TSoapAnswer a;
  pugi::xml_document doc;
  if (!doc.load_string(body.c_str())) return a;
  const pugi::xml_node first = doc.document_element().child("SOAP-ENV:Body").first_child();
  if (!first) return a;
  a.Parsed = true;
  const std::string name = first.name();
  a.Element = name.substr(name.find(':') + 1);
  for (pugi::xml_node part : first.children()) {
    a.Parts[part.name()] = part.child_value();
    a.Types[part.name()] = part.attribute("xsi:type").value();
  }
  return a;
}

std::string ExecuteBody(const std::string& deviceID, const std::string& command,
                        const std::string& escapedInput) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
         "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
         "<m:ExecuteCommand xmlns:m=\"urn:uSvcIntf-IMobileDCT\"><DeviceID>" +
         deviceID + "</DeviceID><CommandName>" + command + "</CommandName><InputParameters>" +
         escapedInput + "</InputParameters></m:ExecuteCommand></s:Body></s:Envelope>";
}

std::string SoapPost(const std::string& target, const std::string& body,
                     const std::string& headers = "") {
  return MakeRequest("POST", target, body, "Content-Type: text/xml; charset=utf-8\r\n" + headers);
}

// A recorded request with its Host and Content-Length made to fit this server.
std::string FitRecordedRequest(const fs::path& file, uint16_t port) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  const std::string raw = all.str();
  const size_t end = raw.find("\r\n\r\n");
  const std::string body = raw.substr(end + 4);
  std::istringstream lines(raw.substr(0, end));
  std::string line, out;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string name = line.substr(0, line.find(':'));
    if (SameTextASCII(name, "Host")) {
      line = "Host: 127.0.0.1:" + std::to_string(port);
    } else if (SameTextASCII(name, "Content-Length")) {
      line = "Content-Length: " + std::to_string(body.size());
    }
    out += line + "\r\n";
  }
  return out + "\r\n" + body;
}

class ServiceHTTPTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCommonAppDataRoot(FRoot.string() + "/");
    FBridge.SetPort(0);
    FContext.SetListenerSwitch(&FBridge);
    FDevice = std::make_unique<TDevice>(FContext);
    ASSERT_EQ(FDevice->Enable(), 0);
    FPort = FBridge.BoundPort();
    ASSERT_NE(FPort, 0);
  }
  void TearDown() override {
    FDevice.reset();
    FContext.SetListenerSwitch(nullptr);
    SetCommonAppDataRoot("");
  }

  TRawResponse Send(const std::string& raw) { return Exchange("127.0.0.1", FPort, raw); }
  TRawResponse Get(const std::string& target, const std::string& headers = "") {
    return Send(MakeRequest("GET", target, "", headers));
  }

  testing::TTempDir FTemp{"dct_service_http_test"};
  const fs::path FRoot{FTemp.Path()};
  TDeviceContext FContext;
  const TWebModule1 FModule{FContext};
  // The real web module; outlives the device that switches it.
  THTTPBridge FBridge{[this](TWebRequest& request) { return FModule.HandleRequest(request); }};
  std::unique_ptr<TDevice> FDevice;
  uint16_t FPort = 0;
};

Variant S(const std::string& s) { return Variant::FromString(s); }

// The nested value every recorded Echo carries, as the reader must give it back.
Variant RecordedEchoValue() {
  Variant table = Variant::CreateArray({TBounds{0, 1}, TBounds{0, 1}});
  table.Put(0, 0, S("x"));
  table.Put(0, 1, Variant::FromDouble(1));
  table.Put(1, 0, Variant::ArrayOf({S("Привет, ёж"), Variant()}));
  table.Put(1, 1, S("line1\nline2"));
  return Variant::ArrayOf(
      {Variant::FromDouble(2.5), S("a & b <c>"), Variant::FromBoolean(true), std::move(table)});
}

// Every recorded request of three client stacks is decoded and answered as it should be.
TEST_F(ServiceHTTPTest, RecordedClientRequests) {
  struct Expected {
    const char* file;
    const char* code;  // "" for the WSDL fetch
    const char* description;
  };
  const Expected sequence[] = {
      {"0001-GET-wsdl.http", "", ""},
      {"0002-POST-SetSingleDeviceParams.http", "0", "Нет ошибок"},
      {"0003-POST-ExecuteCommand.http", "0", "Нет ошибок"},
      {"0004-POST-ExecuteCommand.http", "0", "Нет ошибок"},
      {"0005-POST-ExecuteCommand.http", "1002", "Команда не распознана устройством"},
      {"0006-POST-ExecuteCommand.http", "1013", "Устройство не найдено"},
      {"0007-POST-ExecuteCommand.http", "1004", "Ошибка входных параметров команды"},
      {"0008-POST-ExecuteCommand.http", "1004", "Ошибка входных параметров команды"},
  };
  TXMLEncoder encoder;
  for (const char* client : {"suds", "zeep", "php"}) {
    FDevice->SetAppName("unknown");
    for (const Expected& e : sequence) {
      const fs::path file = fs::path(DCT_WIRE_SAMPLES) / client / e.file;
      const std::string where = std::string(client) + "/" + e.file;
      const TRawResponse r = Send(FitRecordedRequest(file, FPort));
      ASSERT_EQ(r.Status, 200) << where << "\n" << r.Raw;
      EXPECT_TRUE(r.Closed) << where;
      if (*e.code == '\0') {
        // zeep asks for gzip; the service description is large enough to get it.
        EXPECT_EQ(r.Headers.count("content-encoding"), std::string(client) == "zeep" ? 1u : 0u) << where;
        EXPECT_NE(IdentityBody(r).find("location=\"http://127.0.0.1:" + std::to_string(FPort) +
                              "/soap/IMobileDCT\""),
                  std::string::npos)
            << where;
        continue;
      }
      EXPECT_EQ(r.Headers.at("content-type"), "text/xml; charset=\"utf-8\"") << where;
      const TSoapAnswer a = ParseSoap(IdentityBody(r));
      ASSERT_TRUE(a.Parsed) << where << "\n" << r.Body;
      EXPECT_EQ(a.Parts.at("ResultCode"), e.code) << where;
      EXPECT_EQ(a.Parts.at("ResultDescription"), e.description) << where;
      EXPECT_EQ(a.Parts.at("return"), std::string(e.code) == "0" ? "true" : "false") << where;
      EXPECT_EQ(a.Types.at("return"), "xsd:boolean");
      EXPECT_EQ(a.Types.at("ResultCode"), "xsd:int");
      EXPECT_EQ(a.Types.at("ResultDescription"), "xsd:string");
      if (a.Element == "ExecuteCommandResponse") {
        EXPECT_EQ(a.Types.at("OutputParameters"), "xsd:string");
        if (std::string(e.code) != "0") {
          EXPECT_EQ(a.Parts.at("OutputParameters"), "") << where;
        }
      }
      if (std::string(e.file) == "0003-POST-ExecuteCommand.http") {
        EXPECT_EQ(encoder.Decode(a.Parts.at("OutputParameters")), RecordedEchoValue()) << where;
      }
      if (std::string(e.file) == "0004-POST-ExecuteCommand.http") {
        const Variant checkIn = encoder.Decode(a.Parts.at("OutputParameters"));
        EXPECT_EQ(checkIn.At(0), S("interop")) << where;
        EXPECT_EQ(checkIn.At(1), S("1.0")) << where;
        EXPECT_EQ(checkIn.At(2).Length(1), 12) << where;
      }
    }
    EXPECT_EQ(FDevice->AppName(), "interop") << client;
  }
}

TEST_F(ServiceHTTPTest, InterfaceFromActionOrPath) {
  const std::string body = ExecuteBody("0", "Echo", "");
  struct TCase {
    const char* target;
    const char* headers;
    int status;
    const char* element;
  };
  const TCase cases[] = {
      {"/soap/IMobileDCT", "SOAPAction: \"urn:uSvcIntf-IMobileDCT#ExecuteCommand\"\r\n", 200,
       "ExecuteCommandResponse"},
      {"/soap/IMobileDCT", "Soapaction: urn:uSvcIntf-IMobileDCT\r\n", 200,
       "ExecuteCommandResponse"},
      {"/soap/IMobileDCT", "SOAPAction: \"\"\r\n", 200, "ExecuteCommandResponse"},
      {"/Soap/imobiledct", "", 200, "ExecuteCommandResponse"},
      {"/soap", "HTTP_SOAPACTION: urn:uSvcIntf-IMobileDCT#ExecuteCommand\r\n", 200,
       "ExecuteCommandResponse"},
      {"/soap/IMobileDCT", "SOAPAction: urn:uSvcIntf-imobiledct#ExecuteCommand\r\n", 500, "Fault"},
      {"/soap", "", 500, "Fault"},
  };
  for (const TCase& c : cases) {
    const TRawResponse r = Send(SoapPost(c.target, body, c.headers));
    EXPECT_EQ(r.Status, c.status) << c.target << " " << c.headers;
    EXPECT_EQ(ParseSoap(r.Body).Element, c.element) << c.target << " " << c.headers;
  }
  TRawResponse r =
      Send(SoapPost("/soap/IMobileDCT", body, "SOAPAction: urn:uSvcIntf-imobiledct#X\r\n"));
  EXPECT_EQ(ParseSoap(r.Body).Parts.at("faultstring"),
            "No interface  registered for soap action 'urn:uSvcIntf-imobiledct#X'");
  r = Send(SoapPost("/soap", body));
  EXPECT_EQ(ParseSoap(r.Body).Parts.at("faultstring"), "No interface  registered for URL '/soap'");
}

TEST_F(ServiceHTTPTest, CallFaultsAreStatus200) {
  const std::string bodies[] = {
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>",
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
      "<m:Nope xmlns:m=\"urn:uSvcIntf-IMobileDCT\"/></s:Body></s:Envelope>",
      "<!DOCTYPE s [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" + ExecuteBody("0", "&x;", ""),
  };
  for (const std::string& body : bodies) {
    const TRawResponse r = Send(SoapPost("/soap/IMobileDCT", body));
    EXPECT_EQ(r.Status, 200) << body;
    TSoapAnswer a = ParseSoap(r.Body);
    EXPECT_EQ(a.Element, "Fault") << body;
    EXPECT_EQ(a.Parts["faultcode"], "SOAP-ENV:Server");
    EXPECT_NE(a.Parts["faultstring"], "");
    EXPECT_EQ(a.Parts.count("faultactor"), 1u);
  }
}

// Only what a value text must escape, so that any byte in it reaches the server as it is.
std::string EscapeMarkup(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

// A pushed document whose description and barcode are the given text.
std::string PushBody(const std::string& id, const std::string& text) {
  const std::string value = "<sa><elm t=\"S\">" + id + "</elm><elm t=\"N\">1</elm><elm t=\"N\">0</elm>"
                            "<elm t=\"A\" r=\"1\" c=\"3\"><elm t=\"S\">" + text + "</elm><elm t=\"N\">2</elm>"
                            "<elm t=\"S\"/></elm><elm t=\"S\">" + text + "</elm></sa>";
  return ExecuteBody("0", "PushDocumentData", EscapeMarkup(value));
}

// Every answer must be well-formed UTF-8 XML, whatever a client sent or the store holds:
// text that XML cannot carry is refused before it is stored, and text stored by other means
// goes out mended, so one bad document cannot stop the collection of all the others.
TEST_F(ServiceHTTPTest, EveryAnswerIsWellFormedUTF8XML) {
  auto wellFormed = [](const TRawResponse& r) {
    pugi::xml_document doc;
    return IsXMLChars(r.Body) && doc.load_string(r.Body.c_str());
  };
  const std::string bad[] = {"\x80", "\xFF\xFE", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                             "\xF8\x88\x80\x80\x80", "\xE2\x82", "ab\xC3"};
  for (const std::string& b : bad) {
    // Raw in the envelope: the binding cannot decode it; nothing reaches a command.
    for (const std::string& body : {PushBody("D1", b), ExecuteBody("0", "Echo", "&lt;sa&gt;" + b + "&lt;/sa&gt;"),
                                    ExecuteBody(b, "Echo", "")}) {
      const TRawResponse r = Send(SoapPost("/soap/IMobileDCT", body));
      EXPECT_EQ(r.Status, 200);
      EXPECT_TRUE(wellFormed(r)) << r.Body;
      EXPECT_EQ(ParseSoap(r.Body).Element, "Fault") << r.Body;
    }
  }
  // As references in the value text: the value cannot be read, 1004.
  for (const char* ref : {"&#xD800;", "&#xFFFE;", "&#x110000;", "&#1;"}) {
    for (const std::string& body : {PushBody("D2", ref),
                                    ExecuteBody("0", "Echo", EscapeMarkup(std::string("<sa><elm t=\"S\">") + ref + "</elm></sa>"))}) {
      const TRawResponse r = Send(SoapPost("/soap/IMobileDCT", body));
      EXPECT_TRUE(wellFormed(r)) << r.Body;
      EXPECT_EQ(ParseSoap(r.Body).Parts["ResultCode"], "1004") << ref;
    }
  }
  const std::string noDocs = ExecuteBody("0", "ReadDocsHeadersFromBuff", EscapeMarkup("<sa><elm t=\"N\">1</elm></sa>"));
  EXPECT_EQ(ParseSoap(Send(SoapPost("/soap/IMobileDCT", noDocs)).Body).Parts["ResultCode"], std::to_string(rcNoDocs));

  // Text that reached the store by other means (by hand, an older build) goes out mended.
  ASSERT_EQ(FDevice->SaveDocToBuff(TDocument{"P\xC3", 1, 1, "bad\x80 \x01text", {{"X\xED\xA0\x80", 2, ""}}}, false), 0);
  ASSERT_EQ(Send(SoapPost("/soap/IMobileDCT", PushBody("good", "Ж"))).Status, 200);
  const TRawResponse headers = Send(SoapPost("/soap/IMobileDCT", noDocs));
  ASSERT_TRUE(wellFormed(headers)) << headers.Body;
  const TSoapAnswer a = ParseSoap(headers.Body);
  ASSERT_EQ(a.Parts.at("ResultCode"), "0");
  TXMLEncoder encoder;
  const Variant table = encoder.Decode(a.Parts.at("OutputParameters")).At(0);
  ASSERT_EQ(table.Length(1), 2);
  EXPECT_EQ(table.At(0, 0), S("P\uFFFD"));
  EXPECT_EQ(table.At(0, 3), S("bad\uFFFD \uFFFDtext"));
  EXPECT_EQ(table.At(1, 0), S("good"));
  const TRawResponse doc = Send(SoapPost("/soap/IMobileDCT", ExecuteBody("0", "GetDocuments", "")));
  ASSERT_TRUE(wellFormed(doc)) << doc.Body;
}

// A part of blanks is those blanks, not an empty part: it names no device but the one so named.
TEST_F(ServiceHTTPTest, BlankDeviceIDIsNotTheEmptyOne) {
  FDevice->SetDeviceID("");
  EXPECT_EQ(ParseSoap(Send(SoapPost("/soap/IMobileDCT", ExecuteBody("", "Echo", ""))).Body).Parts["ResultCode"], "0");
  EXPECT_EQ(ParseSoap(Send(SoapPost("/soap/IMobileDCT", ExecuteBody(" ", "Echo", ""))).Body).Parts["ResultCode"], "1013");
  FDevice->SetDeviceID(" ");
  EXPECT_EQ(ParseSoap(Send(SoapPost("/soap/IMobileDCT", ExecuteBody(" ", "Echo", ""))).Body).Parts["ResultCode"], "0");
}

TEST_F(ServiceHTTPTest, PagesAndDescriptions) {
  struct TCase {
    const char* method;
    const char* target;
    int status;
    const char* contentType;
    const char* contains;
  };
  const std::string html = "text/html; charset=\"utf-8\"";
  const TCase cases[] = {
      {"GET", "/", 200, html.c_str(), "<title>service_http_test</title>"},
      {"GET", "/SOAP", 200, html.c_str(), "service_http_test - Service Info Page"},
      {"POST", "/anything", 200, html.c_str(), "Service Info Page"},
      {"GET", "/?intf=IMobileDCT&types=1", 200, html.c_str(), "urn:uSvcIntf-IMobileDCT"},
      {"GET", "/Inspection.wsil", 200, "text/xml; charset=\"utf-8\"", "<inspection"},
      {"GET", "/wsdl", 200, html.c_str(), "WebService Listing"},
      {"PUT", "/wsdl/IMobileDCT/", 200, "text/xml", "IMobileDCTservice"},
      {"GET", "/wsdl/Unknown", 200, html.c_str(), "Interface Unknown not found"},
      {"GET", "/wsdl/admin", 403, html.c_str(), "Forbidden (403)"},
  };
  for (const TCase& c : cases) {
    TRawResponse r = Send(MakeRequest(c.method, c.target));
    EXPECT_EQ(r.Status, c.status) << c.target;
    EXPECT_EQ(r.Headers["content-type"], c.contentType) << c.target;
    EXPECT_NE(r.Body.find(c.contains), std::string::npos) << c.target << "\n" << r.Body;
  }
}

TEST_F(ServiceHTTPTest, WSDLLocationFromTheHostHeader) {
  struct TCase {
    std::string host, location;
  };
  const TCase cases[] = {
      {"dct.example:7211", "http://dct.example:7211/soap/IMobileDCT"},
      {"dct.example", "http://dct.example:" + std::to_string(FPort) + "/soap/IMobileDCT"},
  };
  for (const TCase& c : cases) {
    const TRawResponse r = Send("GET /wsdl/IMobileDCT HTTP/1.1\r\nHost: " + c.host + "\r\n\r\n");
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(r.Body.c_str())) << r.Body;
    EXPECT_EQ(std::string(doc.child("definitions")
                              .child("service")
                              .child("port")
                              .child("soap:address")
                              .attribute("location")
                              .value()),
              c.location);
  }
}

// A value text of some megabytes (escaped in the envelope) comes back unchanged.
TEST_F(ServiceHTTPTest, LargeEcho) {
  std::string value = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<sa>";
  for (int i = 0; i < 50000; ++i) {
    value += "<elm t=\"S\">item " + std::to_string(i) + " &amp; Ж</elm><elm t=\"N\">" +
             std::to_string(i) + ".5</elm>";
  }
  value += "</sa>\r\n";
  std::string escaped;
  for (char c : value) {
    if (c == '<')
      escaped += "&lt;";
    else if (c == '&')
      escaped += "&amp;";
    else if (c == '\r')
      escaped += "&#13;";
    else
      escaped += c;
  }
  const TRawResponse r = Send(SoapPost("/soap/IMobileDCT", ExecuteBody("0", "Echo", escaped)));
  ASSERT_EQ(r.Status, 200);
  const TSoapAnswer a = ParseSoap(r.Body);
  ASSERT_EQ(a.Parts.at("ResultCode"), "0");
  TXMLEncoder encoder;
  EXPECT_EQ(encoder.Decode(a.Parts.at("OutputParameters")), encoder.Decode(value));
}

// 32 Echo calls wait for the command lock the test holds; the 33rd is turned away.
TEST_F(ServiceHTTPTest, ThirtyThirdConcurrentRequest) {
  const std::string echo = SoapPost("/soap/IMobileDCT", ExecuteBody("0", "Echo", ""));
  std::vector<std::unique_ptr<TTestConnection>> waiting;
  {
    std::lock_guard<std::mutex> hold(FContext.CommandLock());
    for (int i = 0; i < THTTPBridge::kMaxRequestsInProgress; ++i) {
      waiting.push_back(std::make_unique<TTestConnection>("127.0.0.1", FPort));
      ASSERT_TRUE(waiting.back()->Send(echo));
    }
    ASSERT_TRUE(WaitFor(
        [this] { return FBridge.RequestsInProgress() == THTTPBridge::kMaxRequestsInProgress; }));
    const TRawResponse r = Send(echo);
    EXPECT_EQ(r.Status, 500);
    EXPECT_EQ(r.Body, "Maximum number of concurrent connections exceeded.  Please try again later");
    EXPECT_TRUE(r.Closed);
  }
  for (auto& c : waiting) {
    const TRawResponse r = c->ReadResponse();
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(ParseSoap(r.Body).Parts.at("ResultCode"), "0");
  }
}

// A stop waits for the calls already in progress; they find the device disabled.
TEST_F(ServiceHTTPTest, DisableAnswersWaitingCallsThenStopsListening) {
  const std::string echo = SoapPost("/soap/IMobileDCT", ExecuteBody("0", "Echo", ""));
  std::vector<std::unique_ptr<TTestConnection>> waiting;
  std::thread disabler;
  {
    std::lock_guard<std::mutex> hold(FContext.CommandLock());
    for (int i = 0; i < 4; ++i) {
      waiting.push_back(std::make_unique<TTestConnection>("127.0.0.1", FPort));
      ASSERT_TRUE(waiting.back()->Send(echo));
    }
    ASSERT_TRUE(WaitFor([this] { return FBridge.RequestsInProgress() == 4; }));
    disabler = std::thread([this] { FDevice->Disable(); });
    ASSERT_TRUE(WaitFor([this] { return !FDevice->Enabled(); }));
  }
  for (auto& c : waiting) {
    const TRawResponse r = c->ReadResponse();
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(ParseSoap(r.Body).Parts.at("ResultCode"), "70");
  }
  disabler.join();
  EXPECT_FALSE(FBridge.Listening());
  EXPECT_EQ(FContext.ListenerUsers(), 0);
  EXPECT_FALSE(TTestConnection("127.0.0.1", FPort).Connected());
}

TEST_F(ServiceHTTPTest, EnableAndDisableSwitchTheListener) {
  EXPECT_TRUE(FBridge.Listening());
  EXPECT_EQ(FContext.ListenerUsers(), 1);
  // Enabling an enabled device closes and reopens it; the count stays one.
  ASSERT_EQ(FDevice->Enable(), 0);
  EXPECT_EQ(FContext.ListenerUsers(), 1);
  FPort = FBridge.BoundPort();
  EXPECT_EQ(Get("/").Status, 200);

  FDevice->Disable();
  EXPECT_FALSE(FBridge.Listening());
  EXPECT_EQ(FContext.ListenerUsers(), 0);
  EXPECT_FALSE(TTestConnection("127.0.0.1", FPort).Connected());
  FDevice->Disable();
  EXPECT_EQ(FContext.ListenerUsers(), 0);

  // A port that is taken: Enable raises, the device stays disabled and uncounted.
  THTTPBridge other([](TWebRequest&) { return TWebResponse{}; });
  other.SetPort(0);
  other.Start();
  FBridge.SetPort(other.BoundPort());
  EXPECT_THROW(FDevice->Enable(), std::system_error);
  EXPECT_FALSE(FDevice->Enabled());
  EXPECT_FALSE(FBridge.Listening());
  EXPECT_EQ(FContext.ListenerUsers(), 0);
}

}  // namespace
}  // namespace dct
