#include "service/MemoryBudget.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace dct {

namespace {
thread_local TMemoryCharge* GCurrent = nullptr;
}  // namespace

size_t TMemoryBudget::TAddressHash::operator()(const TAddress& a) const {
  uint64_t high, low;
  std::memcpy(&high, a.data(), 8);
  std::memcpy(&low, a.data() + 8, 8);
  return std::hash<uint64_t>()(high * 0x9E3779B97F4A7C15ull ^ low);
}

TMemoryBudget::TAddress TMemoryBudget::ShareKey(const TAddress& address) {
  static constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  static constexpr uint8_t kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  if (std::memcmp(address.data(), kMappedPrefix, 12) == 0) return address;  // IPv4
  if (std::memcmp(address.data(), kLoopback6, 16) == 0) return address;     // ::1 is one host
  TAddress key{};
  std::memcpy(key.data(), address.data(), 8);
  return key;
}

std::unique_ptr<TMemoryCharge> TMemoryBudget::Open(const TAddress& address, uint64_t cost) {
  std::lock_guard<std::mutex> guard(FLock);
  auto [it, added] = FShares.try_emplace(ShareKey(address));
  TShare& share = it->second;
  if (share.Connections >= FLimits.ConnectionsPerAddress) {
    if (added) FShares.erase(it);
    return nullptr;
  }
  // Charged, not reserved: the count of connections bounds it, and a connection over its
  // share still gets its refusal (503) instead of a silent close.
  share.Bytes += cost;
  FHeld += cost;
  ++share.Connections;
  return std::unique_ptr<TMemoryCharge>(new TMemoryCharge(*this, &*it, cost));
}

// A full share admits nothing, not even work that reserves no bytes of its own.
bool TMemoryBudget::TryReserveLocked(TShare& share, uint64_t bytes) {
  if (share.Bytes >= FLimits.PerAddress || bytes > FLimits.PerAddress - share.Bytes) return false;
  if (FHeld >= FLimits.Total || bytes > FLimits.Total - FHeld) return false;
  share.Bytes += bytes;
  FHeld += bytes;
  return true;
}

uint64_t TMemoryBudget::Held() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FHeld;
}

uint64_t TMemoryBudget::HeldBy(const TAddress& address) const {
  std::lock_guard<std::mutex> guard(FLock);
  const auto it = FShares.find(ShareKey(address));
  return it == FShares.end() ? 0 : it->second.Bytes;
}

TMemoryCharge::~TMemoryCharge() {
  std::lock_guard<std::mutex> guard(FBudget.FLock);
  FShare->second.Bytes -= FHeld;
  FBudget.FHeld -= FHeld;
  if (--FShare->second.Connections == 0) {
    const TMemoryBudget::TAddress key = FShare->first;  // a copy: the element goes with erase
    FBudget.FShares.erase(key);
  }
}

bool TMemoryCharge::TryReserve(uint64_t bytes) {
  std::lock_guard<std::mutex> guard(FBudget.FLock);
  if (!FBudget.TryReserveLocked(FShare->second, bytes)) return false;
  FHeld += bytes;
  return true;
}

void TMemoryCharge::Charge(uint64_t bytes) {
  std::lock_guard<std::mutex> guard(FBudget.FLock);
  FShare->second.Bytes += bytes;
  FBudget.FHeld += bytes;
  FHeld += bytes;
}

void TMemoryCharge::Release(uint64_t bytes) {
  std::lock_guard<std::mutex> guard(FBudget.FLock);
  FShare->second.Bytes -= bytes;
  FBudget.FHeld -= bytes;
  FHeld -= bytes;
}

void TMemoryCharge::ReleaseWork() { Release(FHeld - FBase); }

bool TMemoryCharge::OverShare() const {
  std::lock_guard<std::mutex> guard(FBudget.FLock);
  return FShare->second.Bytes >= FBudget.FLimits.PerAddress || FBudget.FHeld >= FBudget.FLimits.Total;
}

TMemoryCharge* TMemoryCharge::Current() { return GCurrent; }

TMemoryCharge::TScope::TScope(TMemoryCharge* charge) : FPrevious(GCurrent) { GCurrent = charge; }

TMemoryCharge::TScope::~TScope() { GCurrent = FPrevious; }

}  // namespace dct
