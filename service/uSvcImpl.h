// TMobileDCT: the server side of IMobileDCT. The SOAP layer creates one per call, so every
// call has a TXMLEncoder of its own and no encoder is shared between threads. It finds its
// device and the command lock in the device context it is given.
//
// ExecuteCommand checks, in this order: a device with that DeviceID (else 1013), enabled
// (else 70), InputParameters readable (else 1004); then it runs the command with
// CommandLock held exactly around the device's ExecuteCommand. Decoding and encoding run
// outside the lock, in parallel with other calls. A device disabled while the call waited
// for the lock answers 70: a stop waits for the running command and refuses later ones.
//
// Under a listener, a command runs only while the caller's address is within its share of
// the memory budget (else the call fails with kBudgetRefusal, a SOAP fault), and its output
// value counts in that share until it is encoded.
//
// SetSingleDeviceParams refuses (1004, nothing changed) a DeviceID, AppVersion or AppName
// longer than kMaxSettingBytes: every status poll and every page carries them.
//
// In one call: called by THTTPSoapDispatcher; calls TXMLEncoder and, under CommandLock,
// TDevice::ExecuteCommand.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "service/uSvcIntf.h"
#include "values/uXMLEncoder.h"

namespace dct {

class TDeviceContext;

class TMobileDCT : public IMobileDCT {
 public:
  // Far longer than any identifier, name or version a client sets, small enough that a
  // status poll or a page view stays a few kilobytes whatever a client sets.
  static constexpr size_t kMaxSettingBytes = 1024;
  static constexpr const char* kBudgetRefusal =
      "The server holds too much data for this client.  Please try again later";

  // REQUIRES: Context outlives the object.
  explicit TMobileDCT(TDeviceContext& Context) : FContext(Context) {}

  bool ExecuteCommand(const std::string& DeviceID, const std::string& CommandName,
                      std::string_view InputParameters, std::string& OutputParameters, int& ResultCode,
                      std::string& ResultDescription) override;

  bool SetSingleDeviceParams(bool AutoClearDocs, bool AutoClearItems, const std::string& DeviceID,
                             const std::string& AppVersion, const std::string& AppName, int& ResultCode,
                             std::string& ResultDescription) override;

 private:
  TDeviceContext& FContext;
  TXMLEncoder FXMLEncoder;
};

}  // namespace dct
