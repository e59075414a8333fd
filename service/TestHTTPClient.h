// For tests only: a blocking HTTP/1.1 client over plain sockets that sends raw bytes and
// reads until the server closes, so that tests see exactly what went over the wire. Every
// wait for the server is bounded by a timeout, so a server that never answers fails the
// test instead of hanging it.
#pragma once

#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/system/error_code.hpp>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "service/HTTPContentCoding.h"

namespace dct::testing {

struct TRawResponse {
  bool Complete = false;  // a status line, headers and (by Content-Length) the whole body
  bool Closed = false;    // the server closed the connection after it
  int Status = 0;
  std::string Interim;                         // "100 Continue" responses before the final one
  std::map<std::string, std::string> Headers;  // names in lower case
  std::string Body;
  std::string Raw;
};

// Splits what the server sent into the final response; interim 1xx responses go to Interim.
inline TRawResponse ParseResponse(std::string raw, bool closed) {
  TRawResponse r;
  r.Raw = raw;
  r.Closed = closed;
  for (;;) {
    const size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos || raw.compare(0, 9, "HTTP/1.1 ") != 0) return r;
    const int status = std::atoi(raw.c_str() + 9);
    if (status >= 100 && status < 200) {
      r.Interim += raw.substr(0, end + 4);
      raw.erase(0, end + 4);
      continue;
    }
    r.Status = status;
    size_t line = raw.find("\r\n") + 2;
    while (line < end) {
      const size_t next = raw.find("\r\n", line);
      const std::string field = raw.substr(line, next - line);
      const size_t colon = field.find(':');
      std::string name = field.substr(0, colon);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      std::string value = colon == std::string::npos ? "" : field.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      r.Headers[name] = value;
      line = next + 2;
    }
    r.Body = raw.substr(end + 4);
    const auto length = r.Headers.find("content-length");
    r.Complete = length != r.Headers.end() && r.Body.size() == std::stoul(length->second);
    return r;
  }
}

// The body as the server made it: inflated when it came gzip-coded, as it came otherwise;
// empty, with a failure recorded in ok, when a gzip body does not inflate whole.
inline std::string IdentityBody(const TRawResponse& r, bool* ok = nullptr) {
  const auto coding = r.Headers.find("content-encoding");
  if (ok != nullptr) *ok = true;
  if (coding == r.Headers.end()) return r.Body;
  const TContentCoding parsed = ParseContentEncoding(coding->second);
  if (parsed != TContentCoding::Gzip && parsed != TContentCoding::Deflate) {
    if (ok != nullptr) *ok = false;
    return std::string();
  }
  TBodyInflater inflater(parsed, SIZE_MAX);
  std::string body;
  if (inflater.Feed(r.Body, body) == TInflateStatus::Ok && inflater.Finish() == TInflateStatus::Ok)
    return body;
  if (ok != nullptr) *ok = false;
  return std::string();
}

class TTestConnection {
 public:
  static constexpr std::chrono::seconds kTimeout{30};

  // from: the local IPv4 address to connect from (another loopback address plays another
  // client); empty for the system's choice.
  TTestConnection(const std::string& host, uint16_t port, const std::string& from = "") : FSocket(FContext) {
    using boost::asio::ip::tcp;
    boost::system::error_code ec;
    tcp::resolver resolver(FContext);
    // No lookup flags: the default ones skip IPv6 where the loopback is its only address.
    const tcp::resolver::results_type found =
        resolver.resolve(host, std::to_string(port), tcp::resolver::flags(), ec);
    if (ec) return;
    for (const tcp::resolver::results_type::value_type& entry : found) {
      FSocket.open(entry.endpoint().protocol(), ec);
      if (!ec && !from.empty()) FSocket.bind(tcp::endpoint(boost::asio::ip::make_address(from), 0), ec);
      if (!ec) FSocket.connect(entry.endpoint(), ec);
      if (!ec) return;
      boost::system::error_code ignored;
      FSocket.close(ignored);
    }
  }
  TTestConnection(const TTestConnection&) = delete;
  TTestConnection& operator=(const TTestConnection&) = delete;

  bool Connected() const { return FSocket.is_open(); }

  bool Send(const std::string& bytes) {
    boost::system::error_code ec;
    boost::asio::write(FSocket, boost::asio::buffer(bytes), ec);
    return !ec;
  }

  // Reads until the text holds `until` (or, with an empty `until`, until the server closes).
  // Returns false on timeout or error; `closed` tells whether the server closed.
  bool Read(std::string& into, const std::string& until, bool& closed,
            std::chrono::milliseconds timeout = kTimeout) {
    closed = false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (until.empty() || into.find(until) == std::string::npos) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      boost::system::error_code ec;
      size_t n = 0;
      if (!ReadSome(left, ec, n)) return false;
      if (ec == boost::asio::error::eof) {
        closed = true;
        return until.empty();
      }
      if (ec) return false;
      into.append(FBuffer.data(), n);
    }
    return true;
  }

  // Reads everything until the server closes, then parses it. Room for the body is made
  // once its length is known, so that large answers are not copied while they arrive.
  TRawResponse ReadResponse() {
    std::string raw;
    bool closed = false;
    if (Read(raw, "\r\n\r\n", closed)) {
      const TRawResponse head = ParseResponse(raw, false);
      const auto length = head.Headers.find("content-length");
      if (length != head.Headers.end()) {
        raw.reserve(raw.find("\r\n\r\n") + 4 + std::stoul(length->second));
      }
    }
    if (!closed) Read(raw, "", closed);
    return ParseResponse(std::move(raw), closed);
  }

 private:
  // One read of what has arrived into FBuffer; false when nothing came within `left`.
  bool ReadSome(std::chrono::milliseconds left, boost::system::error_code& ec, size_t& n) {
    bool done = false;
    FSocket.async_read_some(boost::asio::buffer(FBuffer),
                            [&](const boost::system::error_code& e, size_t got) {
                              ec = e;
                              n = got;
                              done = true;
                            });
    FContext.restart();
    FContext.run_for(left);
    if (done) return true;
    // The cancelled read still completes: nothing may be left pending on FBuffer.
    boost::system::error_code ignored;
    FSocket.cancel(ignored);
    FContext.restart();
    FContext.run();
    return false;
  }

  // Declared first: the socket is made on it and must go before it.
  boost::asio::io_context FContext{1};
  boost::asio::ip::tcp::socket FSocket;
  std::vector<char> FBuffer = std::vector<char>(65536);
};

// One request on a new connection.
inline TRawResponse Exchange(const std::string& host, uint16_t port, const std::string& raw,
                             const std::string& from = "") {
  TTestConnection c(host, port, from);
  if (!c.Connected() || !c.Send(raw)) return {};
  return c.ReadResponse();
}

inline std::string MakeRequest(const std::string& method, const std::string& target,
                               const std::string& body = "", const std::string& headers = "") {
  std::string r = method + " " + target + " HTTP/1.1\r\nHost: localhost\r\n" + headers;
  if (!body.empty() || method == "POST") r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return r + "\r\n" + body;
}

}  // namespace dct::testing
