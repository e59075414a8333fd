// The status as the web module serves it: after known SOAP traffic through the real module,
// /status.json and the info page show the counts, times and calls that traffic left.
#include "service/uServiceStatus.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "device/uDevice.h"
#include "service/EnabledDeviceFixture.h"
#include "service/uSvcImpl.h"
#include "service/uXMLEscape.h"
#include "service/ufmWebModule.h"
#include "support/TestSupport.h"
#include "support/uCommonUtils.h"
#include "values/uJSONText.h"

namespace dct {
namespace {

const std::regex kISOTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");

std::string ItemCells(const std::string& barcode) {
  return "<elm t=\"S\">" + barcode +
         "</elm><elm t=\"S\">n</elm><elm t=\"S\">u</elm><elm t=\"S\"></elm><elm t=\"S\"></elm>"
         "<elm t=\"S\"></elm><elm t=\"N\">1.5</elm><elm t=\"N\">2</elm><elm t=\"B\">False</elm>"
         "<elm t=\"B\">False</elm><elm t=\"B\">False</elm>";
}

std::string Envelope(const std::string& call) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><e:Envelope "
         "xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "xmlns:m=\"urn:uSvcIntf-IMobileDCT\"><e:Body>" +
         call + "</e:Body></e:Envelope>";
}

std::string Execute(const std::string& command, const std::string& value) {
  std::string input;
  AppendXMLText(input, "<sa>" + value + "</sa>");
  return Envelope("<m:ExecuteCommand><DeviceID>0</DeviceID><CommandName>" + command +
                  "</CommandName><InputParameters>" + input + "</InputParameters></m:ExecuteCommand>");
}

class ServiceStatusTest : public testing::TEnabledDeviceFixture {
 protected:
  TWebResponse Send(const std::string& method, const std::string& target, const std::string& body = "",
                    const std::string& path = "/soap/IMobileDCT") {
    TWebRequest r;
    r.Method = method;
    r.Target = method == "POST" ? path : target;
    r.Body = body;
    r.LocalPort = 7311;
    return FModule.HandleRequest(r);
  }
  void Post(const std::string& body, const std::string& path = "/soap/IMobileDCT") {
    Send("POST", "", body, path);
  }
  TJSONValue Status() {
    const TWebResponse r = Send("GET", "/status.json");
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.ContentType, kContentTypeJSON);
    return TJSONValue::Parse(r.Body);
  }

  TWebModule1 FModule{FContext};
};

