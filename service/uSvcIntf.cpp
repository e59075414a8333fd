#include "service/uSvcIntf.h"

namespace dct {

const char* SoapTypeName(TSoapType type) {
  switch (type) {
    case TSoapType::String: return "string";
    case TSoapType::Int: return "int";
    case TSoapType::Boolean: return "boolean";
  }
  return "string";
}

const TSoapOperation* TSoapInterface::FindOperation(std::string_view name) const {
  for (const TSoapOperation& op : Operations) {
    if (name == op.Name) return &op;
  }
  return nullptr;
}

const TSoapInterface& MobileDCTInterface() {
  static const TSoapInterface intf = [] {
    TSoapInterface i;
    i.Name = "IMobileDCT";
    i.UnitName = "uSvcIntf";
    i.Namespace = std::string("urn:") + i.UnitName + "-" + i.Name;
    i.Operations = {
        {"ExecuteCommand",
         {{"DeviceID", TSoapType::String},
          {"CommandName", TSoapType::String},
          {"InputParameters", TSoapType::String}},
         {{"OutputParameters", TSoapType::String},
          {"ResultCode", TSoapType::Int},
          {"ResultDescription", TSoapType::String}}},
        {"SetSingleDeviceParams",
         {{"AutoClearDocs", TSoapType::Boolean},
          {"AutoClearItems", TSoapType::Boolean},
          {"DeviceID", TSoapType::String},
          {"AppVersion", TSoapType::String},
          {"AppName", TSoapType::String}},
         {{"ResultCode", TSoapType::Int}, {"ResultDescription", TSoapType::String}}},
    };
    return i;
  }();
  return intf;
}

}  // namespace dct
