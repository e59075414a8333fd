// THTTPSoapDispatcher: the SOAP endpoint under /soap. It chooses the interface, decodes the
// RPC call, runs it on a new IMobileDCT from the factory (one object per call) and writes
// the answer.
//
// Choosing the interface: a SOAPAction (else HTTP_SOAPACTION) that is neither empty nor
// just '""' loses one leading and one trailing quote and everything from its first "#", and
// must then equal the interface's namespace exactly. Without one, the last path segment
// must equal the interface name, letter case ignored. Failing both: status 500 and the
// fixed fault. Once the interface is chosen, every other failure (a body that cannot be
// decoded, an unknown operation, an exception from the operation) is a status-200 fault.
//
// Every call the dispatcher answers is counted in the counters it is given (if any): failed
// when its ResultCode is not 0 or it is answered with a fault.
//
// In one call: called by TWebModule1; decodes with TSOAPRequest, calls TMobileDCT, answers
// with TSOAPResponseWriter.
#pragma once

#include <functional>
#include <memory>

#include "service/uSvcIntf.h"
#include "service/uWebTypes.h"

namespace dct {

class TServiceCounters;

using TMobileDCTFactory = std::function<std::unique_ptr<IMobileDCT>()>;

class THTTPSoapDispatcher {
 public:
  // REQUIRES: counters, when given, outlive the dispatcher.
  explicit THTTPSoapDispatcher(TMobileDCTFactory factory, TServiceCounters* counters = nullptr);

  // REQUIRES: a POST whose path is under /soap. Parses request.Body in place.
  TWebResponse Dispatch(TWebRequest& request) const;

 private:
  TMobileDCTFactory FFactory;
  TServiceCounters* FCounters;
};

}  // namespace dct
