// THTTPBridge: the HTTP listener, switched on and off by the device through IListenerSwitch.
// The host owns one and hands it the web module's handler; tests make their own.
//
// Each Start binds the port and begins a THTTPServer, which serves every request with the
// request handler (the web module); each Stop ends it and waits for it (see THTTPServer for
// what a stop lets finish). The port is the switch's: it survives Stop and Start, so the
// host sets it once. The limits the listener puts on its clients are THTTPLimits; callers
// name them through the switch (THTTPBridge::kMaxRequestsInProgress).
//
// Threads: every member may be called on any thread. Start and Stop are serialised; the
// queries answer while a Stop waits for the server's threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/uDeviceContext.h"
#include "service/HTTPLimits.h"
#include "service/uWebTypes.h"

namespace dct {

class THTTPServer;

class THTTPBridge : public IListenerSwitch, public THTTPLimits {
 public:
  using TRequestHandler = std::function<TWebResponse(TWebRequest&)>;

  static constexpr uint16_t kDefaultPort = 7211;

  // REQUIRES: whatever the handler uses outlives the listener (it stops in the destructor).
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

  // Origins ("scheme://host[:port]") whose web pages may call the service; takes effect at
  // the next Start. Empty (the default): no web page may.
  void SetAllowedOrigins(std::vector<std::string> origins);

  // For monitoring and tests: requests holding a slot, open connections, and the bytes held
  // in the memory budget.
  int RequestsInProgress() const;
  int OpenConnections() const;
  uint64_t MemoryHeld() const;

 private:
  std::mutex FSwitchLock;    // serialises Start and Stop, held while a Stop joins
  mutable std::mutex FLock;  // guards FPort, FAllowedOrigins and FServer
  TRequestHandler FHandler;
  uint16_t FPort = kDefaultPort;
  std::vector<std::string> FAllowedOrigins;
  std::unique_ptr<THTTPServer> FServer;  // present exactly while listening
};

}  // namespace dct