TEST_F(ServiceStatusTest, JSONAfterKnownTraffic) {
  const TJSONValue before = Status();
  EXPECT_EQ(before["items"].AsInt64(), 0);
  EXPECT_TRUE(before["lastCatalogueLoad"].IsNull());
  EXPECT_TRUE(before["lastDocumentPush"].IsNull());
  EXPECT_EQ(before["calls"]["served"].AsInt64(), 0);

  // Three items, one of them twice; two documents pushed (source 1) with 2 + 1 rows.
  Post(Execute("SaveItemsToBuff", "<elm t=\"N\">0</elm><elm t=\"A\" r=\"4\" c=\"11\">" + ItemCells("1") +
                                      ItemCells("2") + ItemCells("1") + ItemCells("3") + "</elm>"));
  const std::string rows2 =
      "<elm t=\"A\" r=\"2\" c=\"3\"><elm t=\"S\">1</elm><elm t=\"N\">1</elm><elm t=\"S\"></elm>"
      "<elm t=\"S\">2</elm><elm t=\"N\">4</elm><elm t=\"S\"></elm></elm>";
  const std::string rows1 =
      "<elm t=\"A\" r=\"1\" c=\"3\"><elm t=\"S\">3</elm><elm t=\"N\">1</elm><elm t=\"S\">sn</elm></elm>";
  Post(Execute("PushDocumentData", "<elm t=\"S\">D1</elm><elm t=\"N\">2</elm><elm t=\"N\">0</elm>" + rows2 +
                                       "<elm t=\"S\">first</elm>"));
  Post(Execute("PushDocumentData", "<elm t=\"S\">D2</elm><elm t=\"N\">2</elm><elm t=\"N\">0</elm>" + rows1 +
                                       "<elm t=\"S\">second</elm>"));
  Post(
      Envelope("<m:SetSingleDeviceParams><AutoClearDocs>false</AutoClearDocs><AutoClearItems>false"
               "</AutoClearItems><DeviceID>0</DeviceID><AppVersion>2.1</AppVersion><AppName>Shop &amp; Co"
               "</AppName></m:SetSingleDeviceParams>"));
  // Failed: a result code (1002, unknown command), a fault (no such operation), and the
  // fixed fault of an unknown interface.
  Post(Execute("NoSuchCommand", ""));
  Post(Envelope("<m:NoSuchOperation/>"));
  Post(Execute("Echo", ""), "/soap/Other");

  const TJSONValue s = Status();
  EXPECT_EQ(s["program"].AsString(), ProgramFileTitle(GetModuleFilePath()));
  EXPECT_TRUE(std::regex_match(s["version"].AsString(), std::regex(R"(\d+\.\d+\.\d+)")));
  EXPECT_TRUE(std::regex_match(s["startTime"].AsString(), kISOTime));
  EXPECT_GE(s["uptimeSeconds"].AsInt64(), 0);
  EXPECT_EQ(s["port"].AsInt64(), 7311);
  EXPECT_EQ(s["device"]["id"].AsString(), "0");
  EXPECT_EQ(s["device"]["appName"].AsString(), "Shop & Co");
  EXPECT_EQ(s["device"]["appVersion"].AsString(), "2.1");
  EXPECT_TRUE(s["device"]["enabled"].AsBoolean());
  const TDevice& device = *FContext.GetSingleDevice();
  EXPECT_EQ(s["database"]["file"].AsString(), FContext.GetSingleDevice()->DataBuffer().FileName());
  EXPECT_GT(s["database"]["sizeBytes"].AsInt64(), 0);
  EXPECT_EQ(s["items"].AsInt64(), 3);
  const std::vector<TJSONValue>& docs = s["documents"].AsArray();
  ASSERT_EQ(docs.size(), 2u);
  EXPECT_EQ(docs[0]["source"].AsInt64(), 0);
  EXPECT_EQ(docs[0]["documents"].AsInt64(), 0);
  EXPECT_EQ(docs[1]["source"].AsInt64(), 1);
  EXPECT_EQ(docs[1]["documents"].AsInt64(), 2);
  EXPECT_EQ(docs[1]["rows"].AsInt64(), 3);
  EXPECT_EQ(s["lastCatalogueLoad"].AsString(), ISO8601UTC(device.LastCatalogueLoad()));
  EXPECT_EQ(s["lastDocumentPush"].AsString(), ISO8601UTC(device.LastDocumentPush()));
  EXPECT_TRUE(std::regex_match(s["lastDocumentPush"].AsString(), kISOTime));
  EXPECT_EQ(s["calls"]["served"].AsInt64(), 7);
  EXPECT_EQ(s["calls"]["failed"].AsInt64(), 3);

  // A failed load leaves the time of the last good one.
  const std::string lastLoad = s["lastCatalogueLoad"].AsString();
  Post(Execute("SaveItemsToBuff", "<elm t=\"N\">0</elm><elm t=\"S\">not a table</elm>"));
  EXPECT_EQ(Status()["lastCatalogueLoad"].AsString(), lastLoad);
  EXPECT_EQ(Status()["calls"]["failed"].AsInt64(), 4);
}

TEST_F(ServiceStatusTest, DisabledDeviceHasNoCounts) {
  FContext.GetSingleDevice()->Disable();
  const TJSONValue s = Status();
  EXPECT_FALSE(s["device"]["enabled"].AsBoolean());
  EXPECT_TRUE(s["items"].IsNull());
  EXPECT_TRUE(s["documents"].AsArray().empty());
  EXPECT_EQ(s["database"]["file"].AsString(), FContext.GetSingleDevice()->DataBuffer().FileName());
}

