// TWebModule1: routes one request to the SOAP endpoint, the service description publisher
// or the service information page.
//
//   1. path exactly "/"                  -> the default action (any method)
//   2. POST and path matching /soap*     -> SOAP endpoint
//   3. path matching /wsdl* (any method) -> publisher
//   4. anything else                     -> the default action
// Patterns ignore the letter case; the path is the target without its query. The default
// action answers the service information page, the WS-Inspection document for
// /inspection.wsil, or the status document for /status.json (real service only); an exception escaping it
// becomes status 500 and the "Internal Application Error" page. The module holds no state between requests,
// so one instance may serve any number of threads.
//
// In one call: called by THTTPConnection through the handler THTTPBridge sets; calls
// THTTPSoapDispatcher, the publisher or the information page.
#pragma once

#include <functional>
#include <string>

#include "service/uSOAPDispatcher.h"
#include "service/uWSDLPublish.h"
#include "service/uWebTypes.h"

namespace dct {

class TDeviceContext;

class TWebModule1 {
 public:
  // The real service: a TMobileDCT over Context per call, each call counted in the context's
  // counters, the info page titled after the executable and showing the status.
  // REQUIRES: Context outlives the module.
  explicit TWebModule1(TDeviceContext& Context);
  // For tests: another implementation behind the interface, another program name source.
  TWebModule1(TMobileDCTFactory factory, std::function<std::string()> programName);

  // May parse request.Body in place.
  TWebResponse HandleRequest(TWebRequest& request) const;

 private:
  TWebResponse DefaultHandlerAction(const TWebRequest& request) const;

  THTTPSoapDispatcher FSoapDispatcher;
  TWSDLHTMLPublish FWSDLPublish;
};

}  // namespace dct
