// THTTPConnection: one accepted connection of THTTPServer, one request, one answer.
//
// Its stages run in order: the header (within kHeaderTimeout), an optional "100 Continue",
// the body, the request handler, the answer, and the close. A request that cannot be read is
// answered at once (431, 413, 400), and so is a request a web page makes (403, see
// BrowserRefusal) and one the memory budget has no room for (503): a declared body length is
// checked against kMaxBodyBytes, and its cost (kRequestCostFactor times it) reserved in the
// connection's account, before a byte of the body is read; a chunked body reserves as it
// arrives. A body sent gzip- or deflate-coded is inflated as it arrives (TRequestBodyDecoder),
// its inflated bytes reserved as they grow; another coding is refused (415) before the body
// is read. A complete request takes a slot of the server, or is answered at once with status
// 500 and kBusyText when every slot is taken; the slot is free again as soon as the answer is
// made. From then on the account holds the answer instead of the request, until its last
// byte is written or the connection is dropped.
//
// An answer above kCompressMinBytes carries "Vary: Accept-Encoding", and goes out gzip-coded
// when the request's Accept-Encoding allows it, compressed by whoever ran the handler (never
// under CommandLock), its identity body and the compressor counted meanwhile. When the budget
// has no room for the compressor, or gzip would not be smaller, it goes out as it is.
//
// The body and the answer must keep moving (kMinTransferRate after kTransferGraceTime, in
// the bytes that moved, and no stall longer than kTransferGraceTime); the read buffer never
// grows past kMaxReadBufferBytes. Every answer carries its length and closes the connection,
// whatever the client asked for. When the client may still be sending (an early answer, or
// bytes beyond the request), what it sends is read and dropped for kLingerTime first, so that
// the close does not become a reset that loses the answer before the client reads it.
//
// Threads: everything runs on the connection's strand, except the request's handler and the
// answer's first write, which the I/O thread that read the request or a worker does (see
// THTTPServer for which). Whoever serves the request owns the socket meanwhile: the strand
// leaves a serving connection alone. The handler runs with the connection's account as
// TMemoryCharge::Current, so that what the command makes is counted too.
//
// Lifetime: shared, held by the operations the connection has pending; it registers with the
// server for the whole of its life. REQUIRES: the server's state outlives it (THTTPServer
// destroys its io_context, and with it every connection, before the rest of itself).
//
// In one call: made by THTTPServer for an accepted socket; calls the request handler
// (TWebModule1) on its I/O thread or a worker, then writes the answer.
#pragma once

#include <array>
#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "service/HTTPRequestParser.h"
#include "service/HTTPServer.h"
#include "service/MemoryBudget.h"
#include "service/uWebTypes.h"

namespace dct {

class THTTPConnection : public std::enable_shared_from_this<THTTPConnection> {
 public:
  using TClock = std::chrono::steady_clock;

  // REQUIRES: charge is the account the server opened for this connection's address.
  THTTPConnection(THTTPServer& server, boost::asio::ip::tcp::socket&& socket,
                  std::unique_ptr<TMemoryCharge> charge);
  ~THTTPConnection();
  THTTPConnection(const THTTPConnection&) = delete;
  THTTPConnection& operator=(const THTTPConnection&) = delete;

  // Registers the connection and reads its request. REQUIRES: runs on the accept strand,
  // before any handler of the connection exists; the sweep and a stop reach the connection
  // only after it (both go through the accept strand first).
  void Start();

  // The strand; CheckDeadline and EndIfWaiting run on it.
  boost::asio::any_io_executor Executor() { return FSocket.get_executor(); }
  // Ends a connection whose deadline has passed; a request being served has none.
  void CheckDeadline(TClock::time_point now) {
    if (FPhase != TPhase::Serving && now >= FDeadline) Close();
  }
  // A stop ends connections that wait for their clients; answers being computed or written
  // go on.
  void EndIfWaiting() {
    if (FPhase == TPhase::Reading || FPhase == TPhase::Lingering) Close();
  }

 private:
  using error_code = boost::system::error_code;
  enum class TPhase { Reading, Serving, Writing, Lingering };

  // The answer as it goes out: head and body, and how much of both has been written.
  struct TOutgoing {
    std::string Head;
    std::string Body;
    size_t Sent = 0;
    size_t Size() const { return Head.size() + Body.size(); }
    std::array<boost::asio::const_buffer, 2> Rest() const {
      if (Sent < Head.size()) {
        return {boost::asio::buffer(Head.data() + Sent, Head.size() - Sent), boost::asio::buffer(Body)};
      }
      const size_t inBody = Sent - Head.size();
      return {boost::asio::const_buffer(), boost::asio::buffer(Body.data() + inBody, Body.size() - inBody)};
    }
  };

  // What the head of an answer says about its body's coding.
  struct TAnswerCoding {
    bool Gzip = false;  // Content-Encoding: gzip
    bool Vary = false;  // Vary: Accept-Encoding
  };

  void Close();

  // Reading the request.
  void ReadHeader();
  void OnHeader(error_code ec, std::size_t);
  void OnContinue(error_code ec, std::size_t);
  void ReadBodyOrServe();
  void OnBody(error_code ec, std::size_t);
  bool DecodeArrived();
  uint64_t BodyMoved() const;
  bool ReserveRequest(uint64_t bodyBytes);
  void OnReadError(error_code ec);
  void RefuseBusyMemory();
  void ReplyEarly(TWebResponse answer);

  // Serving it.
  void Serve();
  void Work(TWebRequest request);
  TAnswerCoding Encode(TWebResponse& response);

  // Writing the answer, lingering, closing.
  void Prepare(TWebResponse response, TAnswerCoding coding);
  void Send(TWebResponse response);
  void SendRest();
  void OnWrite(error_code ec, std::size_t n);
  // The deadline of a transfer that has moved bytes so far, from the moment they moved.
  TClock::time_point TransferDeadline(uint64_t moved) const;
  void Finish(bool onWorker);
  void Linger();
  void Drain();
  void OnDrain(error_code ec, std::size_t n);

  THTTPServer& FServer;
  THTTPServer::TRegistration FRegistration;
  bool FRegistered = false;
  TPhase FPhase = TPhase::Reading;
  TClock::time_point FDeadline = TClock::time_point::max();
  boost::asio::ip::tcp::socket FSocket;
  const std::unique_ptr<TMemoryCharge> FCharge;
  boost::beast::flat_buffer FBuffer;
  std::optional<THTTPRequestParser> FParser;
  std::optional<TRequestBodyDecoder> FDecoder;  // a coded body's, while it is read
  uint64_t FDeclared = 0;                       // the body's Content-Length, if any
  bool FAcceptsGzip = false;
  TOutgoing FOut;
  TClock::time_point FTransferStart;  // of the body being read, or the answer being written
  uint64_t FReservedRequest = 0;      // the request's cost held in FCharge
  bool FAdmitted = false;             // the budget took the request
  uint64_t FDrained = 0;
  bool FLinger = false;
  bool FHead = false;
};

}  // namespace dct
