#include "service/HTTPBridge.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <array>
#include <atomic>
#include <boost/asio/detail/socket_option.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <condition_variable>
#include <exception>
#include <future>
#include <list>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "service/HTTPRequestParser.h"
#include "service/uWorkerPool.h"
#include "service/ufmWebModule.h"

namespace dct {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;

class TConnection;
using TClock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------------------
// THTTPServer: one listening period, from Start to Stop. It owns the io_context and its
// I/O threads, the acceptor, and the worker pool; connections own themselves through the
// operations they have pending, and all of them end when the io_context is destroyed.

class THTTPServer {
 public:
  // I/O threads. Either may run a request itself while the other stays free for I/O;
  // requests beyond that go to the workers.
  static constexpr int kIoThreads = 2;
  // After an accept failure that names a shortage (descriptors, memory), wait this long
  // before the next accept instead of spinning on the same failure.
  static constexpr std::chrono::milliseconds kAcceptRetryDelay{50};

  THTTPServer(const THTTPBridge::TRequestHandler& handler, uint16_t port);
  ~THTTPServer();

  void Run();
  void Shutdown();
  uint16_t BoundPort() const { return FBoundPort; }

  // Shared with the connections; the counters may be used on any thread.
  // True when the calling I/O thread may run a request itself: another one is left free.
  bool TryServeInline() {
    if (FInline.fetch_add(1) < kIoThreads - 1) return true;
    FInline.fetch_sub(1);
    return false;
  }
  void EndServeInline() { FInline.fetch_sub(1); }
  const THTTPBridge::TRequestHandler& Handler() const { return FHandler; }
  void RunOnWorker(TWorkerPool::TJob job) { FWorkers->Post(std::move(job)); }
  bool Stopping() const { return FStopping.load(); }
  bool TryTakeSlot();
  void ReturnSlot() { FInProgress.fetch_sub(1); }
  bool TryReserveBody(uint64_t bytes);
  void ReleaseBody(uint64_t bytes) { FBodyBytes.fetch_sub(bytes); }
  int InProgress() const { return FInProgress.load(); }
  int Connections() const;
  // A connection registers itself for the whole of its life, so that the deadline sweep
  // and a stop can reach it.
  std::list<std::weak_ptr<TConnection>>::iterator Register(std::weak_ptr<TConnection> c);
  void Unregister(std::list<std::weak_ptr<TConnection>>::iterator it);

 private:
  void Accept();
  void OnAccept(error_code ec, tcp::socket socket);
  void Sweep();
  std::vector<std::shared_ptr<TConnection>> OpenConnections() const;

  // Declared first so that they outlive the connections the io_context destroys.
  const THTTPBridge::TRequestHandler& FHandler;
  std::atomic<int> FInProgress{0};
  std::atomic<uint64_t> FBodyBytes{0};
  std::atomic<bool> FStopping{false};
  std::atomic<int> FInline{0};
  mutable std::mutex FConnectionsLock;  // guards FConnectionList
  std::condition_variable FConnectionsGone;
  std::list<std::weak_ptr<TConnection>> FConnectionList;

