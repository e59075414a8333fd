// THTTPServer: one listening period of the HTTP listener, from Start to Stop.
//
// It accepts on every IPv4 and IPv6 address at its port (one dual-stack socket; IPv4 alone
// where the system has no IPv6) and gives every accepted connection to a THTTPConnection,
// which hands the complete request to the request handler (the web module). A connection is
// taken from the kernel only once its first bytes have arrived. Beyond kMaxConnections, or
// kMaxConnectionsPerAddress from its client's address, or when the address's share of the
// memory budget has no room for one more, a new one is closed at once. Every connection
// holds an account of that budget (TMemoryBudget) for its whole life.
//
// Threads: kIoThreads I/O threads run the sockets (accepting, reading, writing, closing, and
// the deadlines of all of them, checked by one sweep every kDeadlineSweep), each connection
// on a strand of its own. A complete request takes one of kMaxRequestsInProgress slots. A
// small one is served at once by the I/O thread that read it when the other I/O thread is
// free to go on with the sockets; a large one, or one that finds the other I/O thread busy
// serving, goes to one of as many worker threads (the most recently idle one, whose memory
// is warm). So a small request rarely waits for a thread to be woken, and one I/O thread is
// always free for the sockets. A slow or silent client never holds a thread.
//
// Lifetimes: the server owns the io_context, its I/O threads, the acceptor and the worker
// pool. Connections own themselves through the operations they have pending and register
// with the server for the whole of their life; all of them end when the io_context is
// destroyed, which the members' order puts after everything the connections use.
//
// Shutdown closes the listening socket, ends the connections that wait for their clients,
// lets answers being computed or written finish (for kStopGraceTime at most), then stops the
// I/O threads and joins every thread, so a command still running finishes first.
//
// In one call (README, "How one call is served"): started by THTTPBridge; hands each
// accepted connection to THTTPConnection.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "service/HTTPLimits.h"
#include "service/MemoryBudget.h"
#include "service/uWebTypes.h"
#include "service/uWorkerPool.h"

namespace dct {

class THTTPConnection;

class THTTPServer {
 public:
  using TRequestHandler = std::function<TWebResponse(TWebRequest&)>;
  using TRegistration = std::list<std::weak_ptr<THTTPConnection>>::iterator;

  // I/O threads. Either may run a request itself while the other stays free for I/O;
  // requests beyond that go to the workers.
  static constexpr int kIoThreads = 2;
  // After an accept failure that names a shortage (descriptors, memory), wait this long
  // before the next accept instead of spinning on the same failure.
  static constexpr std::chrono::milliseconds kAcceptRetryDelay{50};

  // Binds the port (0: the system chooses). Raises std::system_error, with the port in the
  // message, when it cannot be bound. REQUIRES: handler outlives the server.
  // A POST from a web page is refused unless its origin is one of allowedOrigins (see
  // BrowserRefusal).
  THTTPServer(const TRequestHandler& handler, uint16_t port, std::vector<std::string> allowedOrigins = {});
  ~THTTPServer();  // shuts down
  THTTPServer(const THTTPServer&) = delete;
  THTTPServer& operator=(const THTTPServer&) = delete;

  // Starts the I/O threads and the workers. REQUIRES: called once.
  void Run();
  // REQUIRES: not called on an I/O or worker thread (it joins them).
  void Shutdown();
  uint16_t BoundPort() const { return FBoundPort; }
  int InProgress() const { return FInProgress.load(); }
  int Connections() const;
  uint64_t MemoryHeld() const { return FBudget.Held(); }

  // For the connections, on any thread.
  const TRequestHandler& Handler() const { return FHandler; }
  const std::vector<std::string>& AllowedOrigins() const { return FAllowedOrigins; }
  bool Stopping() const { return FStopping.load(); }
  // True when the calling I/O thread may run a request itself: another one is left free.
  // REQUIRES: EndServeInline after the request, when true.
  bool TryServeInline() {
    if (FInline.fetch_add(1) < kIoThreads - 1) return true;
    FInline.fetch_sub(1);
    return false;
  }
  void EndServeInline() { FInline.fetch_sub(1); }
  void RunOnWorker(TWorkerPool::TJob job) { FWorkers->Post(std::move(job)); }
  // A slot per request being served; false when all kMaxRequestsInProgress are taken.
  bool TryTakeSlot();
  void ReturnSlot() { FInProgress.fetch_sub(1); }
  // So that the deadline sweep and a stop can reach a connection. REQUIRES: Register runs
  // on the accept strand, Unregister once per registration.
  TRegistration Register(std::weak_ptr<THTTPConnection> c);
  void Unregister(TRegistration it);

 private:
  void Accept();
  void OnAccept(boost::system::error_code ec, boost::asio::ip::tcp::socket socket);
  void Sweep();
  std::vector<std::shared_ptr<THTTPConnection>> OpenConnections() const;

  // Declared first so that they outlive the connections the io_context destroys.
  const TRequestHandler& FHandler;
  const std::vector<std::string> FAllowedOrigins;
  TMemoryBudget FBudget;
  std::atomic<int> FInProgress{0};
  std::atomic<bool> FStopping{false};
  std::atomic<int> FInline{0};
  mutable std::mutex FConnectionsLock;  // guards FConnectionList
  std::condition_variable FConnectionsGone;
  std::list<std::weak_ptr<THTTPConnection>> FConnectionList;

  boost::asio::io_context FContext;
  boost::asio::strand<boost::asio::io_context::executor_type> FAcceptStrand;
  boost::asio::ip::tcp::acceptor FAcceptor;
  boost::asio::steady_timer FRetryTimer;
  boost::asio::steady_timer FSweepTimer;
  uint16_t FBoundPort = 0;
  std::vector<std::thread> FIoThreads;
  std::optional<TWorkerPool> FWorkers;
};

}  // namespace dct
