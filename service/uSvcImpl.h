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
// In one call: called by THTTPSoapDispatcher; calls TXMLEncoder and, under CommandLock,
// TDevice::ExecuteCommand.
#pragma once

#include <string>
#include <string_view>

#include "service/uSvcIntf.h"
#include "values/uXMLEncoder.h"

namespace dct {

class TDeviceContext;

class TMobileDCT : public IMobileDCT {
 public:
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
