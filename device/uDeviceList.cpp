#include "device/uDeviceList.h"

#include <algorithm>
#include <vector>

#include "device/uDevice.h"

namespace dct {

std::mutex& CommandLock() {
  static std::mutex lock;
  return lock;
}

namespace {

// Guards the listener pointer and its use count; Enable and Disable may in principle run on
// different threads (the control thread and a destructor at process end).
std::mutex& ListenerLock() {
  static std::mutex lock;
  return lock;
}
IListenerSwitch* g_listener = nullptr;
int g_listenerUsers = 0;

std::mutex& DeviceListLock() {
  static std::mutex lock;
  return lock;
}
std::vector<TDevice*>& DeviceList() {
  static std::vector<TDevice*> list;
  return list;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The shared listener.

void SetListenerSwitch(IListenerSwitch* listener) {
  std::lock_guard<std::mutex> guard(ListenerLock());
  g_listener = listener;
}

void StartListener() {
  std::lock_guard<std::mutex> guard(ListenerLock());
  if (g_listener != nullptr && !g_listener->Listening()) g_listener->Start();  // may raise
  ++g_listenerUsers;
}

void StopListener() {
  std::lock_guard<std::mutex> guard(ListenerLock());
  if (g_listenerUsers > 0) {
    --g_listenerUsers;
    if (g_listenerUsers > 0) return;
  }
  if (g_listener != nullptr && g_listener->Listening()) g_listener->Stop();
}

int ListenerUsers() {
  std::lock_guard<std::mutex> guard(ListenerLock());
  return g_listenerUsers;
}

// ---------------------------------------------------------------------------------------
// The device list.

TDevice* GetSingleDevice() {
  std::lock_guard<std::mutex> guard(DeviceListLock());
  return DeviceList().empty() ? nullptr : DeviceList().front();
}

void CreateSingleDevice() {
  if (GetSingleDevice() != nullptr) return;
  {
    std::lock_guard<std::mutex> guard(DeviceListLock());
    DeviceList().clear();
  }
  new TDevice();  // registers itself; FreeSingleDevice destroys it
}

void FreeSingleDevice() {
  TDevice* device = nullptr;
  {
    std::lock_guard<std::mutex> guard(DeviceListLock());
    if (DeviceList().empty() || DeviceList().front() == nullptr) return;
    device = DeviceList().front();
    DeviceList().front() = nullptr;
  }
  delete device;
  std::lock_guard<std::mutex> guard(DeviceListLock());
  DeviceList().clear();
}

TDevice* FindDevice(const std::string& id) {
  std::lock_guard<std::mutex> guard(DeviceListLock());
  for (TDevice* device : DeviceList()) {
    if (device != nullptr && device->DeviceID() == id) return device;
  }
  return nullptr;
}

void RegisterDevice(TDevice* device) {
  size_t index;
  {
    std::lock_guard<std::mutex> guard(DeviceListLock());
    DeviceList().push_back(device);
    index = DeviceList().size() - 1;
  }
  device->SetDeviceID(std::to_string(index));
}

void UnregisterDevice(TDevice* device) {
  std::lock_guard<std::mutex> guard(DeviceListLock());
  auto& list = DeviceList();
  auto it = std::find(list.begin(), list.end(), device);
  if (it == list.end()) return;
  *it = list.back();
  list.pop_back();
}

}  // namespace dct
