// TDeviceContext: what the devices of one process share. The host creates one at start-up,
// hands it to every device it makes and to the web service, and destroys it last; tests
// build their own. Nothing here is global: two contexts in one process never meet.
//
// It holds four things:
//   - the command lock: commands run one at a time; the service holds CommandLock exactly
//     around TDevice::ExecuteCommand, and Disable takes it around closing the buffer;
//   - the listener switch and its use count: the device knows nothing of HTTP, its Enable
//     and Disable switch the shared listener through IListenerSwitch, which the host wires
//     to the HTTP listener (tests wire a fake);
//   - the device list, which references devices without owning them. A TDevice registers
//     itself when constructed (taking its list index as identifier) and leaves the list
//     when destroyed; the host makes and frees its one device with CreateSingleDevice and
//     FreeSingleDevice;
//   - the service counters: when the process started, and the web service calls served and
//     failed since then, read by the status page without any lock.
//
// Each of the first three has its own lock; the counters are atomics, so every member may be called from any
// thread. Lock order: a device's Disable takes the listener lock, releases it, then the command lock; nothing
// takes the list lock while holding another.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace dct {

class TDevice;

// The shared HTTP listener as the device unit sees it.
class IListenerSwitch {
 public:
  virtual ~IListenerSwitch() = default;
  virtual bool Listening() const = 0;
  // Starts listening on every address at the configured port; raises on failure
  // (for instance a port already taken).
  virtual void Start() = 0;
  // Closes the listening sockets, ends every connection and joins every thread.
  virtual void Stop() = 0;
};

// Counts what the web service did since the context was made. Every member may be called on
// any thread; each value is read on its own, so a reader may see a call counted as served and
// not yet as failed, never the reverse.
class TServiceCounters {
 public:
  TServiceCounters();

  // One call answered: Failed when its result code was not 0 or it was answered with a fault.
  void NoteCall(bool Failed);
  uint64_t CallsServed() const { return FCallsServed.load(); }
  uint64_t CallsFailed() const { return FCallsFailed.load(); }

  std::chrono::system_clock::time_point StartTime() const { return FStartTime; }
  // Whole seconds since the start, on the monotonic clock: a wall-clock step changes no uptime.
  int64_t UptimeSeconds() const;

 private:
  const std::chrono::system_clock::time_point FStartTime;
  const std::chrono::steady_clock::time_point FStartTick;
  std::atomic<uint64_t> FCallsServed{0};
  std::atomic<uint64_t> FCallsFailed{0};
};

class TDeviceContext {
 public:
  TDeviceContext() = default;
  // Frees the single device, if one is left.
  ~TDeviceContext();
  TDeviceContext(const TDeviceContext&) = delete;
  TDeviceContext& operator=(const TDeviceContext&) = delete;

  // The one lock of the system: held around every command run through the web service, and
  // around closing the buffer in Disable.
  std::mutex& CommandLock() { return FCommandLock; }

  // REQUIRES: called before any device is enabled, or with nullptr after the last disable.
  void SetListenerSwitch(IListenerSwitch* Listener);
  // Use count of the listener: StartListener starts it when it is not listening (a failure
  // is raised before the count is raised); StopListener stops it when the count drops to 0.
  void StartListener();
  void StopListener();
  int ListenerUsers() const;

  // The device list. GetSingleDevice is the first device or nullptr. CreateSingleDevice
  // makes one only when there is none; FreeSingleDevice destroys the one it made and
  // empties the list. FindDevice compares identifiers exactly.
  TDevice* GetSingleDevice() const;
  void CreateSingleDevice();
  void FreeSingleDevice();
  TDevice* FindDevice(const std::string& ID) const;
  // Called by TDevice's constructor and destructor only.
  void RegisterDevice(TDevice* Device);
  void UnregisterDevice(TDevice* Device);

  TServiceCounters& Counters() { return FCounters; }
  const TServiceCounters& Counters() const { return FCounters; }

 private:
  TServiceCounters FCounters;

  std::mutex FCommandLock;

  // Guards the listener pointer and its use count: Enable and Disable may run on different
  // threads (the control thread, and a destructor at the end).
  mutable std::mutex FListenerLock;
  IListenerSwitch* FListener = nullptr;
  int FListenerUsers = 0;

  // Serialises CreateSingleDevice and FreeSingleDevice, so that two callers cannot both
  // find the list empty and both make a device.
  std::mutex FSingleDeviceLock;
  mutable std::mutex FDeviceListLock;  // guards FDeviceList only
  std::vector<TDevice*> FDeviceList;
};

}  // namespace dct
