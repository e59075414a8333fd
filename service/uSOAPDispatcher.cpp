#include "service/uSOAPDispatcher.h"

#include <optional>
#include <utility>

#include "device/uDeviceContext.h"
#include "service/uSOAPMessage.h"
#include "support/uProcessMemory.h"

namespace dct {
namespace {

// The namespace a SOAPAction names: one pair of quotes and any "#fragment" removed.
std::string_view ActionNamespace(std::string_view action) {
  if (!action.empty() && action.front() == '"') action.remove_prefix(1);
  if (!action.empty() && action.back() == '"') action.remove_suffix(1);
  return action.substr(0, action.find('#'));
}

// The interface a request addresses, or the fixed fault's text.
const TSoapInterface* ChooseInterface(const TWebRequest& request, std::string& error) {
  const TSoapInterface& intf = MobileDCTInterface();
  const std::string& action = request.SOAPAction.empty() ? request.HTTPSoapAction : request.SOAPAction;
  if (!action.empty() && action != "\"\"") {
    if (ActionNamespace(action) == ActionNamespace(intf.Namespace)) return &intf;
    error = "No interface  registered for soap action '" + action + "'";
    return nullptr;
  }
  const std::string_view path = request.Path();
  const std::string_view segment = path.substr(path.rfind('/') + 1);
  if (SameTextASCII(segment, intf.Name)) return &intf;
  error = "No interface  registered for URL '" + std::string(path) + "'";
  return nullptr;
}

std::string ExecuteCommand(IMobileDCT& impl, TSOAPRequest& call, const TSoapInterface& intf,
                           const TSoapOperation& op, int& code) {
  const std::string deviceID = call.String("DeviceID");
  const std::string commandName = call.String("CommandName");
  const std::string_view input = call.Text("InputParameters").value_or(std::string_view());
  std::string output, description;
  const bool result = impl.ExecuteCommand(deviceID, commandName, input, output, code, description);
  // The command's values are freed by now; what they held would otherwise stay resident
  // until the next large call, and add to it when that one runs in another arena.
  if (input.size() >= kReleaseAfterBytes || output.size() >= kReleaseAfterBytes) ReleaseFreedMemory();

  TSOAPResponseWriter answer(intf, op.Name);
  answer.Boolean("return", result);
  answer.String("OutputParameters", output);
  answer.Int("ResultCode", code);
  answer.String("ResultDescription", description);
  return answer.Finish();
}

std::string SetSingleDeviceParams(IMobileDCT& impl, TSOAPRequest& call, const TSoapInterface& intf,
                                  const TSoapOperation& op, int& code) {
  const bool autoClearDocs = call.Boolean("AutoClearDocs");
  const bool autoClearItems = call.Boolean("AutoClearItems");
  const std::string deviceID = call.String("DeviceID");
  const std::string appVersion = call.String("AppVersion");
  const std::string appName = call.String("AppName");
  std::string description;
  const bool result = impl.SetSingleDeviceParams(autoClearDocs, autoClearItems, deviceID, appVersion, appName,
                                                 code, description);

  TSOAPResponseWriter answer(intf, op.Name);
  answer.Boolean("return", result);
  answer.Int("ResultCode", code);
  answer.String("ResultDescription", description);
  return answer.Finish();
}

// Decodes and performs the call; any failure becomes the status-200 fault. Failed: a fault
// or a result code other than 0.
std::string Invoke(const TSoapInterface& intf, const TMobileDCTFactory& factory, std::string& body,
                   bool& failed) {
  failed = true;
  try {
    TSOAPRequest call(body);
    const std::string_view ns = call.OperationNamespace();
    const TSoapOperation* op =
        call.OperationName().empty() ? nullptr : intf.FindOperation(call.OperationName());
    // An unqualified operation element is taken as the interface's own.
    if (op == nullptr || (!ns.empty() && ns != intf.Namespace)) {
      throw ESOAPFault("Operation '" + std::string(call.OperationName()) + "' is not defined for interface " +
                       intf.Name + (ns.empty() ? std::string() : " in namespace '" + std::string(ns) + "'"));
    }
    std::unique_ptr<IMobileDCT> impl = factory();
    int code = 0;
    std::string answer = std::string_view(op->Name) == "ExecuteCommand"
                             ? ExecuteCommand(*impl, call, intf, *op, code)
                             : SetSingleDeviceParams(*impl, call, intf, *op, code);
    failed = code != 0;
    return answer;
  } catch (const std::exception& e) {
    return SOAPFaultEnvelope(e.what());
  } catch (...) {
    return SOAPFaultEnvelope("Unknown exception");
  }
}

}  // namespace

THTTPSoapDispatcher::THTTPSoapDispatcher(TMobileDCTFactory factory, TServiceCounters* counters)
    : FFactory(std::move(factory)), FCounters(counters) {}

TWebResponse THTTPSoapDispatcher::Dispatch(TWebRequest& request) const {
  TWebResponse response;
  response.ContentType = kContentTypeSOAP;
  std::string error;
  const TSoapInterface* intf = ChooseInterface(request, error);
  bool failed = true;
  if (intf == nullptr) {
    response.Status = 500;
    response.Body = SOAPFixedFault(error);
  } else {
    response.Body = Invoke(*intf, FFactory, request.Body, failed);
  }
  if (FCounters != nullptr) FCounters->NoteCall(failed);
  return response;
}

}  // namespace dct