  net::io_context FContext;
  net::strand<net::io_context::executor_type> FAcceptStrand;
  tcp::acceptor FAcceptor;
  net::steady_timer FRetryTimer;
  net::steady_timer FSweepTimer;
  uint16_t FBoundPort = 0;
  std::vector<std::thread> FIoThreads;
  std::optional<TWorkerPool> FWorkers;
};

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

// The time a transfer of bytes may take: the grace time plus the bytes at the minimum rate.
TClock::duration TransferAllowance(uint64_t bytes) {
  return THTTPBridge::kTransferGraceTime +
         std::chrono::seconds(bytes / THTTPBridge::kMinTransferRate);
}

// "127.0.0.1" or "[::1]": the host part of a URL that reaches this server.
std::string URLHost(const net::ip::address& address) {
  if (address.is_v6()) {
    const net::ip::address_v6 v6 = address.to_v6();
    if (v6.is_v4_mapped()) return net::ip::make_address_v4(net::ip::v4_mapped, v6).to_string();
    return "[" + v6.to_string() + "]";
  }
  return address.to_string();
}

// TCP_DEFER_ACCEPT as an Asio socket option.
using TDeferAccept = net::detail::socket_option::integer<IPPROTO_TCP, TCP_DEFER_ACCEPT>;

// The listening socket: dual-stack IPv6 where the system has IPv6, else IPv4. A port that
// is taken or forbidden is reported, never worked around.
tcp::acceptor OpenAcceptor(net::strand<net::io_context::executor_type> executor, uint16_t port) {
  tcp::acceptor acceptor(executor);
  error_code ec;
  auto fatal = [&](const char* what) {
    throw std::system_error(ec, std::string("Cannot listen for HTTP on port ") +
                                    std::to_string(port) + " (" + what + ")");
  };
  acceptor.open(tcp::v6(), ec);
  if (!ec) acceptor.set_option(net::ip::v6_only(false), ec);
  if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(tcp::endpoint(net::ip::address_v6::any(), port), ec);
  if (ec == net::error::address_in_use || ec == net::error::access_denied) fatal("bind");
  if (ec) {  // no usable IPv6: IPv4 alone
    error_code ignored;
    acceptor.close(ignored);
    ec.clear();
    acceptor.open(tcp::v4(), ec);
    if (ec) fatal("socket");
    acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor.bind(tcp::endpoint(net::ip::address_v4::any(), port), ec);
    if (ec) fatal("bind");
  }
  // A connection is handed over once its first bytes have arrived, so that the first
  // read finds the request there instead of waiting; silent connections cost nothing.
  // Where the option is missing this is only slower.
  error_code ignored;
  acceptor.set_option(TDeferAccept(static_cast<int>(THTTPBridge::kHeaderTimeout.count())), ignored);
  acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) fatal("listen");
  return acceptor;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TConnection: one accepted connection, one request, one answer. Its stages run in order:
// header, optional "100 Continue", body (on the connection's strand), the handler and the
// answer's first write (on the I/O thread that read the request, or on a worker), the rest
// of a large answer and the close (on the strand again). Whoever serves the request owns
// the socket meanwhile: the strand leaves a serving connection alone.

class TConnection : public std::enable_shared_from_this<TConnection> {
 public:
  TConnection(THTTPServer& server, tcp::socket&& socket)
      : FServer(server), FSocket(std::move(socket)) {}

  ~TConnection() {
    FServer.ReleaseBody(FReservedBody);
    if (FRegistered) FServer.Unregister(FRegistration);
  }

  // Everything of a connection runs on its strand, except a request's handler and the
  // answer's first write, which a worker may do while the strand leaves the connection
  // alone. Start itself runs on the accept strand, before any handler of the connection
  // exists; the sweep and a stop reach the connection only after it (both go through the
  // accept strand first).
  void Start() {
    FRegistration = FServer.Register(weak_from_this());
    FRegistered = true;
    error_code ec;
    FSocket.native_non_blocking(true, ec);  // a worker's write must never wait
    if (!ec) ReadHeader();
  }

  // Ends a connection whose deadline has passed; a request being served has none.
  void CheckDeadline(TClock::time_point now) {
    if (FPhase != TPhase::Serving && now >= FDeadline) Close();
  }

  net::any_io_executor Executor() { return FSocket.get_executor(); }

  // A stop ends connections that wait for their clients; answers being computed or written
  // go on.
  void EndIfWaiting() {
    if (FPhase == TPhase::Reading || FPhase == TPhase::Lingering) Close();
  }

 private:
  enum class TPhase { Reading, Serving, Writing, Lingering };

