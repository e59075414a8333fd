#include "service/ufmWebModule.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace dct {
namespace {

// No call may reach an implementation here: routing alone is under test.
std::unique_ptr<IMobileDCT> NoImplementation() { throw std::logic_error("not routed to SOAP"); }

TWebRequest Request(const std::string& method, const std::string& target) {
  TWebRequest r;
  r.Method = method;
  r.Target = target;
  r.Host = "localhost:7211";
  r.LocalPort = 7211;
  return r;
}

std::string Route(const TWebResponse& r) {
  if (r.Body.find("Service Info Page") != std::string::npos) return "info";
  if (r.Body.find("<inspection") != std::string::npos) return "wsil";
  if (r.Body.find("WebService Listing") != std::string::npos) return "listing";
  if (r.Body.find("<definitions") != std::string::npos) return "wsdl";
  if (r.Body.find("SOAP-ENV:Fault") != std::string::npos) return "soap";
  return "other: " + r.Body;
}

TEST(WebModuleTest, Routing) {
  TWebModule1 module(NoImplementation, [] { return std::string("svc"); });
  struct TCase {
    const char* Method;
    const char* Target;
    const char* Route;
  };
  const TCase cases[] = {
      {"GET", "/", "info"},
      {"POST", "/", "info"},
      {"GET", "/SOAP", "info"},
      {"GET", "/soap/IMobileDCT", "info"},
      {"POST", "/Soap/IMobileDCT", "soap"},
      {"POST", "/soapy", "soap"},
      {"POST", "/anything", "info"},
      {"GET", "/wsdl", "listing"},
      {"DELETE", "/WSDL/IMobileDCT", "wsdl"},
      {"POST", "/wsdl/IMobileDCT", "wsdl"},
      {"GET", "/inspection.wsil", "wsil"},
      {"GET", "/INSPECTION.WSIL?x", "wsil"},
      {"GET", "/x/inspection.wsil", "info"},
      {"GET", "/?intf=IMobileDCT", "info"},
  };
  for (const TCase& c : cases) {
    TWebRequest r = Request(c.Method, c.Target);
    EXPECT_EQ(Route(module.HandleRequest(r)), c.Route) << c.Method << " " << c.Target;
  }
}

TEST(WebModuleTest, ExceptionInTheDefaultActionIsAnErrorPage) {
  TWebModule1 module(NoImplementation, []() -> std::string { throw std::runtime_error("no <name>"); });
  TWebRequest r = Request("GET", "/some/<path>?q=1");
  const TWebResponse response = module.HandleRequest(r);
  EXPECT_EQ(response.Status, 500);
  EXPECT_EQ(response.ContentType, "text/html; charset=\"utf-8\"");
  EXPECT_NE(response.Body.find("<h1>Internal Application Error</h1>"), std::string::npos);
  EXPECT_NE(response.Body.find("no &lt;name&gt;"), std::string::npos);
  EXPECT_NE(response.Body.find("<hr><i>/some/&lt;path&gt;</i>"), std::string::npos);
}

}  // namespace
}  // namespace dct
