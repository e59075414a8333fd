// TMemoryBudget: the bytes that clients can make the process hold, counted against one limit
// for the process and one share per client address, so that no host on the network can take
// the memory of the others, nor all of it.
//
// What is counted is the listener's to say (see HTTPLimits.h): a connection's buffers, a
// request's body and what decoding it costs, the values a command makes until they are
// encoded, and an answer until its last byte is written or its connection is dropped. Two
// ways in:
//   - TryReserve admits new work only when the address's share and the process's budget both
//     have room, so a request is refused before it costs anything;
//   - Charge counts what already exists (an answer that was made) whatever the room: dropping
//     it would lose a command's outcome. An account over its share (OverShare) is refused new
//     work until enough of it has been written out.
// The total then stays below the budget plus what the requests already admitted make, and
// those are bounded by their own reservations.
//
// Addresses: an IPv4 address is one client; an IPv6 address is counted with the others of
// its /64, since one host can take any number of addresses in its own prefix.
//
// Threads: every member of both classes may be called on any thread; one TMemoryCharge is used
// by one thread at a time (its connection's, or the one serving its request).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace dct {

class TMemoryCharge;

class TMemoryBudget {
 public:
  // 16 bytes: an IPv6 address, or an IPv4 address in its IPv4-mapped form.
  using TAddress = std::array<uint8_t, 16>;

  struct TLimits {
    uint64_t Total = 0;       // bytes, all clients together
    uint64_t PerAddress = 0;  // bytes, one client address
    int ConnectionsPerAddress = 0;
  };

  explicit TMemoryBudget(TLimits limits) : FLimits(limits) {}
  TMemoryBudget(const TMemoryBudget&) = delete;
  TMemoryBudget& operator=(const TMemoryBudget&) = delete;
  // REQUIRES: every TMemoryCharge opened on it is gone.
  ~TMemoryBudget() = default;

  // The account of one new connection from address, holding cost bytes for the connection
  // itself (charged, whatever the room); null when the address has ConnectionsPerAddress
  // connections open already.
  std::unique_ptr<TMemoryCharge> Open(const TAddress& address, uint64_t cost);

  const TLimits& Limits() const { return FLimits; }
  uint64_t Held() const;                           // all accounts together
  uint64_t HeldBy(const TAddress& address) const;  // one address's accounts together

 private:
  friend class TMemoryCharge;
  struct TShare {
    uint64_t Bytes = 0;
    int Connections = 0;
  };
  struct TAddressHash {
    size_t operator()(const TAddress& a) const;
  };
  using TShares = std::unordered_map<TAddress, TShare, TAddressHash>;

  static TAddress ShareKey(const TAddress& address);  // the /64 of an IPv6 address
  bool TryReserveLocked(TShare& share, uint64_t bytes);

  const TLimits FLimits;
  mutable std::mutex FLock;  // guards everything below
  uint64_t FHeld = 0;
  TShares FShares;  // an account keeps a pointer to its element, which rehashing never moves
};

// One connection's account. It gives back what it holds when destroyed.
class TMemoryCharge {
 public:
  ~TMemoryCharge();
  TMemoryCharge(const TMemoryCharge&) = delete;
  TMemoryCharge& operator=(const TMemoryCharge&) = delete;

  // Takes bytes when both the share and the budget have room for them; false otherwise, and
  // always false while OverShare (so TryReserve(0) admits work that has no cost of its own).
  bool TryReserve(uint64_t bytes);
  // Takes bytes whatever the room (see the top of this file).
  void Charge(uint64_t bytes);
  // Gives bytes back. REQUIRES: bytes <= Held().
  void Release(uint64_t bytes);
  // Gives back all but the connection's own cost.
  void ReleaseWork();
  // True when the address's share or the process's budget is used up: new work is refused.
  bool OverShare() const;
  uint64_t Held() const { return FHeld; }

  // The account of the request that the calling thread is serving, for code below the
  // listener that makes large values (the command, the encoder); null outside a request.
  static TMemoryCharge* Current();
  // Makes charge the calling thread's Current for the scope's life.
  class TScope {
   public:
    explicit TScope(TMemoryCharge* charge);
    ~TScope();
    TScope(const TScope&) = delete;
    TScope& operator=(const TScope&) = delete;

   private:
    TMemoryCharge* FPrevious;
  };

 private:
  friend class TMemoryBudget;
  TMemoryCharge(TMemoryBudget& budget, TMemoryBudget::TShares::value_type* share, uint64_t base)
      : FBudget(budget), FShare(share), FBase(base), FHeld(base) {}

  TMemoryBudget& FBudget;
  TMemoryBudget::TShares::value_type* const FShare;  // rehashing moves no element
  const uint64_t FBase;                              // the connection's own cost, held for its whole life
  uint64_t FHeld;                                    // FBase and everything reserved or charged since
};

}  // namespace dct
