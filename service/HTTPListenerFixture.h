// For the listener's tests only: a THTTPBridge on a free port whose handler echoes the
// request, fails on /raise, answers /big with kBigAnswerBytes, and holds requests to /block
// at a gate, so that tests can fill the slots and the memory budget and stop the listener
// while answers are being computed.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>

#include "service/HTTPBridge.h"

namespace dct::testing {

// Requests to /block wait here until the test opens the gate.
class TGate {
 public:
  void Enter() {
    std::unique_lock<std::mutex> lock(FLock);
    ++FInside;
    FChanged.notify_all();
    FChanged.wait(lock, [this] { return FOpen; });
  }
  bool WaitInside(int n) {
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, std::chrono::seconds(30), [&] { return FInside >= n; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(FLock);
    FOpen = true;
    FChanged.notify_all();
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  int FInside = 0;
  bool FOpen = false;
};

class THTTPListenerFixture : public ::testing::Test {
 protected:
  static constexpr size_t kBigAnswerBytes = 32u << 20;

  THTTPListenerFixture()
      : FBridge([this](TWebRequest& r) {
          if (r.Path() == "/raise") throw std::runtime_error("handler failed");
          if (r.Path() == "/block") FGate.Enter();
          TWebResponse response;
          response.ContentType = "text/plain";
          if (r.Path() == "/big") {
            response.Body.assign(kBigAnswerBytes, 'x');
            return response;
          }
          response.Body = r.Method + " " + r.Target + " " + r.Host + " [" + r.SOAPAction + "] " +
                          std::to_string(r.LocalPort) + " " + r.Body;
          return response;
        }) {
    FBridge.SetPort(0);
  }
  ~THTTPListenerFixture() override {
    FGate.Open();
    FBridge.Stop();
  }

  uint16_t Port() const { return FBridge.BoundPort(); }

  TGate FGate;
  THTTPBridge FBridge;
};

}  // namespace dct::testing
