#include "device/uDeviceContext.h"

#include <algorithm>

#include "device/uDevice.h"

namespace dct {

// ---------------------------------------------------------------------------------------
// The service counters.

TServiceCounters::TServiceCounters()
    : FStartTime(std::chrono::system_clock::now()), FStartTick(std::chrono::steady_clock::now()) {}

void TServiceCounters::NoteCall(bool Failed) {
  // Served first: a reader never sees more failed calls than served ones.
  FCallsServed.fetch_add(1);
  if (Failed) FCallsFailed.fetch_add(1);
}

int64_t TServiceCounters::UptimeSeconds() const {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - FStartTick)
      .count();
}

TDeviceContext::~TDeviceContext() { FreeSingleDevice(); }

// ---------------------------------------------------------------------------------------
// The shared listener.

void TDeviceContext::SetListenerSwitch(IListenerSwitch* Listener) {
  std::lock_guard<std::mutex> guard(FListenerLock);
  FListener = Listener;
}

void TDeviceContext::StartListener() {
  std::lock_guard<std::mutex> guard(FListenerLock);
  if (FListener != nullptr && !FListener->Listening()) FListener->Start();  // may raise
  ++FListenerUsers;
}

void TDeviceContext::StopListener() {
  std::lock_guard<std::mutex> guard(FListenerLock);
  if (FListenerUsers > 0) {
    --FListenerUsers;
    if (FListenerUsers > 0) return;
  }
  if (FListener != nullptr && FListener->Listening()) FListener->Stop();
}

int TDeviceContext::ListenerUsers() const {
  std::lock_guard<std::mutex> guard(FListenerLock);
  return FListenerUsers;
}

// ---------------------------------------------------------------------------------------
// The device list.

TDevice* TDeviceContext::GetSingleDevice() const {
  std::lock_guard<std::mutex> guard(FDeviceListLock);
  return FDeviceList.empty() ? nullptr : FDeviceList.front();
}

void TDeviceContext::CreateSingleDevice() {
  std::lock_guard<std::mutex> creating(FSingleDeviceLock);
  if (GetSingleDevice() != nullptr) return;
  {
    std::lock_guard<std::mutex> guard(FDeviceListLock);
    FDeviceList.clear();
  }
  new TDevice(*this);  // registers itself; FreeSingleDevice destroys it
}

void TDeviceContext::FreeSingleDevice() {
  std::lock_guard<std::mutex> freeing(FSingleDeviceLock);
  TDevice* device = nullptr;
  {
    std::lock_guard<std::mutex> guard(FDeviceListLock);
    if (FDeviceList.empty() || FDeviceList.front() == nullptr) return;
    device = FDeviceList.front();
    FDeviceList.front() = nullptr;
  }
  delete device;  // disables it, which may wait for a running command
  std::lock_guard<std::mutex> guard(FDeviceListLock);
  FDeviceList.clear();
}

TDevice* TDeviceContext::FindDevice(const std::string& ID) const {
  std::lock_guard<std::mutex> guard(FDeviceListLock);
  for (TDevice* device : FDeviceList) {
    if (device != nullptr && device->DeviceID() == ID) return device;
  }
  return nullptr;
}

void TDeviceContext::RegisterDevice(TDevice* Device) {
  size_t index;
  {
    std::lock_guard<std::mutex> guard(FDeviceListLock);
    FDeviceList.push_back(Device);
    index = FDeviceList.size() - 1;
  }
  Device->SetDeviceID(std::to_string(index));
}

void TDeviceContext::UnregisterDevice(TDevice* Device) {
  std::lock_guard<std::mutex> guard(FDeviceListLock);
  auto it = std::find(FDeviceList.begin(), FDeviceList.end(), Device);
  if (it == FDeviceList.end()) return;
  *it = FDeviceList.back();
  FDeviceList.pop_back();
}

}  // namespace dct
