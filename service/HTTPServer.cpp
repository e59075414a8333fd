#include "service/HTTPServer.h"

#include <algorithm>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <future>
#include <string>
#include <system_error>
#include <utility>

#include "service/HTTPConnection.h"
#include "service/SocketOptions.h"

namespace dct {

namespace net = boost::asio;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;

namespace {

// The listening socket: dual-stack IPv6 where the system has IPv6, else IPv4. A port that
// is taken or forbidden is reported, never worked around.
tcp::acceptor OpenAcceptor(net::strand<net::io_context::executor_type> executor, uint16_t port) {
  tcp::acceptor acceptor(executor);
  error_code ec;
  auto fatal = [&](const char* what) {
    throw std::system_error(
        ec, std::string("Cannot listen for HTTP on port ") + std::to_string(port) + " (" + what + ")");
  };
  acceptor.open(tcp::v6(), ec);
  if (!ec) acceptor.set_option(net::ip::v6_only(false), ec);
  if (!ec) AllowPortReuse(acceptor, ec);
  if (!ec) acceptor.bind(tcp::endpoint(net::ip::address_v6::any(), port), ec);
  if (ec == net::error::address_in_use || ec == net::error::access_denied) fatal("bind");
  if (ec) {  // no usable IPv6: IPv4 alone
    error_code ignored;
    acceptor.close(ignored);
    ec.clear();
    acceptor.open(tcp::v4(), ec);
    if (ec) fatal("socket");
    AllowPortReuse(acceptor, ec);
    if (!ec) acceptor.bind(tcp::endpoint(net::ip::address_v4::any(), port), ec);
    if (ec) fatal("bind");
  }
  // A connection is handed over once its first bytes have arrived, so that the first
  // read finds the request there instead of waiting; silent connections cost nothing.
  DeferAcceptUntilData(acceptor, static_cast<int>(THTTPLimits::kHeaderTimeout.count()));
  acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) fatal("listen");
  return acceptor;
}

// The client's address as the budget counts it: IPv4 in its IPv4-mapped form.
TMemoryBudget::TAddress AddressKey(const net::ip::address& address) {
  const net::ip::address_v6 v6 =
      address.is_v4() ? net::ip::make_address_v6(net::ip::v4_mapped, address.to_v4()) : address.to_v6();
  const net::ip::address_v6::bytes_type bytes = v6.to_bytes();
  TMemoryBudget::TAddress key;
  std::copy(bytes.begin(), bytes.end(), key.begin());
  return key;
}

}  // namespace

THTTPServer::THTTPServer(const TRequestHandler& handler, uint16_t port,
                         std::vector<std::string> allowedOrigins)
    : FHandler(handler),
      FAllowedOrigins(std::move(allowedOrigins)),
      FBudget({THTTPLimits::kMemoryBudget, THTTPLimits::kMemoryPerAddress,
               THTTPLimits::kMaxConnectionsPerAddress}),
      FContext(kIoThreads),
      FAcceptStrand(net::make_strand(FContext)),
      FAcceptor(OpenAcceptor(FAcceptStrand, port)),
      FRetryTimer(FAcceptStrand),
      FSweepTimer(FAcceptStrand) {
  FBoundPort = FAcceptor.local_endpoint().port();
}

THTTPServer::~THTTPServer() { Shutdown(); }

void THTTPServer::Run() {
  FWorkers.emplace(THTTPLimits::kMaxRequestsInProgress);
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
  for (const std::shared_ptr<THTTPConnection>& c : OpenConnections()) {
    net::post(c->Executor(), [c] { c->EndIfWaiting(); });
  }
  {
    std::unique_lock<std::mutex> lock(FConnectionsLock);
    FConnectionsGone.wait_for(lock, THTTPLimits::kStopGraceTime, [this] { return FConnectionList.empty(); });
  }

  // 3. Whatever is left is cut off. The workers finish what they run (a command runs to
  //    its end); their answers go nowhere once the I/O threads have stopped.
  FContext.stop();
  for (std::thread& t : FIoThreads) t.join();
  FIoThreads.clear();
  FWorkers->Join();
}

std::vector<std::shared_ptr<THTTPConnection>> THTTPServer::OpenConnections() const {
  std::vector<std::shared_ptr<THTTPConnection>> open;
  std::lock_guard<std::mutex> guard(FConnectionsLock);
  open.reserve(FConnectionList.size());
  for (const std::weak_ptr<THTTPConnection>& weak : FConnectionList) {
    if (std::shared_ptr<THTTPConnection> c = weak.lock()) open.push_back(std::move(c));
  }
  return open;  // released by the caller outside the lock: the destructor locks it
}

THTTPServer::TRegistration THTTPServer::Register(std::weak_ptr<THTTPConnection> c) {
  std::lock_guard<std::mutex> guard(FConnectionsLock);
  FConnectionList.push_front(std::move(c));
  return FConnectionList.begin();
}

void THTTPServer::Unregister(TRegistration it) {
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
  while (n < THTTPLimits::kMaxRequestsInProgress) {
    if (FInProgress.compare_exchange_weak(n, n + 1)) return true;
  }
  return false;
}

void THTTPServer::Accept() {
  FAcceptor.async_accept(net::make_strand(FContext),
                         [this](error_code ec, tcp::socket socket) { OnAccept(ec, std::move(socket)); });
}

void THTTPServer::OnAccept(error_code ec, tcp::socket socket) {
  if (!FAcceptor.is_open()) return;  // stopping
  if (ec == net::error::no_descriptors || ec == net::error::no_buffer_space || ec == net::error::no_memory) {
    FRetryTimer.expires_after(kAcceptRetryDelay);
    FRetryTimer.async_wait([this](error_code wait) {
      if (!wait) Accept();
    });
    return;
  }
  if (!ec) {
    std::unique_ptr<TMemoryCharge> charge;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    if (!ec && Connections() < THTTPLimits::kMaxConnections) {
      charge = FBudget.Open(AddressKey(peer.address()), THTTPLimits::kConnectionCost);
    }
    if (charge) {
      std::make_shared<THTTPConnection>(*this, std::move(socket), std::move(charge))->Start();
    } else {
      socket.close(ec);
    }
  }
  Accept();
}

void THTTPServer::Sweep() {
  const auto now = THTTPConnection::TClock::now();
  for (const std::shared_ptr<THTTPConnection>& c : OpenConnections()) {
    net::post(c->Executor(), [c, now] { c->CheckDeadline(now); });
  }
  FSweepTimer.expires_after(THTTPLimits::kDeadlineSweep);
  FSweepTimer.async_wait([this](error_code ec) {
    if (!ec) Sweep();
  });
}

}  // namespace dct
