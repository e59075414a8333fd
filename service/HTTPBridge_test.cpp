#include "service/HTTPBridge.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "service/TestHTTPClient.h"
#include "support/TestSupport.h"

namespace dct {
namespace {

using testing::Exchange;
using testing::MakeRequest;
using testing::TRawResponse;
using testing::TTestConnection;

// Requests to /block wait here until the test opens the gate.
class TGate {
 public:
  void Enter() {
    std::unique_lock<std::mutex> lock(FLock);
    ++FInside;
    FChanged.notify_all();
    FChanged.wait(lock, [this] { return FOpen; });
  }
  bool WaitInside(int n) {
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, std::chrono::seconds(30), [&] { return FInside >= n; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(FLock);
    FOpen = true;
    FChanged.notify_all();
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  int FInside = 0;
  bool FOpen = false;
};

using testing::WaitFor;

class HTTPBridgeTest : public ::testing::Test {
 protected:
  HTTPBridgeTest()
      : FBridge([this](TWebRequest& r) {
          if (r.Path() == "/raise") throw std::runtime_error("handler failed");
          if (r.Path() == "/block") FGate.Enter();
          TWebResponse response;
          response.ContentType = "text/plain";
          response.Body = r.Method + " " + r.Target + " " + r.Host + " [" + r.SOAPAction + "] " +
                          std::to_string(r.LocalPort) + " " + r.Body;
          return response;
        }) {
    FBridge.SetPort(0);
  }
  ~HTTPBridgeTest() override {
    FGate.Open();
    FBridge.Stop();
  }

  uint16_t Port() const { return FBridge.BoundPort(); }

  TGate FGate;
  THTTPBridge FBridge;
};

TEST_F(HTTPBridgeTest, ListensOnEveryAddressUntilStopped) {
  EXPECT_EQ(THTTPBridge().Port(), 7211);  // the default, before the host sets one
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

TEST_F(HTTPBridgeTest, EveryAnswerClosesItsConnection) {
  FBridge.Start();
  for (const char* connection : {"keep-alive", "TE, close", "Keep-Alive"}) {
    TRawResponse r =
        Exchange("127.0.0.1", Port(),
                 MakeRequest("POST", "/soap", "abc",
                             std::string("Connection: ") + connection +
                                 "\r\nTE: deflate,gzip\r\n"
                                 "Accept-Encoding: gzip, deflate\r\nsoapaction: \"a#b\"\r\n"));
    EXPECT_TRUE(r.Complete) << r.Raw;
    EXPECT_TRUE(r.Closed) << connection;
    EXPECT_EQ(r.Headers["connection"], "close");
    EXPECT_EQ(r.Headers.count("content-encoding"), 0u);
    EXPECT_EQ(r.Body, "POST /soap localhost [\"a#b\"] " + std::to_string(Port()) + " abc");
  }
  // HTTP/1.0 and HEAD too.
  TRawResponse r = Exchange("127.0.0.1", Port(), "GET / HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(r.Closed);
  r = Exchange("127.0.0.1", Port(), MakeRequest("HEAD", "/"));
  EXPECT_EQ(r.Status, 200);
  EXPECT_TRUE(r.Closed);
  EXPECT_EQ(r.Body, "");
  EXPECT_NE(r.Headers["content-length"], "0");
}

TEST_F(HTTPBridgeTest, ChunkedBodiesAndContinue) {
  FBridge.Start();
  TRawResponse r = Exchange("127.0.0.1", Port(),
                            "POST /c HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
                            "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n");
  EXPECT_EQ(r.Body, "POST /c h [] " + std::to_string(Port()) + " abcde");

  // The client waits for "100 Continue" before it sends the body.
  TTestConnection c("127.0.0.1", Port());
  ASSERT_TRUE(
      c.Send("POST /e HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\n"
             "Content-Length: 4\r\n\r\n"));
  std::string interim;
  bool closed = false;
  ASSERT_TRUE(c.Read(interim, "\r\n\r\n", closed));
  EXPECT_EQ(interim, "HTTP/1.1 100 Continue\r\n\r\n");
  ASSERT_TRUE(c.Send("wxyz"));
  r = c.ReadResponse();
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.Body, "POST /e h [] " + std::to_string(Port()) + " wxyz");
}

TEST_F(HTTPBridgeTest, LimitsRefuseBeforeReading) {
  FBridge.Start();
  // A declared length above the limit is refused at once; the client need not send it.
  TRawResponse r = Exchange("127.0.0.1", Port(),
                            "POST /x HTTP/1.1\r\nHost: h\r\nContent-Length: " +
                                std::to_string(THTTPBridge::kMaxBodyBytes + 1) + "\r\n\r\n");
  EXPECT_EQ(r.Status, 413);
  EXPECT_TRUE(r.Closed);
  r = Exchange("127.0.0.1", Port(),
               "GET / HTTP/1.1\r\nHost: h\r\nX-Big: " +
                   std::string(THTTPBridge::kMaxHeaderBytes, 'a') + "\r\n\r\n");
  EXPECT_EQ(r.Status, 431);
  r = Exchange("127.0.0.1", Port(), "NOT HTTP AT ALL\r\n\r\n");
  EXPECT_EQ(r.Status, 400);
  EXPECT_TRUE(r.Closed);

  // Bodies held at once are capped: two declared bodies fit, a third does not. "100
  // Continue" tells that the server has reserved a body.
  const uint64_t each = THTTPBridge::kMaxBodyBytesInFlight / 2 - 1;
  const std::string header =
      "POST /x HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\n"
      "Content-Length: " +
      std::to_string(each) + "\r\n\r\n";
  std::vector<std::unique_ptr<TTestConnection>> held;
  for (int i = 0; i < 2; ++i) {
    held.push_back(std::make_unique<TTestConnection>("127.0.0.1", Port()));
    ASSERT_TRUE(held.back()->Send(header));
    std::string interim;
    bool closed = false;
    ASSERT_TRUE(held.back()->Read(interim, "\r\n\r\n", closed)) << i;
    EXPECT_EQ(interim, "HTTP/1.1 100 Continue\r\n\r\n");
  }
  r = Exchange("127.0.0.1", Port(), header);
  EXPECT_EQ(r.Status, 503);
  held.clear();  // their reservations go with them
}

TEST_F(HTTPBridgeTest, ThirtyThirdRequestIsRefused) {
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

TEST_F(HTTPBridgeTest, HandlerExceptionIs500WithItsMessage) {
  FBridge.Start();
  const TRawResponse r = Exchange("127.0.0.1", Port(), MakeRequest("GET", "/raise"));
  EXPECT_EQ(r.Status, 500);
  EXPECT_EQ(r.Body, "handler failed");
}

// A stop ends idle connections at once and still delivers an answer being computed.
TEST_F(HTTPBridgeTest, StopEndsIdleConnectionsAndFinishesAnswers) {
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
}  // namespace dct
