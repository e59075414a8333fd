// THTTPLimits: the bounds the HTTP listener puts on its clients, in one place so that the
// reason for each number stands beside it. THTTPServer enforces those of the process (slots,
// connections, the memory budget, the stop), THTTPConnection those of one connection
// (header, body, read buffer, transfer rate, lingering). THTTPBridge shows them to its
// callers, which name them as THTTPBridge::kName.
#pragma once

#include <chrono>
#include <cstddef>
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
  // Connections one client address may hold: far more than one terminal or the accounting
  // side opens, and three quarters of the table stay free for the others whatever one host
  // does.
  static constexpr int kMaxConnectionsPerAddress = 128;
  // A million-item catalogue is about 400 MB of escaped XML; a declared length above this
  // is refused (413) before a byte of the body is read.
  static constexpr uint64_t kMaxBodyBytes = 512ull << 20;

  // A request body sent gzip- or deflate-coded is inflated as it arrives, to at most
  // kMaxBodyBytes (413 beyond) and counted in the budget as it grows, kRequestCostFactor
  // times, like a plain body. Past its first kInflateFreeBytes it may not inflate to more than
  // kMaxInflateRatio times the coded bytes that arrived (413): deflate reaches 1032, a
  // catalogue of 100,000 identical items 229 at level 9, a real one about 15; so a bomb is
  // refused having cost a few megabytes, not the body limit.
  static constexpr uint64_t kMaxInflateRatio = 512;
  static constexpr uint64_t kInflateFreeBytes = 1u << 20;
  // Coded bytes inflated between two checks of that ratio and of the budget: at most 1032
  // times this (about 4 MiB) is made before a check.
  static constexpr size_t kInflateSliceBytes = 4u << 10;
  // Answers up to this size go out as they are: the gzip frame and the Vary header would eat
  // most of the saving, and the answer fits a segment or two anyway. A larger answer goes out
  // gzip-compressed when the request's Accept-Encoding allows it, and carries
  // "Vary: Accept-Encoding" whether it did or not, so that a cache keeps the two apart.
  static constexpr size_t kCompressMinBytes = 1024;

  // Everything clients can make the process hold (TMemoryBudget): the host usually runs the
  // shop's accounting system too, which must keep its memory whatever the terminals send.
  static constexpr uint64_t kMemoryBudget = 2048ull << 20;
  // One client address's share of it: room for the accounting side's largest work (a
  // million-item load, 2 x 400 MB, while a catalogue download's answer waits to be read),
  // and what is left is the other clients' however one host behaves.
  static constexpr uint64_t kMemoryPerAddress = 1280ull << 20;
  // What a request costs while it is served, per byte of its body: the body itself, and the
  // values decoded from it (measured: a catalogue load peaks at 1.97 x its request; the
  // envelope's own tree is bounded by TSOAPRequest::kMaxMarkup). Reserved before the body is
  // read, so a request that could not be served is refused (503) before it costs anything.
  static constexpr uint64_t kRequestCostFactor = 2;
  // The read buffer's largest size: a whole header and one body read. A chunk-size line or
  // a trailer that does not fit ends the connection with 400 (Beast bounds neither).
  static constexpr uint32_t kMaxHeaderBytes = 32u << 10;
  static constexpr uint32_t kMaxReadBufferBytes = kMaxHeaderBytes + (64u << 10);
  // Chunk extensions carry nothing any SOAP client sends.
  static constexpr uint32_t kMaxChunkExtensionBytes = 1u << 10;
  // A connection's own cost, held from accept to close: the read buffer at its largest, and
  // the parser, the socket and the kernel's bookkeeping, rounded up.
  static constexpr uint64_t kConnectionCost = kMaxReadBufferBytes + (32u << 10);

  // A request's header must arrive within this time (slow-header attacks).
  static constexpr std::chrono::seconds kHeaderTimeout{30};
  // A request's body, and an answer, must move at kMinTransferRate on average after this
  // grace time, counted in the bytes that actually moved, and must not stall for longer than
  // it: a terminal on weak Wi-Fi (1 Mbit/s is four times this rate) passes with any
  // catalogue, while a client that stops reading is cut off, and its answer's memory given
  // back, within a grace time of stopping.
  static constexpr std::chrono::seconds kTransferGraceTime{60};
  static constexpr uint64_t kMinTransferRate = 32u << 10;  // bytes per second
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
