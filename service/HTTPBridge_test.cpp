#include "service/HTTPBridge.h"

#include <gtest/gtest.h>

#include <string>
#include <system_error>

#include "service/HTTPListenerFixture.h"
#include "service/TestHTTPClient.h"

namespace dct::testing {
namespace {

using HTTPBridgeTest = THTTPListenerFixture;

TEST_F(HTTPBridgeTest, ListensOnEveryAddressUntilStopped) {
  EXPECT_EQ(THTTPBridge([](TWebRequest&) { return TWebResponse{}; }).Port(), 7211);  // the default
  EXPECT_FALSE(FBridge.Listening());
  FBridge.Start();
  ASSERT_TRUE(FBridge.Listening());
  const uint16_t port = Port();
  ASSERT_NE(port, 0);
  FBridge.Start();  // already listening: nothing changes
  EXPECT_EQ(Port(), port);

  TRawResponse r = Exchange("127.0.0.1", port, MakeRequest("GET", "/x?y=1"));
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.Body, "GET /x?y=1 localhost [] " + std::to_string(port) + " ");
  TTestConnection v6("::1", port);
  if (v6.Connected()) {  // hosts without IPv6 loopback skip this half
    ASSERT_TRUE(v6.Send(MakeRequest("GET", "/")));
    EXPECT_EQ(v6.ReadResponse().Status, 200);
  }

  FBridge.Stop();
  EXPECT_FALSE(FBridge.Listening());
  EXPECT_EQ(FBridge.BoundPort(), 0);
  EXPECT_FALSE(TTestConnection("127.0.0.1", port).Connected());
  FBridge.Stop();  // stopping a stopped listener is harmless

  FBridge.SetPort(port);  // and it starts again on the same port
  FBridge.Start();
  EXPECT_EQ(Exchange("127.0.0.1", port, MakeRequest("GET", "/")).Status, 200);
}

TEST_F(HTTPBridgeTest, PortTakenRaisesAndLeavesNothingListening) {
  FBridge.Start();
  THTTPBridge second([](TWebRequest&) { return TWebResponse{}; });
  second.SetPort(Port());
  try {
    second.Start();
    FAIL() << "no exception";
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find(std::to_string(Port())), std::string::npos) << e.what();
  }
  EXPECT_FALSE(second.Listening());
  EXPECT_EQ(Exchange("127.0.0.1", Port(), MakeRequest("GET", "/")).Status, 200);
}

}  // namespace
}  // namespace dct::testing
