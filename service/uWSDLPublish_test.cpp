#include "service/uWSDLPublish.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <string>

#include "support/uCommonUtils.h"

namespace dct {
namespace {

TWebRequest Get(const std::string& target, const std::string& host = "127.0.0.1:7211",
                uint16_t localPort = 7211) {
  TWebRequest r;
  r.Method = "GET";
  r.Target = target;
  r.Host = host;
  r.LocalAddress = "10.0.0.5";
  r.LocalPort = localPort;
  return r;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(WSDLPublishTest, PortLocationFollowsTheHostHeader) {
  struct TCase {
    const char* Host;
    uint16_t Port;
    const char* Url;
  };
  const TCase cases[] = {
      {"example.com:7211", 7211, "http://example.com:7211"},
      {"example.com", 7211, "http://example.com:7211"},
      {"example.com", 80, "http://example.com"},
      {"example.com:8080", 7211, "http://example.com:8080"},
      {"[::1]", 7211, "http://[::1]:7211"},
      {"[::1]:9", 7211, "http://[::1]:9"},
      {"", 7211, "http://10.0.0.5:7211"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(TWSDLHTMLPublish::BaseURL(Get("/", c.Host, c.Port)), c.Url) << c.Host;
  }
}

TEST(WSDLPublishTest, WSDLNamesTheBinding) {
  TWSDLHTMLPublish publish([] { return std::string("svc"); });
  const TWebResponse r = publish.Publish(Get("/wsdl/IMobileDCT", "h\"x:7211"));
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.ContentType, "text/xml");
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(r.Body.c_str())) << r.Body;
  const pugi::xml_node defs = doc.child("definitions");
  EXPECT_STREQ(defs.attribute("targetNamespace").value(), TWSDLHTMLPublish::kTargetNamespace);
  for (const char* m : {"ExecuteCommand0Request", "ExecuteCommand0Response", "SetSingleDeviceParams1Request",
                        "SetSingleDeviceParams1Response"}) {
    EXPECT_TRUE(defs.find_child_by_attribute("message", "name", m)) << m;
  }
  const pugi::xml_node response = defs.find_child_by_attribute("message", "name", "ExecuteCommand0Response");
  EXPECT_STREQ(response.first_child().attribute("name").value(), "return");
  EXPECT_STREQ(response.first_child().attribute("type").value(), "xs:boolean");
  EXPECT_TRUE(defs.find_child_by_attribute("portType", "name", "IMobileDCT"));
  const pugi::xml_node binding = defs.find_child_by_attribute("binding", "name", "IMobileDCTbinding");
  ASSERT_TRUE(binding);
  EXPECT_STREQ(binding.child("soap:binding").attribute("style").value(), "rpc");
  const pugi::xml_node op = binding.find_child_by_attribute("operation", "name", "ExecuteCommand");
  EXPECT_STREQ(op.child("soap:operation").attribute("soapAction").value(),
               "urn:uSvcIntf-IMobileDCT#ExecuteCommand");
  EXPECT_STREQ(op.child("input").child("soap:body").attribute("use").value(), "encoded");
  EXPECT_STREQ(op.child("input").child("soap:body").attribute("namespace").value(),
               "urn:uSvcIntf-IMobileDCT");
  const pugi::xml_node port =
      defs.find_child_by_attribute("service", "name", "IMobileDCTservice").child("port");
  EXPECT_STREQ(port.attribute("name").value(), "IMobileDCTPort");
  // The Host header is the client's text: it arrives escaped, not as markup.
  EXPECT_STREQ(port.child("soap:address").attribute("location").value(), "http://h\"x:7211/soap/IMobileDCT");
}

TEST(WSDLPublishTest, Paths) {
  TWSDLHTMLPublish publish([] { return std::string("svc"); });
  struct TCase {
    const char* Path;
    int Status;
    const char* Contains;
  };
  const TCase cases[] = {
      {"/wsdl", 200, "WebService Listing"},
      {"/wsdl/", 200, "WebService Listing"},
      {"/WSDL/imobiledct/", 200, "IMobileDCTbinding"},
      {"/wsdl/admin", 403, "Forbidden (403)"},
      {"/wsdl/Admin/", 403, "Access Forbidden"},
      {"/wsdl/Nope", 200, "Interface Nope not found"},
      {"/wsdl/IWSDLPublish", 200, "Interface IWSDLPublish not found"},
      {"/wsdl/<b>", 200, "Interface &lt;b&gt; not found"},
  };
  for (const TCase& c : cases) {
    const TWebResponse r = publish.Publish(Get(c.Path));
    EXPECT_EQ(r.Status, c.Status) << c.Path;
    EXPECT_TRUE(Contains(r.Body, c.Contains)) << c.Path << "\n" << r.Body;
  }
  const TWebResponse missing = publish.Publish(Get("/wsdl/Nope"));
  EXPECT_TRUE(Contains(missing.Body, "Error Encountered"));
  EXPECT_EQ(missing.ContentType, "text/html; charset=\"utf-8\"");
}

TEST(WSDLPublishTest, InfoPage) {
  TWSDLHTMLPublish publish([] { return std::string("dct_svc"); });
  TWebResponse r = publish.InfoPage(Get("/"));
  EXPECT_EQ(r.ContentType, "text/html; charset=\"utf-8\"");
  EXPECT_TRUE(Contains(r.Body, "<title>dct_svc</title>"));
  EXPECT_TRUE(Contains(r.Body, "dct_svc - Service Info Page"));
  EXPECT_TRUE(Contains(r.Body, "href=\"/wsdl/IMobileDCT\""));
  EXPECT_TRUE(Contains(r.Body, "SetSingleDeviceParams"));
  EXPECT_TRUE(Contains(r.Body, "href=\"/inspection.wsil\""));
  EXPECT_FALSE(Contains(r.Body, "InputParameters"));
  EXPECT_FALSE(Contains(r.Body, "Data types"));

  r = publish.InfoPage(Get("/?intf=IMobileDCT&types=1"));
  EXPECT_TRUE(Contains(r.Body, "urn:uSvcIntf-IMobileDCT"));
  EXPECT_TRUE(Contains(r.Body, "InputParameters"));
  EXPECT_TRUE(Contains(r.Body, "Data types"));

  const TWebResponse wsil = publish.Inspection(Get("/inspection.wsil", "host:1"));
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(wsil.Body.c_str()));
  EXPECT_STREQ(doc.child("inspection").child("service").child("description").attribute("location").value(),
               "http://host:1/wsdl/IMobileDCT");
}

TEST(WSDLPublishTest, ProgramFileTitle) {
  EXPECT_EQ(ProgramFileTitle("/opt/x/dct_korvelmobilesvc"), "dct_korvelmobilesvc");
  EXPECT_EQ(ProgramFileTitle("/opt/x.y/svc.bin"), "svc");
  EXPECT_EQ(ProgramFileTitle("/opt/.hidden"), ".hidden");
  // The platform's own delimiter: the path GetModuleFilePath gives on Windows.
  EXPECT_EQ(ProgramFileTitle(std::string("C:") + kPathDelimiter + "svc" + kPathDelimiter +
                             "dct_korvelmobilesvc.exe"),
            "dct_korvelmobilesvc");
}

}  // namespace
}  // namespace dct
