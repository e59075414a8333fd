// The process-wide registries of the device unit: the command lock, the shared listener with
// its use count, and the device list.
//
// Commands run one at a time: the service holds CommandLock exactly around
// TDevice::ExecuteCommand, and Disable takes it around closing the buffer.
//
// The device knows nothing of HTTP: its Enable and Disable switch the shared listener
// through IListenerSwitch, which the host wires to the HTTP listener (tests wire a fake).
//
// The device list references devices without owning them. A TDevice registers itself when
// constructed (taking its list index as identifier) and leaves the list when destroyed;
// only CreateSingleDevice / FreeSingleDevice create and destroy one.
//
// Each registry has its own lock, so these may be called from any thread; CreateSingleDevice
// and FreeSingleDevice are meant for the host's start-up and shutdown only.
#pragma once

#include <mutex>
#include <string>

namespace dct {

class TDevice;

// The one lock of the system: held around every command run through the web service, and
// around closing the buffer in Disable.
std::mutex& CommandLock();

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

// REQUIRES: called before any device is enabled, or with nullptr after the last disable.
void SetListenerSwitch(IListenerSwitch* listener);
// Use count of the listener: StartListener starts it when it is not listening (a failure is
// raised before the count is raised); StopListener stops it when the count drops to 0.
void StartListener();
void StopListener();
int ListenerUsers();

// The device list. GetSingleDevice is the first device or nullptr. CreateSingleDevice makes
// one only when there is none; FreeSingleDevice destroys the first one and empties the list.
// FindDevice compares identifiers exactly.
TDevice* GetSingleDevice();
void CreateSingleDevice();
void FreeSingleDevice();
TDevice* FindDevice(const std::string& id);
// Called by TDevice's constructor and destructor only.
void RegisterDevice(TDevice* device);
void UnregisterDevice(TDevice* device);

}  // namespace dct
