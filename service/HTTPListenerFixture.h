// For the listener's tests only: a THTTPBridge on a free port whose handler echoes the
// request, fails on /raise, answers /big with kBigAnswerBytes, /text?bytes=N with N bytes of
// text and /noise?bytes=N with N bytes that do not compress, and holds requests to /block at
// a gate, so that tests can fill the slots and the memory budget and stop the listener while
// answers are being computed. FHandled counts the requests that reached the handler.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
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

// bytes of text shaped like value text, different from one line to the next.
inline std::string ListenerText(size_t bytes) {
  std::string text;
  for (uint64_t i = 0; text.size() < bytes; ++i) {
    text += "<elm t=\"S\">46" + std::to_string(1000000000 + i * 7919 % 1000000000) + " Молоко</elm>\r\n";
  }
  text.resize(bytes);
  return text;
}

// bytes that no coding makes smaller.
inline std::string ListenerNoise(size_t bytes) {
  std::string noise(bytes, '\0');
  uint64_t state = 1;
  for (char& c : noise) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    c = static_cast<char>(state >> 56);
  }
  return noise;
}

class THTTPListenerFixture : public ::testing::Test {
 protected:
  static constexpr size_t kBigAnswerBytes = 32u << 20;

  THTTPListenerFixture()
      : FBridge([this](TWebRequest& r) {
          ++FHandled;
          if (r.Path() == "/raise") throw std::runtime_error("handler failed");
          if (r.Path() == "/block") FGate.Enter();
          TWebResponse response;
          response.ContentType = "text/plain";
          if (r.Path() == "/big") {
            response.Body.assign(kBigAnswerBytes, 'x');
            return response;
          }
          if (r.Path() == "/text" || r.Path() == "/noise") {
            const size_t bytes = std::stoul(QueryField(r.Query(), "bytes"));
            response.Body = r.Path() == "/text" ? ListenerText(bytes) : ListenerNoise(bytes);
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
  std::atomic<int> FHandled{0};
  THTTPBridge FBridge;
};

}  // namespace dct::testing
