#include "service/HTTPServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "service/HTTPListenerFixture.h"
#include "service/TestHTTPClient.h"
#include "support/TestSupport.h"

namespace dct::testing {
namespace {

// Through the switch, which is how a server is started and stopped.
using HTTPServerTest = THTTPListenerFixture;

TEST_F(HTTPServerTest, ThirtyThirdRequestIsRefused) {
  FBridge.Start();
  std::vector<std::unique_ptr<TTestConnection>> waiting;
  for (int i = 0; i < THTTPBridge::kMaxRequestsInProgress; ++i) {
    waiting.push_back(std::make_unique<TTestConnection>("127.0.0.1", Port()));
    ASSERT_TRUE(waiting.back()->Send(MakeRequest("GET", "/block")));
  }
  ASSERT_TRUE(FGate.WaitInside(THTTPBridge::kMaxRequestsInProgress));
  EXPECT_EQ(FBridge.RequestsInProgress(), THTTPBridge::kMaxRequestsInProgress);

  TRawResponse r = Exchange("127.0.0.1", Port(), MakeRequest("GET", "/"));
  EXPECT_EQ(r.Status, 500);
  EXPECT_EQ(r.Body, "Maximum number of concurrent connections exceeded.  Please try again later");
  EXPECT_TRUE(r.Closed);

  FGate.Open();
  for (auto& c : waiting) EXPECT_EQ(c->ReadResponse().Status, 200);
  // The slots are free again.
  EXPECT_EQ(Exchange("127.0.0.1", Port(), MakeRequest("GET", "/")).Status, 200);
}

// A stop ends idle connections at once and still delivers an answer being computed.
TEST_F(HTTPServerTest, StopEndsIdleConnectionsAndFinishesAnswers) {
  FBridge.Start();
  // A connection is taken from the kernel once its first bytes arrive.
  TTestConnection idle("127.0.0.1", Port());
  ASSERT_TRUE(idle.Send("G"));
  TTestConnection partial("127.0.0.1", Port());
  ASSERT_TRUE(partial.Send("GET / HTTP/1.1\r\nHo"));
  TTestConnection busy("127.0.0.1", Port());
  ASSERT_TRUE(busy.Send(MakeRequest("GET", "/block")));
  ASSERT_TRUE(FGate.WaitInside(1));
  // All three accepted, so that the stop meets them as connections, not as a backlog.
  ASSERT_TRUE(WaitFor([this] { return FBridge.OpenConnections() == 3; }));

  std::thread stopper([this] { FBridge.Stop(); });
  std::string rest;
  bool closed = false;
  EXPECT_TRUE(idle.Read(rest, "", closed));
  EXPECT_TRUE(closed);
  EXPECT_TRUE(partial.Read(rest, "", closed));
  EXPECT_TRUE(closed);
  FGate.Open();
  const TRawResponse r = busy.ReadResponse();
  EXPECT_EQ(r.Status, 200);
  stopper.join();
  EXPECT_FALSE(FBridge.Listening());
}

}  // namespace
}  // namespace dct::testing
