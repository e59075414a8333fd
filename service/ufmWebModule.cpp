#include "service/ufmWebModule.h"

#include <exception>
#include <memory>
#include <optional>
#include <utility>

#include "device/uDeviceContext.h"
#include "service/uSvcImpl.h"
#include "service/uXMLEscape.h"
#include "support/uCommonUtils.h"

namespace dct {
namespace {

std::string ExecutableTitle() { return ProgramFileTitle(GetModuleFilePath()); }

TWebResponse InternalErrorPage(std::string_view message, std::string_view path) {
  TWebResponse response;
  response.Status = 500;
  response.ContentType = kContentTypeHTML;
  response.Body =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
      "<title>Internal Application Error</title></head><body>"
      "<h1>Internal Application Error</h1><p>" +
      HTMLEscape(message) + "</p><hr><i>" + HTMLEscape(path) + "</i></body></html>\n";
  return response;
}

}  // namespace

TWebModule1::TWebModule1(TDeviceContext& Context)
    : FSoapDispatcher([&Context] { return std::make_unique<TMobileDCT>(Context); }, &Context.Counters()),
      FWSDLPublish(ExecutableTitle, [&Context](const TWebRequest& request) {
        return ReadServiceStatus(Context, ExecutableTitle(), request.LocalPort);
      }) {}

TWebModule1::TWebModule1(TMobileDCTFactory factory, std::function<std::string()> programName)
    : FSoapDispatcher(std::move(factory)), FWSDLPublish(std::move(programName)) {}

TWebResponse TWebModule1::HandleRequest(TWebRequest& request) const {
  const std::string_view path = request.Path();
  if (path != "/") {
    if (request.Method == "POST" && StartsWithTextASCII(path, "/soap")) {
      return FSoapDispatcher.Dispatch(request);
    }
    if (StartsWithTextASCII(path, "/wsdl")) return FWSDLPublish.Publish(request);
  }
  return DefaultHandlerAction(request);
}

TWebResponse TWebModule1::DefaultHandlerAction(const TWebRequest& request) const {
  try {
    if (SameTextASCII(request.Path(), "/inspection.wsil")) {
      return FWSDLPublish.Inspection(request);
    }
    if (SameTextASCII(request.Path(), "/status.json")) {
      if (std::optional<TWebResponse> status = FWSDLPublish.StatusDocument(request))
        return std::move(*status);
    }
    return FWSDLPublish.InfoPage(request);
  } catch (const std::exception& e) {
    return InternalErrorPage(e.what(), request.Path());
  } catch (...) {
    return InternalErrorPage("Unknown exception", request.Path());
  }
}

}  // namespace dct
