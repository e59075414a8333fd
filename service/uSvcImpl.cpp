#include "service/uSvcImpl.h"

#include <mutex>

#include "device/uDevice.h"
#include "device/uEquipmentErrors.h"

namespace dct {

bool TMobileDCT::ExecuteCommand(const std::string& DeviceID, const std::string& CommandName,
                                std::string_view InputParameters, std::string& OutputParameters,
                                int& ResultCode, std::string& ResultDescription) {
  OutputParameters.clear();
  ResultDescription.clear();
  ResultCode = rcOK;
  Variant output;

  TDevice* device = FContext.FindDevice(DeviceID);
  if (device == nullptr) {
    ResultCode = rcDeviceNotFound;
  } else if (!device->Enabled()) {
    ResultCode = rcNotEnabled;
  } else {
    Variant input;
    bool decoded = true;
    try {
      input = FXMLEncoder.Decode(InputParameters);
    } catch (...) {  // any failure to read the input is the caller's fault
      ResultCode = rcBadInput;
      decoded = false;
    }
    if (decoded) {
      std::lock_guard<std::mutex> guard(FContext.CommandLock());
      // Disable clears Enabled before it waits for this lock to close the buffer.
      if (!device->Enabled()) {
        ResultCode = rcNotEnabled;
      } else {
        ResultCode = device->ExecuteCommand(CommandName, input, output, ResultDescription);
      }
    }
  }

  const bool result = ResultCode == rcOK;
  ResultDescription = GetEquipmentErrorDescription(ResultCode, ResultDescription);
  if (result) OutputParameters = FXMLEncoder.Encode(output);
  return result;
}

bool TMobileDCT::SetSingleDeviceParams(bool AutoClearDocs, bool AutoClearItems, const std::string& DeviceID,
                                       const std::string& AppVersion, const std::string& AppName,
                                       int& ResultCode, std::string& ResultDescription) {
  ResultDescription.clear();
  ResultCode = rcOK;
  TDevice* device = FContext.GetSingleDevice();
  if (device == nullptr) {
    ResultCode = rcDeviceNotFound;
  } else {
    device->SetAutoClearDocs(AutoClearDocs);
    device->SetAutoClearItems(AutoClearItems);
    device->SetDeviceID(DeviceID);
    device->SetAppVersion(AppVersion);
    device->SetAppName(AppName);
  }
  const bool result = ResultCode == rcOK;
  ResultDescription = GetEquipmentErrorDescription(ResultCode, std::string());
  return result;
}

}  // namespace dct