  void Close() {
    error_code ignored;
    FSocket.shutdown(tcp::socket::shutdown_both, ignored);
    FSocket.close(ignored);  // pending operations complete with an error and let go
  }

  void ReadHeader() {
    if (FServer.Stopping()) return;
    // Room for a whole small request, so that it comes in one read (Beast asks for no more
    // than the buffer's free room, and 512 bytes at first).
    FBuffer.reserve(kFirstReadBytes);
    FParser.emplace();
    SetRequestLimits(*FParser);
    FDeadline = TClock::now() + THTTPBridge::kHeaderTimeout;
    http::async_read_header(FSocket, FBuffer, *FParser,
                            beast::bind_front_handler(&TConnection::OnHeader, shared_from_this()));
  }

  void OnHeader(error_code ec, std::size_t) {
    if (ec) return OnReadError(ec);
    FBodyStart = TClock::now();
    // The declared length is reserved before a byte of it is read.
    const boost::optional<uint64_t> length = FParser->content_length();
    if (length && !ReserveBody(*length)) return RefuseBusyMemory();

    const auto& req = FParser->get();
    if (!FParser->is_done() && req.version() >= 11 &&
        beast::iequals(req[http::field::expect], "100-continue")) {
      FDeadline = TClock::now() + THTTPBridge::kHeaderTimeout;
      net::async_write(FSocket, net::const_buffer(kContinue, sizeof(kContinue) - 1),
                       beast::bind_front_handler(&TConnection::OnContinue, shared_from_this()));
      return;
    }
    ReadBodyOrServe();
  }

  void OnContinue(error_code ec, std::size_t) {
    if (ec) return;  // the client is gone
    ReadBodyOrServe();
  }

  void ReadBodyOrServe() {
    if (FParser->is_done()) return Serve();
    // Beast reads no more than the buffer's free room (512 bytes at least): a body read
    // in header-sized pieces would cost a system call per half kilobyte.
    if (FBuffer.capacity() < kBodyReadChunk) FBuffer.reserve(kBodyReadChunk);
    FDeadline = FBodyStart + TransferAllowance(FParser->get().body().size());
    http::async_read_some(FSocket, FBuffer, *FParser,
                          beast::bind_front_handler(&TConnection::OnBody, shared_from_this()));
  }

  void OnBody(error_code ec, std::size_t) {
    if (ec) return OnReadError(ec);
    // A chunked body declares no length: reserve what has arrived.
    const uint64_t size = FParser->get().body().size();
    if (size > FReservedBody && !ReserveBody(size - FReservedBody)) return RefuseBusyMemory();
    ReadBodyOrServe();
  }

  bool ReserveBody(uint64_t bytes) {
    if (!FServer.TryReserveBody(bytes)) return false;
    FReservedBody += bytes;
    return true;
  }

  void OnReadError(error_code ec) {
    if (std::optional<TWebResponse> answer = ReadErrorAnswer(ec)) ReplyEarly(std::move(*answer));
  }

  void RefuseBusyMemory() {
    ReplyEarly(TWebResponse{static_cast<int>(http::status::service_unavailable), kContentTypeText,
                            "The server holds too many request bodies.  Please try again later"});
  }

  void ReplyEarly(TWebResponse answer) {
    FLinger = true;
    Send(std::move(answer));
  }

