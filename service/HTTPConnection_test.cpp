#include "service/HTTPConnection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
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
}

// "100 Continue" tells that the server has reserved a body's cost.
bool Reserved(TTestConnection& c, uint64_t length) {
  if (!c.Send("POST /x HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: " +
              std::to_string(length) + "\r\n\r\n")) {
    return false;
  }
  std::string interim;
  bool closed = false;
  return c.Read(interim, "\r\n\r\n", closed) && interim == "HTTP/1.1 100 Continue\r\n\r\n";
}

TEST_F(HTTPConnectionTest, OneAddressHoldingLargeBodiesLeavesTheOthersServed) {
  FBridge.Start();
  // The largest body's cost fits one address's share, a second one does not...
  static_assert(THTTPBridge::kMaxBodyBytes * THTTPBridge::kRequestCostFactor <=
                THTTPBridge::kMemoryPerAddress);
  static_assert(2 * THTTPBridge::kMaxBodyBytes * THTTPBridge::kRequestCostFactor >
                THTTPBridge::kMemoryPerAddress);
  TTestConnection held("127.0.0.1", Port(), "127.0.0.1");
  ASSERT_TRUE(Reserved(held, THTTPBridge::kMaxBodyBytes));
  TTestConnection second("127.0.0.1", Port(), "127.0.0.1");
  ASSERT_TRUE(second.Send("POST /x HTTP/1.1\r\nHost: h\r\nContent-Length: " +
                          std::to_string(THTTPBridge::kMaxBodyBytes) + "\r\n\r\n"));
  TRawResponse r = second.ReadResponse();
  EXPECT_EQ(r.Status, 503);
  EXPECT_EQ(r.Body, "The server holds too much data for this client.  Please try again later");
  // ...while another address is served at once, a large body of its own included.
  r = Exchange("127.0.0.1", Port(), MakeRequest("POST", "/y", "abc"), "127.0.0.2");
  EXPECT_EQ(r.Status, 200);
  TTestConnection other("127.0.0.1", Port(), "127.0.0.2");
  EXPECT_TRUE(Reserved(other, THTTPBridge::kMaxBodyBytes / 2));
}

