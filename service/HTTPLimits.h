// THTTPLimits: the bounds the HTTP listener puts on its clients, in one place so that the
// reason for each number stands beside it. THTTPServer enforces those of the process (slots,
// connections, bodies held at once, the stop), THTTPConnection those of one connection
// (header, body, transfer rate, lingering). THTTPBridge shows them to its callers, which
// name them as THTTPBridge::kName.
#pragma once

#include <chrono>
#include <cstdint>

namespace dct {

struct THTTPLimits {
  // Requests in progress: the web module pool of the service.
  static constexpr int kMaxRequestsInProgress = 32;
  // The answer (status 500) to a request that finds every slot taken.
  static constexpr const char* kBusyText =
      "Maximum number of concurrent connections exceeded.  Please try again later";
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
};

}  // namespace dct
