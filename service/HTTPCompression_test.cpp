// Content codings through the real listener: answers compressed as the client allows,
// coded request bodies inflated before the handler sees them, and what is refused.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "service/HTTPConnection.h"
#include "service/HTTPContentCoding.h"
#include "service/HTTPListenerFixture.h"
#include "service/TestHTTPClient.h"

namespace dct::testing {
namespace {

using HTTPCompressionTest = THTTPListenerFixture;

// A deflate stream as zlib itself writes it: windowBits 15 wraps it, -15 leaves it raw.
std::string ZlibDeflate(std::string_view data, int windowBits) {
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&s, static_cast<uLong>(data.size())), '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

std::string Repeated(const std::string& piece, size_t times) {
  std::string all;
  all.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) all += piece;
  return all;
}

// A POST to /e with body under the coding named, as one body or in chunks of 64 KiB.
std::string CodedPost(const std::string& coding, const std::string& body, bool chunked) {
  std::string head = "POST /e HTTP/1.1\r\nHost: localhost\r\nContent-Encoding: " + coding + "\r\n";
  if (!chunked) return head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  head += "Transfer-Encoding: chunked\r\n\r\n";
  char size[32];
  for (size_t at = 0; at < body.size(); at += 64 << 10) {
    const std::string_view chunk = std::string_view(body).substr(at, 64 << 10);
    snprintf(size, sizeof(size), "%zx\r\n", chunk.size());
    head.append(size).append(chunk).append("\r\n");
  }
  return head + "0\r\n\r\n";
}

// The highest MemoryHeld seen while it lives, sampled every millisecond.
class TPeakHeld {
 public:
  explicit TPeakHeld(THTTPBridge& bridge)
      : FThread([this, &bridge] {
          while (!FStop) {
            FPeak = std::max<uint64_t>(FPeak, bridge.MemoryHeld());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        }) {}
  ~TPeakHeld() { Stop(); }
  uint64_t Stop() {
    FStop = true;
    if (FThread.joinable()) FThread.join();
    return FPeak;
  }

 private:
  std::atomic<bool> FStop{false};
  std::atomic<uint64_t> FPeak{0};
  std::thread FThread;
};

TEST_F(HTTPCompressionTest, AnswersAreCodedAsTheClientAllows) {
  FBridge.Start();
  constexpr size_t kAt = THTTPBridge::kCompressMinBytes;
  const struct {
    const char* Name;
    size_t Bytes;
    std::string Headers;
    bool Gzip;
    bool Vary;
  } cases[] = {
      {"no Accept-Encoding", 64 << 10, "", false, true},
      {"gzip, at the threshold", kAt, "Accept-Encoding: gzip\r\n", false, false},
      {"gzip, just above it", kAt + 1, "Accept-Encoding: gzip\r\n", true, true},
      {"gzip among others", 64 << 10, "Accept-Encoding: deflate, gzip;q=0.5, br\r\n", true, true},
      {"x-gzip, upper case", 64 << 10, "Accept-Encoding: X-GZIP\r\n", true, true},
      {"gzip;q=0", 64 << 10, "Accept-Encoding: gzip;q=0\r\n", false, true},
      {"gzip;q=0 beside *", 64 << 10, "Accept-Encoding: gzip;q=0, *\r\n", false, true},
      {"* alone", 64 << 10, "Accept-Encoding: *;q=0.1\r\n", true, true},
      {"identity", 64 << 10, "Accept-Encoding: identity\r\n", false, true},
      {"deflate only", 64 << 10, "Accept-Encoding: deflate\r\n", false, true},
      {"gzip in a second field", 64 << 10, "Accept-Encoding: identity\r\nAccept-Encoding: gzip\r\n", true,
       true},
      {"large", 24u << 20, "Accept-Encoding: gzip\r\n", true, true},
  };
  for (const auto& c : cases) {
    const std::string text = ListenerText(c.Bytes);
    const TRawResponse r = Exchange(
        "127.0.0.1", Port(), MakeRequest("GET", "/text?bytes=" + std::to_string(c.Bytes), "", c.Headers));
    ASSERT_TRUE(r.Complete) << c.Name;
    EXPECT_EQ(r.Status, 200) << c.Name;
    EXPECT_EQ(r.Headers.count("content-encoding") ? r.Headers.at("content-encoding") : "",
              c.Gzip ? "gzip" : "")
        << c.Name;
    EXPECT_EQ(r.Headers.count("vary") ? r.Headers.at("vary") : "", c.Vary ? "Accept-Encoding" : "") << c.Name;
    bool inflated = false;
    EXPECT_TRUE(IdentityBody(r, &inflated) == text) << c.Name;
    EXPECT_TRUE(inflated) << c.Name;
    if (c.Gzip) {
      EXPECT_LT(r.Body.size(), text.size() / 4) << c.Name;
    }
  }

  // HEAD tells the length its GET gets, coded or not.
  for (const char* headers : {"", "Accept-Encoding: gzip\r\n"}) {
    const TRawResponse get =
        Exchange("127.0.0.1", Port(), MakeRequest("GET", "/text?bytes=9000", "", headers));
    const TRawResponse head =
        Exchange("127.0.0.1", Port(), MakeRequest("HEAD", "/text?bytes=9000", "", headers));
    EXPECT_EQ(head.Status, 200);
    EXPECT_EQ(head.Body, "");
    EXPECT_EQ(head.Headers.at("content-length"), get.Headers.at("content-length")) << headers;
    EXPECT_EQ(head.Headers.count("content-encoding"), get.Headers.count("content-encoding")) << headers;
    EXPECT_EQ(head.Headers.at("vary"), "Accept-Encoding");
  }

  // An answer gzip cannot shrink goes out as it is, still marked as one that could be coded.
  const TRawResponse noise = Exchange(
      "127.0.0.1", Port(), MakeRequest("GET", "/noise?bytes=65536", "", "Accept-Encoding: gzip\r\n"));
  EXPECT_EQ(noise.Headers.count("content-encoding"), 0u);
  EXPECT_EQ(noise.Headers.at("vary"), "Accept-Encoding");
  EXPECT_TRUE(noise.Body == ListenerNoise(65536));
}

// A client that does not ask gets the answer it always got: the same head, the same bytes.
TEST_F(HTTPCompressionTest, WithoutAcceptEncodingTheBytesAreUnchanged) {
  FBridge.Start();
  for (size_t bytes : {size_t{10}, THTTPBridge::kCompressMinBytes, THTTPBridge::kCompressMinBytes + 1}) {
    const TRawResponse r =
        Exchange("127.0.0.1", Port(), MakeRequest("GET", "/text?bytes=" + std::to_string(bytes)));
    const std::string vary = bytes > THTTPBridge::kCompressMinBytes ? "Vary: Accept-Encoding\r\n" : "";
    EXPECT_TRUE(r.Raw ==
                "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(bytes) +
                    "\r\n" + vary + "Connection: close\r\n\r\n" + ListenerText(bytes))
        << r.Raw.substr(0, 200);
  }
}

// A gzip answer the client does not read is held at its coded size, not its identity one,
// and is whole when it is read at last.
TEST_F(HTTPCompressionTest, AnUnreadGzipAnswerIsCountedAtItsCodedSize) {
  FBridge.Start();
  constexpr size_t kBytes = 48u << 20;
  const uint64_t idle = FBridge.MemoryHeld();
  TTestConnection c("127.0.0.1", Port());
  ASSERT_TRUE(
      c.Send(MakeRequest("GET", "/text?bytes=" + std::to_string(kBytes), "", "Accept-Encoding: gzip\r\n")));
  // Once its head has arrived the answer is made; it is held, whole, until it is written.
  std::string raw;
  bool closed = false;
  ASSERT_TRUE(c.Read(raw, "\r\n\r\n", closed));
  const uint64_t held = FBridge.MemoryHeld();
  const TRawResponse head = ParseResponse(raw, false);
  ASSERT_EQ(head.Headers.at("content-encoding"), "gzip");
  const uint64_t answer = raw.find("\r\n\r\n") + 4 + std::stoull(head.Headers.at("content-length"));
  EXPECT_LT(answer, kBytes / 4);
  EXPECT_EQ(held, idle + THTTPBridge::kConnectionCost + answer);
  ASSERT_TRUE(c.Read(raw, "", closed));
  const TRawResponse r = ParseResponse(raw, closed);
  ASSERT_TRUE(r.Complete);
  EXPECT_TRUE(IdentityBody(r) == ListenerText(kBytes));
}

TEST_F(HTTPCompressionTest, CodedBodiesReachTheHandlerInflated) {
  FBridge.Start();
  const std::string body = ListenerText(3u << 20);
  const std::string half = body.substr(0, body.size() / 2);
  const struct {
    const char* Coding;
    std::string Coded;
    std::string Expected;
  } cases[] = {
      {"gzip", GzipCompress(body), body},
      {"x-gzip", GzipCompress(body, 1), body},
      {"GZip, identity", GzipCompress(body), body},
      {"gzip", GzipCompress(half) + GzipCompress(body.substr(half.size())), body},  // two members
      {"deflate", ZlibDeflate(body, 15), body},
      {"deflate", ZlibDeflate(body, -15), body},  // raw, as some clients send it
      {"gzip", "", ""},                           // no body: nothing to inflate
  };
  for (const auto& c : cases) {
    for (bool chunked : {false, true}) {
      const TRawResponse r = Exchange("127.0.0.1", Port(), CodedPost(c.Coding, c.Coded, chunked));
      EXPECT_EQ(r.Status, 200) << c.Coding << " chunked " << chunked << " " << r.Body.substr(0, 100);
      EXPECT_TRUE(r.Body == "POST /e localhost [] " + std::to_string(Port()) + " " + c.Expected)
          << c.Coding << " " << c.Coded.size() << " bytes, chunked " << chunked;
    }
  }
  // A connection gives its account back when it is gone, just after the client saw it close.
  for (int k = 0; k < 500 && FBridge.MemoryHeld() > 0; ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(FBridge.MemoryHeld(), 0u);
}

TEST_F(HTTPCompressionTest, BadCodedBodiesAre400AndReachNoHandler) {
  FBridge.Start();
  const std::string body = ListenerText(256u << 10);
  const std::string gz = GzipCompress(body);
  auto flipped = [](std::string s, size_t at) {
    s[at] = static_cast<char>(s[at] ^ 0x55);
    return s;
  };
  const struct {
    const char* Name;
    const char* Coding;
    std::string Coded;
  } cases[] = {
      {"cut before its trailer", "gzip", gz.substr(0, gz.size() - 6)},
      {"cut inside its header", "gzip", gz.substr(0, 5)},
      {"CRC damaged", "gzip", flipped(gz, gz.size() - 6)},
      {"length damaged", "gzip", flipped(gz, gz.size() - 2)},
      {"data damaged", "gzip", flipped(gz, gz.size() / 2)},
      {"bytes after the stream", "gzip", gz + "garbage"},
      {"not gzip at all", "gzip", body},
      {"deflate, cut", "deflate", ZlibDeflate(body, 15).substr(0, 1000)},
      {"deflate, bytes after the stream", "deflate", ZlibDeflate(body, 15) + "x"},
  };
  for (const auto& c : cases) {
    for (bool chunked : {false, true}) {
      const TRawResponse r = Exchange("127.0.0.1", Port(), CodedPost(c.Coding, c.Coded, chunked));
      EXPECT_EQ(r.Status, 400) << c.Name << ", chunked " << chunked;
      EXPECT_TRUE(r.Closed) << c.Name;
    }
  }
  EXPECT_EQ(FHandled, 0);
}

// Refused from the head alone: the body is neither waited for nor asked for.
TEST_F(HTTPCompressionTest, UnknownCodingIs415BeforeTheBody) {
  FBridge.Start();
  for (const char* coding : {"br", "compress", "gzip, gzip", "gzip, deflate"}) {
    TTestConnection c("127.0.0.1", Port());
    ASSERT_TRUE(
        c.Send(std::string("POST /e HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Encoding: ") +
               coding + "\r\nContent-Length: 1000000\r\n\r\n"));
    const TRawResponse r = c.ReadResponse();
    EXPECT_EQ(r.Status, 415) << coding;
    EXPECT_EQ(r.Interim, "") << coding;
  }
  EXPECT_EQ(FHandled, 0);
}

// 640 MB of zeros in 650 KB: refused before it is held, and nothing of it stays.
TEST_F(HTTPCompressionTest, BombIsRefusedWithMemoryFlat) {
  FBridge.Start();
  const std::string bomb = Repeated(GzipCompress(std::string(16u << 20, '\0'), 9), 40);
  ASSERT_LT(bomb.size(), 1u << 20);
  for (bool chunked : {false, true}) {
    TPeakHeld peak(FBridge);
    const TRawResponse r = Exchange("127.0.0.1", Port(), CodedPost("gzip", bomb, chunked));
    EXPECT_EQ(r.Status, 413) << chunked;
    EXPECT_LT(peak.Stop(), 16u << 20) << chunked;
  }
  EXPECT_EQ(FHandled, 0);
  for (int k = 0; k < 500 && FBridge.MemoryHeld() > 0; ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(FBridge.MemoryHeld(), 0u);
}

// The inflated bytes are reserved as they grow: past the address's room, 503 mid-body.
TEST_F(HTTPCompressionTest, InflatingPastTheBudgetIs503) {
  FBridge.Start();
  TTestConnection held("127.0.0.1", Port(), "127.0.0.1");
  ASSERT_TRUE(held.Send("POST /x HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: " +
                        std::to_string(THTTPBridge::kMaxBodyBytes) + "\r\n\r\n"));
  std::string interim;
  bool closed = false;
  ASSERT_TRUE(held.Read(interim, "\r\n\r\n", closed));  // its cost is reserved now
  // What is left of the share is less than this body inflated, at a ratio well inside the rule.
  const uint64_t room =
      THTTPBridge::kMemoryPerAddress - THTTPBridge::kMaxBodyBytes * THTTPBridge::kRequestCostFactor;
  const std::string member = GzipCompress(Repeated(ListenerText(4096), 256));  // 1 MiB
  const std::string coded = Repeated(member, room / THTTPBridge::kRequestCostFactor / (1u << 20) + 16);
  ASSERT_LT((1u << 20) / member.size(), THTTPBridge::kMaxInflateRatio / 2);
  const TRawResponse r = Exchange("127.0.0.1", Port(), CodedPost("gzip", coded, false), "127.0.0.1");
  EXPECT_EQ(r.Status, 503);
  EXPECT_EQ(FHandled, 0);
  // Another address is not affected.
  EXPECT_EQ(Exchange("127.0.0.1", Port(), CodedPost("gzip", member, false), "127.0.0.2").Status, 200);
}

}  // namespace
}  // namespace dct::testing
