#include "service/uSvcImpl.h"

#include <mutex>
#include <stdexcept>

#include "device/uDevice.h"
#include "device/uEquipmentErrors.h"
#include "service/MemoryBudget.h"

namespace dct {

bool TMobileDCT::ExecuteCommand(const std::string& DeviceID, const std::string& CommandName,
                                std::string_view InputParameters, std::string& OutputParameters,
                                int& ResultCode, std::string& ResultDescription) {
  OutputParameters.clear();
  ResultDescription.clear();
  ResultCode = rcOK;
  // The account of the request (none in tests that call the object directly). The output
  // value is counted from the command's end until it is gone, at the return: by then the
  // caller holds its text and counts that.
  TMemoryCharge* const charge = TMemoryCharge::Current();
  uint64_t outputCost = 0;
  struct TGiveBack {
    TMemoryCharge* Charge;
    const uint64_t& Bytes;
    ~TGiveBack() {
      if (Charge != nullptr) Charge->Release(Bytes);
    }
  } giveBack{charge, outputCost};
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
        // Checked under the lock: every earlier command's output is counted by now, so that
        // calls queued together cannot each make a large answer before any of them is counted.
        if (charge != nullptr && charge->OverShare()) throw std::runtime_error(kBudgetRefusal);
        ResultCode = device->ExecuteCommand(CommandName, input, output, ResultDescription);
        if (charge != nullptr) {
          outputCost = sizeof(Variant) + output.HeapBytes();
          charge->Charge(outputCost);
        }
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
  } else if (DeviceID.size() > kMaxSettingBytes || AppVersion.size() > kMaxSettingBytes ||
             AppName.size() > kMaxSettingBytes) {
    ResultCode = rcBadInput;
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
