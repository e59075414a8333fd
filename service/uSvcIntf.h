// IMobileDCT: the one web service interface of the system, and the description of it that
// the SOAP binding, the WSDL and the service pages are generated from.
//
// Both operations return true exactly when ResultCode is 0. Parameters of direction "in"
// travel only in the request, those of direction "out" only in the answer, in the order in
// which they are declared here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dct {

class IMobileDCT {
 public:
  virtual ~IMobileDCT() = default;

  // Runs CommandName on the device DeviceID with the XML value text InputParameters.
  // OutputParameters is filled only on success. May raise (the SOAP layer answers a fault).
  virtual bool ExecuteCommand(const std::string& DeviceID, const std::string& CommandName,
                              std::string_view InputParameters, std::string& OutputParameters,
                              int& ResultCode, std::string& ResultDescription) = 0;

  // Sets the single device's identifier and settings (DeviceID is not a look-up key).
  virtual bool SetSingleDeviceParams(bool AutoClearDocs, bool AutoClearItems, const std::string& DeviceID,
                                     const std::string& AppVersion, const std::string& AppName,
                                     int& ResultCode, std::string& ResultDescription) = 0;
};

// ---------------------------------------------------------------------------------------
// Description of the interface as it appears on the wire.

// The XML Schema type a parameter travels as.
enum class TSoapType { String, Int, Boolean };
const char* SoapTypeName(TSoapType type);  // "string", "int", "boolean"

struct TSoapParam {
  const char* Name;
  TSoapType Type;
};

struct TSoapOperation {
  const char* Name;
  std::vector<TSoapParam> In;
  std::vector<TSoapParam> Out;  // after the Boolean "return", in this order
};

struct TSoapInterface {
  const char* Name;       // port type name
  const char* UnitName;   // source unit the namespace is built from
  std::string Namespace;  // "urn:" + unit + "-" + name
  std::vector<TSoapOperation> Operations;

  std::string SoapAction(const TSoapOperation& op) const { return Namespace + "#" + op.Name; }
  const TSoapOperation* FindOperation(std::string_view name) const;  // exact name
};

// The registry holds exactly one interface.
const TSoapInterface& MobileDCTInterface();

}  // namespace dct
