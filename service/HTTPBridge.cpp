#include "service/HTTPBridge.h"

#include <utility>

#include "service/HTTPServer.h"

namespace dct {

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
  auto server = std::make_unique<THTTPServer>(FHandler, FPort, FAllowedOrigins);  // raises when not bound
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

void THTTPBridge::SetAllowedOrigins(std::vector<std::string> origins) {
  std::lock_guard<std::mutex> guard(FLock);
  FAllowedOrigins = std::move(origins);
}

uint64_t THTTPBridge::MemoryHeld() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FServer ? FServer->MemoryHeld() : 0;
}

int THTTPBridge::RequestsInProgress() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FServer ? FServer->InProgress() : 0;
}

int THTTPBridge::OpenConnections() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FServer ? FServer->Connections() : 0;
}

}  // namespace dct