TEST_F(ServiceStatusTest, InfoPageKeepsItsPartsAndAddsTheSection) {
  Post(Execute("SaveItemsToBuff",
               "<elm t=\"N\">0</elm><elm t=\"A\" r=\"1\" c=\"11\">" + ItemCells("1") + "</elm>"));
  Post(Execute("NoSuchCommand", ""));
  for (const char* target : {"/", "/?intf=IMobileDCT&types=1"}) {
    SCOPED_TRACE(target);
    // The page of a module without status, with the same title: everything before its end
    // is still there, byte for byte.
    TWebModule1 plain([] { return std::unique_ptr<IMobileDCT>(); },
                      [] { return ProgramFileTitle(GetModuleFilePath()); });
    TWebRequest r;
    r.Method = "GET";
    r.Target = target;
    const std::string old = plain.HandleRequest(r).Body;
    const std::string page = Send("GET", target).Body;
    const std::string end = "</body></html>\n";
    ASSERT_EQ(old.substr(old.size() - end.size()), end);
    EXPECT_EQ(page.substr(0, old.size() - end.size()), old.substr(0, old.size() - end.size()));
    const std::string section = page.substr(old.size() - end.size());
    EXPECT_NE(section.find("<h2>Status</h2>"), std::string::npos);
    EXPECT_NE(section.find("<td id=\"status-items\">1</td>"), std::string::npos);
    EXPECT_NE(section.find("<td id=\"status-calls-served\">2</td>"), std::string::npos);
    EXPECT_NE(section.find("<td id=\"status-calls-failed\">1</td>"), std::string::npos);
    EXPECT_NE(section.find("<td id=\"status-source-1-documents\">0</td>"), std::string::npos);
    EXPECT_NE(section.find("<td id=\"status-last-document-push\">never</td>"), std::string::npos);
  }
}

TEST_F(ServiceStatusTest, PlainModuleHasNoStatusDocument) {
  TWebModule1 plain([] { return std::unique_ptr<IMobileDCT>(); }, [] { return std::string("t"); });
  TWebRequest r;
  r.Method = "GET";
  r.Target = "/status.json";
  EXPECT_NE(plain.HandleRequest(r).Body.find("Service Info Page"), std::string::npos);
}

TEST(ServiceStatusTextTest, TimesInUTC) {
  using namespace std::chrono;
  const struct {
    int64_t Milliseconds;
    const char* Expected;
  } cases[] = {
      {0, "1970-01-01T00:00:00Z"},
      {951782400000, "2000-02-29T00:00:00Z"},   // a leap day
      {1735689599999, "2024-12-31T23:59:59Z"},  // cut, never rounded up into the next year
      {4102444800000 + 3723000, "2100-01-01T01:02:03Z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ISO8601UTC(system_clock::time_point(milliseconds(c.Milliseconds))), c.Expected);
  }
}

TEST(ServiceStatusTextTest, TextIsEscapedInBothForms) {
  TServiceStatus status;
  status.HasDevice = true;
  status.AppName = "<b>\"x\"\n";
  const TJSONValue json = TJSONValue::Parse(StatusJSON(status));
  EXPECT_EQ(json["device"]["appName"].AsString(), status.AppName);
  EXPECT_TRUE(json["items"].IsNull());
  EXPECT_TRUE(json["database"]["sizeBytes"].IsNull());
  std::string page;
  AppendStatusSection(page, status);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_NE(page.find("&lt;b&gt;"), std::string::npos);
}

TEST(ServiceCountersTest, FailedNeverExceedsServedWhileCounting) {
  TServiceCounters counters;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done.load()) {
      const uint64_t failed = counters.CallsFailed();
      ASSERT_LE(failed, counters.CallsServed());
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) counters.NoteCall(i % 3 == 0);
    });
  }
  for (std::thread& w : writers) w.join();
  done.store(true);
  reader.join();
  EXPECT_EQ(counters.CallsServed(), 80000u);
  EXPECT_EQ(counters.CallsFailed(), 4u * 6667u);
}

}  // namespace
}  // namespace dct
