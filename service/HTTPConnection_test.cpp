#include "service/HTTPConnection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "service/HTTPListenerFixture.h"
#include "service/TestHTTPClient.h"

namespace dct::testing {
namespace {

// Through the switch, whose server hands every accepted connection to a THTTPConnection.
using HTTPConnectionTest = THTTPListenerFixture;

TEST_F(HTTPConnectionTest, EveryAnswerClosesItsConnection) {
  FBridge.Start();
  for (const char* connection : {"keep-alive", "TE, close", "Keep-Alive"}) {
    TRawResponse r = Exchange("127.0.0.1", Port(),
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

TEST_F(HTTPConnectionTest, ChunkedBodiesAndContinue) {
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

TEST_F(HTTPConnectionTest, LimitsRefuseBeforeReading) {
  FBridge.Start();
  // A declared length above the limit is refused at once; the client need not send it.
  TRawResponse r = Exchange("127.0.0.1", Port(),
                            "POST /x HTTP/1.1\r\nHost: h\r\nContent-Length: " +
                                std::to_string(THTTPBridge::kMaxBodyBytes + 1) + "\r\n\r\n");
  EXPECT_EQ(r.Status, 413);
  EXPECT_TRUE(r.Closed);
  r = Exchange(
      "127.0.0.1", Port(),
      "GET / HTTP/1.1\r\nHost: h\r\nX-Big: " + std::string(THTTPBridge::kMaxHeaderBytes, 'a') + "\r\n\r\n");
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

TEST_F(HTTPConnectionTest, HandlerExceptionIs500WithItsMessage) {
  FBridge.Start();
  const TRawResponse r = Exchange("127.0.0.1", Port(), MakeRequest("GET", "/raise"));
  EXPECT_EQ(r.Status, 500);
  EXPECT_EQ(r.Body, "handler failed");
}

}  // namespace
}  // namespace dct::testing