TEST_F(HTTPConnectionTest, OneAddressCannotFillTheConnectionTable) {
  FBridge.Start();
  std::vector<std::unique_ptr<TTestConnection>> idle;
  for (int i = 0; i < THTTPBridge::kMaxConnectionsPerAddress; ++i) {
    idle.push_back(std::make_unique<TTestConnection>("127.0.0.1", Port(), "127.0.0.1"));
    ASSERT_TRUE(idle.back()->Send("G")) << i;
  }
  // Connections are taken from the kernel once their first bytes are there.
  for (int i = 0; i < 200 && FBridge.OpenConnections() < THTTPBridge::kMaxConnectionsPerAddress; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(FBridge.OpenConnections(), THTTPBridge::kMaxConnectionsPerAddress);
  // One more from that address is closed unanswered (a reset, as it had sent its request).
  TTestConnection refused("127.0.0.1", Port(), "127.0.0.1");
  refused.Send(MakeRequest("GET", "/"));
  std::string got;
  bool closed = false;
  refused.Read(got, "", closed, std::chrono::seconds(5));
  EXPECT_EQ(got, "");
  EXPECT_EQ(FBridge.OpenConnections(), THTTPBridge::kMaxConnectionsPerAddress);
  const TRawResponse r = Exchange("127.0.0.1", Port(), MakeRequest("GET", "/"), "127.0.0.2");
  EXPECT_EQ(r.Status, 200);
}

TEST_F(HTTPConnectionTest, AnswersCountUntilWrittenAndBoundWhatOneAddressHolds) {
  FBridge.Start();
  // A client that asks for large answers and never reads them: they are held, counted,
  // until its share is used up; then it is refused, and another address is not.
  std::vector<std::unique_ptr<TTestConnection>> unread;
  std::vector<std::string> heads;  // what each has read of its answer: its start
  int answered = 0;
  TRawResponse refused;
  for (int i = 0; i < 64 && refused.Status == 0; ++i) {
    auto c = std::make_unique<TTestConnection>("127.0.0.1", Port(), "127.0.0.1");
    ASSERT_TRUE(c->Send(MakeRequest("GET", "/big")));
    // The status line comes first whatever the client reads: 200 for an answer the server
    // now holds (and counts, from before its first byte), 503 once the share is used up.
    std::string head;
    bool closed = false;
    ASSERT_TRUE(c->Read(head, "\r\n", closed)) << i;
    if (head.starts_with("HTTP/1.1 200")) {
      ++answered;
      unread.push_back(std::move(c));
      heads.push_back(head);
    } else {
      std::string rest;
      c->Read(rest, "", closed);
      refused = ParseResponse(head + rest, closed);
    }
  }
  EXPECT_EQ(refused.Status, 503);
  EXPECT_GE(answered, static_cast<int>(THTTPBridge::kMemoryPerAddress / kBigAnswerBytes) - 2);
  EXPECT_LE(FBridge.MemoryHeld(), THTTPBridge::kMemoryPerAddress + kBigAnswerBytes + (1u << 20));
  EXPECT_EQ(Exchange("127.0.0.1", Port(), MakeRequest("GET", "/big"), "127.0.0.2").Body.size(),
            kBigAnswerBytes);
  // Read at last, an answer is whole; dropped, it is given back like a written one.
  ASSERT_FALSE(unread.empty());
  for (size_t k : {size_t{0}, unread.size() - 1}) {
    std::string rest;
    bool closed = false;
    unread[k]->Read(rest, "", closed);
    EXPECT_EQ(ParseResponse(heads[k] + rest, closed).Body.size(), kBigAnswerBytes) << k;
  }
  unread.clear();
  for (int k = 0; k < 3000 && FBridge.MemoryHeld() > 0; ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(FBridge.MemoryHeld(), 0u);
}

TEST_F(HTTPConnectionTest, HeadBytesOfAChunkedBodyAreBounded) {
  FBridge.Start();
  const std::string head = "POST /c HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n";
  const struct {
    const char* Name;
    std::string Rest;
  } cases[] = {
      {"a chunk-size line that never ends", std::string(THTTPBridge::kMaxReadBufferBytes, '0')},
      {"a chunk extension above its limit",
       "3;x=" + std::string(THTTPBridge::kMaxChunkExtensionBytes, 'e') + "\r\nabc\r\n0\r\n\r\n"},
      {"a trailer that never ends",
       "3\r\nabc\r\n0\r\nX-T: " + std::string(THTTPBridge::kMaxReadBufferBytes, 't')},
  };
  for (const auto& c : cases) {
    TTestConnection conn("127.0.0.1", Port());
    ASSERT_TRUE(conn.Send(head));
    conn.Send(c.Rest);  // the server may close before it has all of it
    const TRawResponse r = conn.ReadResponse();
    EXPECT_EQ(r.Status, 400) << c.Name;
    EXPECT_TRUE(r.Closed) << c.Name;
  }
  // A short extension and a short trailer are fine.
  const TRawResponse r = Exchange("127.0.0.1", Port(), head + "3;x=1\r\nabc\r\n0\r\nX-T: 1\r\n\r\n");
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.Body, "POST /c h [] " + std::to_string(Port()) + " abc");
}

TEST_F(HTTPConnectionTest, WebPagesCannotPostUnlessTheirOriginIsAllowed) {
  FBridge.SetAllowedOrigins({"http://office.example:8080"});
  FBridge.Start();
  const struct {
    const char* Method;
    const char* Headers;
    int Status;
  } cases[] = {
      {"POST", "", 200},  // SOAP clients send neither header
      {"POST", "Origin: http://evil.example\r\n", 403},
      {"POST", "Origin: null\r\n", 403},
      {"POST", "Sec-Fetch-Site: cross-site\r\n", 403},
      {"POST", "Sec-Fetch-Site: same-origin\r\n", 403},  // a rebound page is same-origin
      {"POST", "Sec-Fetch-Site: none\r\n", 200},         // typed by the user
      {"POST", "Origin: http://office.example:8080\r\nSec-Fetch-Site: cross-site\r\n", 200},
      {"POST", "Origin: http://office.example\r\n", 403},
      {"PUT", "Origin: http://evil.example\r\n", 403},
      {"GET", "Origin: http://evil.example\r\nSec-Fetch-Site: cross-site\r\n", 200},
      {"HEAD", "Sec-Fetch-Site: cross-site\r\n", 200},
  };
  for (const auto& c : cases) {
    const TRawResponse r =
        Exchange("127.0.0.1", Port(), MakeRequest(c.Method, "/soap/IMobileDCT", "", c.Headers));
    EXPECT_EQ(r.Status, c.Status) << c.Method << " " << c.Headers;
    if (c.Status == 403) {
      EXPECT_EQ(r.Body.find("POST"), std::string::npos) << "the handler ran";
    }
  }
}

TEST_F(HTTPConnectionTest, HandlerExceptionIs500WithItsMessage) {
  FBridge.Start();
  const TRawResponse r = Exchange("127.0.0.1", Port(), MakeRequest("GET", "/raise"));
  EXPECT_EQ(r.Status, 500);
  EXPECT_EQ(r.Body, "handler failed");
}

}  // namespace
}  // namespace dct::testing
