#include "service/HTTPConnection.h"

#include <algorithm>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <exception>
#include <optional>
#include <utility>

#include "service/HTTPContentCoding.h"
#include "service/HTTPLimits.h"

namespace dct {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;
using TClock = THTTPConnection::TClock;

namespace {

const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

// Bytes asked for by the first read: a typical SOAP call, header and body.
constexpr size_t kFirstReadBytes = 4096;
// Requests up to this size may be served on the I/O thread that read them. Larger ones
// go to the pool, whose most recently idle worker takes them: consecutive large calls then
// reuse the memory of one warm allocator arena instead of spreading over the I/O threads.
constexpr size_t kInlineBodyBytes = 256 << 10;
// Bytes asked for per read of a body (Beast's own upper bound for one read).
constexpr size_t kBodyReadChunk = 64 << 10;

// "127.0.0.1" or "[::1]": the host part of a URL that reaches this server.
std::string URLHost(const net::ip::address& address) {
  if (address.is_v6()) {
    const net::ip::address_v6 v6 = address.to_v6();
    if (v6.is_v4_mapped()) return net::ip::make_address_v4(net::ip::v4_mapped, v6).to_string();
    return "[" + v6.to_string() + "]";
  }
  return address.to_string();
}

}  // namespace

THTTPConnection::THTTPConnection(THTTPServer& server, tcp::socket&& socket,
                                 std::unique_ptr<TMemoryCharge> charge)
    : FServer(server),
      FSocket(std::move(socket)),
      FCharge(std::move(charge)),
      FBuffer(THTTPLimits::kMaxReadBufferBytes) {}

THTTPConnection::~THTTPConnection() {
  if (FRegistered) FServer.Unregister(FRegistration);
}

void THTTPConnection::Start() {
  FRegistration = FServer.Register(weak_from_this());
  FRegistered = true;
  error_code ec;
  // A worker's write must never wait: the socket's own mode alone is not enough, since Asio
  // then waits in poll() for a client that does not read, holding the thread for good.
  FSocket.non_blocking(true, ec);
  if (!ec) ReadHeader();
}

void THTTPConnection::Close() {
  error_code ignored;
  FSocket.shutdown(tcp::socket::shutdown_both, ignored);
  FSocket.close(ignored);  // pending operations complete with an error and let go
}

void THTTPConnection::ReadHeader() {
  if (FServer.Stopping()) return;
  // Room for a whole small request, so that it comes in one read (Beast asks for no more
  // than the buffer's free room, and 512 bytes at first).
  FBuffer.reserve(kFirstReadBytes);
  FParser.emplace();
  SetRequestLimits(*FParser);
  FDeadline = TClock::now() + THTTPLimits::kHeaderTimeout;
  http::async_read_header(FSocket, FBuffer, *FParser,
                          beast::bind_front_handler(&THTTPConnection::OnHeader, shared_from_this()));
}

void THTTPConnection::OnHeader(error_code ec, std::size_t) {
  if (ec) return OnReadError(ec);
  const auto& req = FParser->get();
  if (std::optional<TWebResponse> refusal = BrowserRefusal(req, FServer.AllowedOrigins())) {
    return ReplyEarly(std::move(*refusal));
  }
  const TContentCoding coding = RequestCoding(req);
  if (coding == TContentCoding::Unknown) return ReplyEarly(UnsupportedCodingAnswer());
  if (coding != TContentCoding::Identity) FDecoder.emplace(coding);
  FAcceptsGzip = RequestAcceptsGzip(req);
  FTransferStart = TClock::now();
  // The declared length is reserved before a byte of it is read.
  FDeclared = FParser->content_length().value_or(0);
  if (!ReserveRequest(FDeclared)) return RefuseBusyMemory();

  if (!FParser->is_done() && req.version() >= 11 &&
      beast::iequals(req[http::field::expect], "100-continue")) {
    FDeadline = TClock::now() + THTTPLimits::kHeaderTimeout;
    net::async_write(FSocket, net::const_buffer(kContinue, sizeof(kContinue) - 1),
                     beast::bind_front_handler(&THTTPConnection::OnContinue, shared_from_this()));
    return;
  }
  ReadBodyOrServe();
}

void THTTPConnection::OnContinue(error_code ec, std::size_t) {
  if (ec) return;  // the client is gone
  ReadBodyOrServe();
}

void THTTPConnection::ReadBodyOrServe() {
  if (FParser->is_done()) {
    if (FDecoder) {
      if (std::optional<TWebResponse> refusal = FDecoder->Finish()) return ReplyEarly(std::move(*refusal));
      FParser->get().body() = FDecoder->TakeBody();
      FDecoder.reset();
    }
    return Serve();
  }
  // Beast reads no more than the buffer's free room (512 bytes at least): a body read
  // in header-sized pieces would cost a system call per half kilobyte.
  if (FBuffer.capacity() < kBodyReadChunk) FBuffer.reserve(kBodyReadChunk);
  FDeadline = TransferDeadline(BodyMoved());
  http::async_read_some(FSocket, FBuffer, *FParser,
                        beast::bind_front_handler(&THTTPConnection::OnBody, shared_from_this()));
}

void THTTPConnection::OnBody(error_code ec, std::size_t) {
  if (ec) return OnReadError(ec);
  if (FDecoder) {
    if (!DecodeArrived()) return;
  } else if (!ReserveRequest(FParser->get().body().size())) {  // a chunked body declares no length
    return RefuseBusyMemory();
  }
  ReadBodyOrServe();
}

// Inflates what the parser appended to a coded body and empties it; false when the request
// was refused. Reserved: the coded bytes held (the parser keeps the declared length's room)
// and the inflated ones.
bool THTTPConnection::DecodeArrived() {
  std::string& coded = FParser->get().body();
  const std::optional<TWebResponse> refusal = FDecoder->Feed(coded, [this](uint64_t inflated) {
    return ReserveRequest(std::max(FDeclared, FDecoder->Arrived()) + inflated);
  });
  coded.clear();
  if (refusal) ReplyEarly(std::move(*refusal));
  return !refusal;
}

// The body's bytes that came over the wire so far: coded ones, for a coded body.
uint64_t THTTPConnection::BodyMoved() const {
  return FDecoder ? FDecoder->Arrived() : FParser->get().body().size();
}

// Holds the cost of a request whose body has bodyBytes (declared, or arrived so far).
// The first call admits the request, even one without a body: nothing is admitted while the
// address is over its share.
bool THTTPConnection::ReserveRequest(uint64_t bodyBytes) {
  const uint64_t cost = bodyBytes * THTTPLimits::kRequestCostFactor;
  if (cost <= FReservedRequest && FAdmitted) return true;
  FAdmitted = true;
  if (!FCharge->TryReserve(cost - FReservedRequest)) return false;
  FReservedRequest = cost;
  return true;
}

TClock::time_point THTTPConnection::TransferDeadline(uint64_t moved) const {
  const TClock::time_point byRate = FTransferStart + THTTPLimits::kTransferGraceTime +
                                    std::chrono::seconds(moved / THTTPLimits::kMinTransferRate);
  return std::min(byRate, TClock::now() + THTTPLimits::kTransferGraceTime);
}

void THTTPConnection::OnReadError(error_code ec) {
  if (std::optional<TWebResponse> answer = ReadErrorAnswer(ec)) ReplyEarly(std::move(*answer));
}

void THTTPConnection::RefuseBusyMemory() { ReplyEarly(BusyMemoryAnswer()); }

void THTTPConnection::ReplyEarly(TWebResponse answer) {
  FLinger = true;
  FParser.reset();  // what it read of the body goes now, not at the close
  FDecoder.reset();
  Send(std::move(answer));
}

// The whole request has arrived: serve it here or on a worker, or refuse it when every
// slot is taken.
void THTTPConnection::Serve() {
  if (!FServer.TryTakeSlot()) {
    return Send(TWebResponse{500, kContentTypeText, THTTPLimits::kBusyText});
  }
  FPhase = TPhase::Serving;
  auto& req = FParser->get();
  FHead = req.method() == http::verb::head;

  TWebRequest request = WebRequestFrom(req);
  request.LocalPort = FServer.BoundPort();
  if (request.Host.empty()) {  // URLs need the address the client reached
    error_code ec;
    const tcp::endpoint local = FSocket.local_endpoint(ec);
    if (!ec) request.LocalAddress = URLHost(local.address());
  }
  FParser.reset();
  if (request.Body.size() <= kInlineBodyBytes && FServer.TryServeInline()) {
    Work(std::move(request));
    FServer.EndServeInline();
    return;
  }
  FServer.RunOnWorker([self = shared_from_this(), request = std::move(request)]() mutable {
    self->Work(std::move(request));
  });
}

// Runs the handler, then writes the answer. The slot is free again as soon as the answer
// is made, so that a client that reconnects at once never finds its own slot still
// taken; the account holds the answer from then on instead of the request. An answer the
// socket takes at once (nearly all of them) is written and closed here; the rest of a
// larger one goes back to the strand.
void THTTPConnection::Work(TWebRequest request) {
  TWebResponse response;
  {
    TMemoryCharge::TScope scope(FCharge.get());
    try {
      response = FServer.Handler()(request);
    } catch (const std::exception& e) {
      response = TWebResponse{500, kContentTypeText, e.what()};
    } catch (...) {
      response = TWebResponse{500, kContentTypeText, "Unknown exception"};
    }
  }
  FServer.ReturnSlot();
  std::string().swap(request.Body);

  const TAnswerCoding coding = Encode(response);
  Prepare(std::move(response), coding);
  error_code ec;
  while (FOut.Sent < FOut.Size() && !ec) FOut.Sent += FSocket.write_some(FOut.Rest(), ec);
  if (!ec) return Finish(/*onWorker=*/true);
  if (ec == net::error::would_block || ec == net::error::try_again) {
    net::post(FSocket.get_executor(), [self = shared_from_this()] { self->SendRest(); });
  }
}

// Compresses a handler's answer when it is large enough and the client allows it. The
// request's cost is over: from here the account holds the identity body, then the
// compressor and its output as they grow, and nothing is taken beyond the room there is.
// HEAD is compressed too, so that it tells the length the GET would get.
THTTPConnection::TAnswerCoding THTTPConnection::Encode(TWebResponse& response) {
  TAnswerCoding coding;
  if (response.Body.size() <= THTTPLimits::kCompressMinBytes) return coding;
  coding.Vary = true;
  if (!FAcceptsGzip) return coding;
  FCharge->ReleaseWork();
  FReservedRequest = 0;
  FCharge->Charge(response.Body.size());
  std::optional<std::string> gzip;
  try {
    gzip = GzipCompressWithin(response.Body, kGzipLevel,
                              [this](size_t bytes) { return FCharge->TryReserve(bytes); });
  } catch (const std::exception&) {  // out of memory: the answer still goes, as it is
  }
  if (gzip && gzip->size() < response.Body.size()) {
    response.Body = std::move(*gzip);
    coding.Gzip = true;
  }
  return coding;  // Prepare counts the answer as it goes out
}

// Every answer: its body with its length, and the connection closes after it.
void THTTPConnection::Prepare(TWebResponse response, TAnswerCoding coding) {
  const auto status = static_cast<http::status>(response.Status);
  FOut.Head = "HTTP/1.1 " + std::to_string(response.Status) + " " +
              std::string(http::obsolete_reason(status)) + "\r\nContent-Type: " + response.ContentType +
              (coding.Gzip ? "\r\nContent-Encoding: gzip" : "") +
              "\r\nContent-Length: " + std::to_string(response.Body.size()) +
              (coding.Vary ? "\r\nVary: Accept-Encoding" : "") + "\r\nConnection: close\r\n\r\n";
  FOut.Body = FHead ? std::string() : std::move(response.Body);  // HEAD: the length only
  FOut.Sent = 0;
  FTransferStart = TClock::now();
  // The request's cost is over; the answer's lasts until it is written.
  FCharge->ReleaseWork();
  FReservedRequest = 0;
  FCharge->Charge(FOut.Size());
}

// On the strand: answers the server gives itself (refusals, errors).
void THTTPConnection::Send(TWebResponse response) {
  Prepare(std::move(response), TAnswerCoding());
  SendRest();
}

// One write at a time, so that the deadline follows the bytes that actually moved.
void THTTPConnection::SendRest() {
  FPhase = TPhase::Writing;
  FDeadline = TransferDeadline(FOut.Sent);
  FSocket.async_write_some(FOut.Rest(),
                           beast::bind_front_handler(&THTTPConnection::OnWrite, shared_from_this()));
}

void THTTPConnection::OnWrite(error_code ec, std::size_t n) {
  if (ec) return;  // dropped: the account lets the answer go with the connection
  FOut.Sent += n;
  if (FOut.Sent < FOut.Size()) return SendRest();
  Finish(/*onWorker=*/false);
}

// The answer is out. Bytes the client sent beyond what was read would make the close a
// reset, which may destroy the answer in the client's buffers before it reads it: those
// are read and dropped for a while first, on the strand.
void THTTPConnection::Finish(bool onWorker) {
  FOut = TOutgoing();
  FCharge->ReleaseWork();
  error_code ignored;
  if (!(FLinger || FBuffer.size() > 0) || FServer.Stopping()) {
    FSocket.close(ignored);  // the FIN goes with the close
    return;
  }
  FSocket.shutdown(tcp::socket::shutdown_send, ignored);
  if (onWorker) {
    net::post(FSocket.get_executor(), [self = shared_from_this()] { self->Linger(); });
  } else {
    Linger();
  }
}

void THTTPConnection::Linger() {
  FPhase = TPhase::Lingering;
  FBuffer.clear();
  FDeadline = TClock::now() + THTTPLimits::kLingerTime;
  Drain();
}

void THTTPConnection::Drain() {
  FSocket.async_read_some(FBuffer.prepare(16 << 10),
                          beast::bind_front_handler(&THTTPConnection::OnDrain, shared_from_this()));
}

void THTTPConnection::OnDrain(error_code ec, std::size_t n) {
  FDrained += n;
  if (ec || FDrained >= THTTPLimits::kLingerBytes) return;
  Drain();
}

}  // namespace dct
