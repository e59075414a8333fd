// THTTPBridge: the one HTTP listener of the process, switched on and off by the device
// through IListenerSwitch.
//
// While listening it accepts on every IPv4 and IPv6 address at the configured port (one
// dual-stack socket; IPv4 alone where the system has no IPv6) and hands every complete
// request to the request handler (the web module). Every answer closes its connection.
//
// Threads: two I/O threads run the sockets (accepting, reading, writing, closing, and the
// deadlines of all of them, checked by one sweep), each connection on a strand of its own.
// A complete request takes one of kMaxRequestsInProgress slots. A small one is served at
// once (routing, SOAP, the command) by the I/O thread that read it when the other I/O
// thread is free to go on with the sockets; a large one, or one that finds the other I/O
// thread busy serving, goes to one of as many worker threads (the most recently idle one,
// whose memory is warm). So a small request rarely waits for a thread to be woken, and one
// I/O thread is always free for the sockets. The slot is free again as soon as the answer
// is made; the server writes it, and closes. A request that finds every slot taken is
// answered at once with status 500 and kBusyText. A slow or silent client never holds a
// thread; a connection is taken from the kernel only once its first bytes have arrived.
//
// Stop closes the listening socket, ends the connections that wait for their clients, lets
// answers being computed or written finish (for kStopGraceTime at most), then stops the I/O
// threads and joins every thread, so a command still running finishes first.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "device/uDevice.h"
#include "service/uWebTypes.h"

namespace dct {

class THTTPServer;

class THTTPBridge : public IListenerSwitch {
 public:
  using TRequestHandler = std::function<TWebResponse(TWebRequest&)>;

  static constexpr uint16_t kDefaultPort = 7211;

  // Limits. Requests in progress: the web module pool of the service.
  static constexpr int kMaxRequestsInProgress = 32;
  // Open connections, idle or in progress. Each costs a socket and a read buffer; beyond
  // this a new connection is closed at once, so a flood cannot exhaust descriptors or memory.
  static constexpr int kMaxConnections = 512;
  // A million-item catalogue is about 250 MB of escaped XML; a declared length above this
  // is refused (413) before a byte of the body is read.
  static constexpr uint64_t kMaxBodyBytes = 512ull << 20;
  // All request bodies held at once; above it a request is refused (503) before its body is
  // read, so that a flood of large uploads cannot exhaust memory.
  static constexpr uint64_t kMaxBodyBytesInFlight = 1024ull << 20;
  // SOAP clients send a few hundred bytes of header; proxies add some. Beast's default
  // of 8 KiB is too tight for long cookies or authorisation headers.
  static constexpr uint32_t kMaxHeaderBytes = 32u << 10;
  // A request's header must arrive within this time (slow-header attacks).
  static constexpr std::chrono::seconds kHeaderTimeout{30};
  // A request's body, and an answer, must move at kMinTransferRate on average after this
  // grace time: a 250 MB catalogue over a 2 Mbit/s link passes, a trickle does not.
  static constexpr std::chrono::seconds kTransferGraceTime{60};
  static constexpr uint64_t kMinTransferRate = 256u << 10;  // bytes per second
  // After an answer sent before the request was read to its end, what the client still
  // sends is read and dropped for this long, so that its answer is not lost to a reset.
  static constexpr std::chrono::seconds kLingerTime{2};
  static constexpr uint64_t kLingerBytes = 1u << 20;
  // A stop lets answers already being computed or written finish for this long at most.
  static constexpr std::chrono::seconds kStopGraceTime{10};
  // Deadlines are checked this often: one sweep instead of a timer per socket operation.
  static constexpr std::chrono::milliseconds kDeadlineSweep{250};

  static constexpr const char* kBusyText =
      "Maximum number of concurrent connections exceeded.  Please try again later";

  // Serves the real web module (TWebModule1).
  THTTPBridge();
  explicit THTTPBridge(TRequestHandler handler);
  ~THTTPBridge() override;  // stops
  THTTPBridge(const THTTPBridge&) = delete;
  THTTPBridge& operator=(const THTTPBridge&) = delete;

  bool Listening() const override;
  // Raises std::system_error (with the port in the message) when the port cannot be bound;
  // nothing is left listening then. Does nothing when already listening.
  void Start() override;
  // REQUIRES: not called on a request thread (it joins them).
  void Stop() override;

  // Takes effect at the next Start. 0 lets the system choose (tests); see BoundPort.
  void SetPort(uint16_t port);
  uint16_t Port() const;
  // The port actually listened on; 0 when not listening.
  uint16_t BoundPort() const;

  // For monitoring and tests: requests holding a slot, and open connections.
  int RequestsInProgress() const;
  int OpenConnections() const;

 private:
  std::mutex FSwitchLock;    // serialises Start and Stop, held while a Stop joins
  mutable std::mutex FLock;  // guards FPort and FServer
  TRequestHandler FHandler;
  uint16_t FPort = kDefaultPort;
  std::unique_ptr<THTTPServer> FServer;  // present exactly while listening
};

// The process-wide listener, created on first use, not listening, at kDefaultPort.
THTTPBridge& HTTPBridge();

}  // namespace dct