  // The whole request has arrived: serve it here or on a worker, or refuse it when every
  // slot is taken.
  void Serve() {
    if (!FServer.TryTakeSlot()) {
      return Send(TWebResponse{500, kContentTypeText, THTTPBridge::kBusyText});
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
    // The worker gives the body's reservation back together with the body's memory.
    const uint64_t reserved = std::exchange(FReservedBody, 0);
    if (request.Body.size() <= kInlineBodyBytes && FServer.TryServeInline()) {
      Work(std::move(request), reserved);
      FServer.EndServeInline();
      return;
    }
    FServer.RunOnWorker([self = shared_from_this(), request = std::move(request),
                         reserved]() mutable { self->Work(std::move(request), reserved); });
  }

  // Runs the handler, then writes the answer. The slot is free again as soon as the answer
  // is made, so that a client that reconnects at once never finds its own slot still
  // taken. An answer the socket takes at once (nearly all of them) is written and closed
  // here; the rest of a larger one goes back to the strand.
  void Work(TWebRequest request, uint64_t reserved) {
    TWebResponse response;
    try {
      response = FServer.Handler()(request);
    } catch (const std::exception& e) {
      response = TWebResponse{500, kContentTypeText, e.what()};
    } catch (...) {
      response = TWebResponse{500, kContentTypeText, "Unknown exception"};
    }
    FServer.ReturnSlot();
    std::string().swap(request.Body);
    FServer.ReleaseBody(reserved);

    Prepare(std::move(response));
    error_code ec;
    while (FOut.Sent < FOut.Size() && !ec) FOut.Sent += FSocket.write_some(FOut.Rest(), ec);
    if (!ec) return Finish(/*onWorker=*/true);
    if (ec == net::error::would_block || ec == net::error::try_again) {
      net::post(FSocket.get_executor(), [self = shared_from_this()] { self->SendRest(); });
    }
  }

  // The answer as it goes out: head and body, and how much of both has been written.
  struct TOutgoing {
    std::string Head;
    std::string Body;
    size_t Sent = 0;
    size_t Size() const { return Head.size() + Body.size(); }
    std::array<net::const_buffer, 2> Rest() const {
      if (Sent < Head.size()) {
        return {net::buffer(Head.data() + Sent, Head.size() - Sent), net::buffer(Body)};
      }
      const size_t inBody = Sent - Head.size();
      return {net::const_buffer(), net::buffer(Body.data() + inBody, Body.size() - inBody)};
    }
  };

  // Every answer: identity body with its length, and the connection closes after it.
  void Prepare(TWebResponse response) {
    const auto status = static_cast<http::status>(response.Status);
    FOut.Head = "HTTP/1.1 " + std::to_string(response.Status) + " " +
                std::string(http::obsolete_reason(status)) +
                "\r\nContent-Type: " + response.ContentType +
                "\r\nContent-Length: " + std::to_string(response.Body.size()) +
                "\r\nConnection: close\r\n\r\n";
    FOut.Body = FHead ? std::string() : std::move(response.Body);  // HEAD: the length only
    FOut.Sent = 0;
  }

  // On the strand: answers the server gives itself (refusals, errors).
  void Send(TWebResponse response) {
    Prepare(std::move(response));
    SendRest();
  }

  void SendRest() {
    FPhase = TPhase::Writing;
    FDeadline = TClock::now() + TransferAllowance(FOut.Size() - FOut.Sent);
    net::async_write(FSocket, FOut.Rest(),
                     beast::bind_front_handler(&TConnection::OnWrite, shared_from_this()));
  }

  void OnWrite(error_code ec, std::size_t) {
    if (!ec) Finish(/*onWorker=*/false);
  }

  // The answer is out. Bytes the client sent beyond what was read would make the close a
  // reset, which may destroy the answer in the client's buffers before it reads it: those
  // are read and dropped for a while first, on the strand.
  void Finish(bool onWorker) {
    FOut = TOutgoing();
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

  void Linger() {
    FPhase = TPhase::Lingering;
    FBuffer.clear();
    FDeadline = TClock::now() + THTTPBridge::kLingerTime;
    Drain();
  }

  void Drain() {
    FSocket.async_read_some(FBuffer.prepare(16 << 10),
                            beast::bind_front_handler(&TConnection::OnDrain, shared_from_this()));
  }

  void OnDrain(error_code ec, std::size_t n) {
    FDrained += n;
    if (ec || FDrained >= THTTPBridge::kLingerBytes) return;
    Drain();
  }

  THTTPServer& FServer;
  std::list<std::weak_ptr<TConnection>>::iterator FRegistration;
  bool FRegistered = false;
  TPhase FPhase = TPhase::Reading;
  TClock::time_point FDeadline = TClock::time_point::max();
  tcp::socket FSocket;
  beast::flat_buffer FBuffer;
  std::optional<THTTPRequestParser> FParser;
  TOutgoing FOut;
  TClock::time_point FBodyStart;
  uint64_t FReservedBody = 0;
  uint64_t FDrained = 0;
  bool FLinger = false;
  bool FHead = false;
};

// ---------------------------------------------------------------------------------------
// THTTPServer.

THTTPServer::THTTPServer(const THTTPBridge::TRequestHandler& handler, uint16_t port)
    : FHandler(handler),
      FContext(kIoThreads),
      FAcceptStrand(net::make_strand(FContext)),
      FAcceptor(OpenAcceptor(FAcceptStrand, port)),
      FRetryTimer(FAcceptStrand),
      FSweepTimer(FAcceptStrand) {
  FBoundPort = FAcceptor.local_endpoint().port();
}

THTTPServer::~THTTPServer() { Shutdown(); }

void THTTPServer::Run() {
  FWorkers.emplace(THTTPBridge::kMaxRequestsInProgress);
  net::dispatch(FAcceptStrand, [this] {
    Accept();
    Sweep();
  });
  for (int i = 0; i < kIoThreads; ++i) {
    FIoThreads.emplace_back([this] {
      for (;;) {
        try {
          FContext.run();
          return;
        } catch (...) {
          // A handler raised past its own catch: keep serving.
        }
      }
    });
  }
}

void THTTPServer::Shutdown() {
  if (FIoThreads.empty()) return;
  // 1. Close the listening socket on its strand, so that no accept races the close.
  std::promise<void> closed;
  net::post(FAcceptStrand, [this, &closed] {
    error_code ignored;
    FAcceptor.close(ignored);
    FRetryTimer.cancel();
    closed.set_value();
  });
  closed.get_future().wait();

  // 2. End the connections that wait for their clients; let the others answer. Every
  //    connection is registered by now: registration happens on the accept strand.
  FStopping.store(true);
  for (const std::shared_ptr<TConnection>& c : OpenConnections()) {
    net::post(c->Executor(), [c] { c->EndIfWaiting(); });
  }
  {
    std::unique_lock<std::mutex> lock(FConnectionsLock);
    FConnectionsGone.wait_for(lock, THTTPBridge::kStopGraceTime,
                              [this] { return FConnectionList.empty(); });
  }

  // 3. Whatever is left is cut off. The workers finish what they run (a command runs to
  //    its end); their answers go nowhere once the I/O threads have stopped.
  FContext.stop();
  for (std::thread& t : FIoThreads) t.join();
  FIoThreads.clear();
  FWorkers->Join();
}

std::vector<std::shared_ptr<TConnection>> THTTPServer::OpenConnections() const {
  std::vector<std::shared_ptr<TConnection>> open;
  std::lock_guard<std::mutex> guard(FConnectionsLock);
  open.reserve(FConnectionList.size());
  for (const std::weak_ptr<TConnection>& weak : FConnectionList) {
    if (std::shared_ptr<TConnection> c = weak.lock()) open.push_back(std::move(c));
  }
  return open;  // released by the caller outside the lock: the destructor locks it
}

std::list<std::weak_ptr<TConnection>>::iterator THTTPServer::Register(
    std::weak_ptr<TConnection> c) {
  std::lock_guard<std::mutex> guard(FConnectionsLock);
  FConnectionList.push_front(std::move(c));
  return FConnectionList.begin();
}

void THTTPServer::Unregister(std::list<std::weak_ptr<TConnection>>::iterator it) {
  std::lock_guard<std::mutex> guard(FConnectionsLock);
  FConnectionList.erase(it);
  if (FConnectionList.empty()) FConnectionsGone.notify_all();
}

int THTTPServer::Connections() const {
  std::lock_guard<std::mutex> guard(FConnectionsLock);
  return static_cast<int>(FConnectionList.size());
}

bool THTTPServer::TryTakeSlot() {
  int n = FInProgress.load();
  while (n < THTTPBridge::kMaxRequestsInProgress) {
    if (FInProgress.compare_exchange_weak(n, n + 1)) return true;
  }
  return false;
}

bool THTTPServer::TryReserveBody(uint64_t bytes) {
  uint64_t n = FBodyBytes.load();
  while (n + bytes <= THTTPBridge::kMaxBodyBytesInFlight) {
    if (FBodyBytes.compare_exchange_weak(n, n + bytes)) return true;
  }
  return false;
}

void THTTPServer::Accept() {
  FAcceptor.async_accept(net::make_strand(FContext), [this](error_code ec, tcp::socket socket) {
    OnAccept(ec, std::move(socket));
  });
}

void THTTPServer::OnAccept(error_code ec, tcp::socket socket) {
  if (!FAcceptor.is_open()) return;  // stopping
  if (ec == net::error::no_descriptors || ec == net::error::no_buffer_space ||
      ec == net::error::no_memory) {
    FRetryTimer.expires_after(kAcceptRetryDelay);
    FRetryTimer.async_wait([this](error_code wait) {
      if (!wait) Accept();
    });
    return;
  }
  if (!ec) {
    if (Connections() >= THTTPBridge::kMaxConnections) {
      socket.close(ec);
    } else {
      std::make_shared<TConnection>(*this, std::move(socket))->Start();
    }
  }
  Accept();
}

void THTTPServer::Sweep() {
  const TClock::time_point now = TClock::now();
  for (const std::shared_ptr<TConnection>& c : OpenConnections()) {
    net::post(c->Executor(), [c, now] { c->CheckDeadline(now); });
  }
  FSweepTimer.expires_after(THTTPBridge::kDeadlineSweep);
  FSweepTimer.async_wait([this](error_code ec) {
    if (!ec) Sweep();
  });
}

// ---------------------------------------------------------------------------------------
// THTTPBridge.

THTTPBridge::THTTPBridge()
    : THTTPBridge([module = std::make_shared<const TWebModule1>()](TWebRequest& request) {
        return module->HandleRequest(request);
      }) {}

THTTPBridge::THTTPBridge(TRequestHandler handler) : FHandler(std::move(handler)) {}

THTTPBridge::~THTTPBridge() { Stop(); }

bool THTTPBridge::Listening() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FServer != nullptr;
}

void THTTPBridge::Start() {
  std::lock_guard<std::mutex> switching(FSwitchLock);
  std::lock_guard<std::mutex> guard(FLock);
  if (FServer) return;
  auto server = std::make_unique<THTTPServer>(FHandler, FPort);  // raises when not bound
  server->Run();
  FServer = std::move(server);
}

void THTTPBridge::Stop() {
  std::lock_guard<std::mutex> switching(FSwitchLock);
  std::unique_ptr<THTTPServer> server;
  {
    std::lock_guard<std::mutex> guard(FLock);
    server = std::move(FServer);
  }
  server.reset();  // joins outside FLock, so that Listening() answers meanwhile
}

void THTTPBridge::SetPort(uint16_t port) {
  std::lock_guard<std::mutex> guard(FLock);
  FPort = port;
}

uint16_t THTTPBridge::Port() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FPort;
}

uint16_t THTTPBridge::BoundPort() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FServer ? FServer->BoundPort() : 0;
}

int THTTPBridge::RequestsInProgress() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FServer ? FServer->InProgress() : 0;
}

int THTTPBridge::OpenConnections() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FServer ? FServer->Connections() : 0;
}

THTTPBridge& HTTPBridge() {
  static THTTPBridge bridge;
  return bridge;
}

}  // namespace dct
