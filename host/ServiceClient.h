// The program as a SOAP client of the running service: IMobileDCT's ExecuteCommand, called as
// the accounting side calls it, and the device the service runs, read from /status.json.
// The operator's commands that load or read the buffer go through here, so that they take the
// same locks and checks as every other client.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "host/CommandLine.h"
#include "host/StatusClient.h"
#include "values/Variant.h"

namespace dct {

// The path the service answers SOAP calls on.
constexpr char kSoapPath[] = "/soap/IMobileDCT";
// A call that moves little (the status, a document list, one document) gets this long: far
// above what the service needs, short enough that an operator is not left waiting on a peer
// that accepted and went silent.
constexpr std::chrono::seconds kClientCallTimeout{60};
// A large request gets one more second for every this many bytes it carries. The listener
// cuts a client that sends slower than 256 KiB/s after a minute, so this leaves the service
// as long again to store what it received: a 100,000-item catalogue (about 30 MB) gets some
// four minutes, and a load over a slow link still ends in a clear timeout, never a hang.
constexpr uint64_t kClientBytesPerSecond = 128u << 10;
// Answers above this are refused; the largest the service sends is a document list or a
// catalogue, which its own request limit keeps below this too.
constexpr uint64_t kMaxAnswerBytes = 512ull << 20;

// The service's answer to one ExecuteCommand.
struct TCommandAnswer {
  int ResultCode = 0;
  std::string ResultDescription;
  std::string OutputParameters;  // the value text; empty unless ResultCode is 0
};

// The request envelope of ExecuteCommand, with InputParameters as value text.
std::string ExecuteCommandEnvelope(const std::string& DeviceID, const std::string& CommandName,
                                   std::string_view InputParameters);
// Reads an answer body. Raises std::runtime_error for a SOAP fault (with its faultstring),
// for text that is not an ExecuteCommand answer, and, when the body is neither, for an HTTP
// status other than 200.
TCommandAnswer ParseExecuteCommandAnswer(int HTTPStatus, const std::string& Body);

// The service's address from --url or --port. A URL may name no path but "/" or the status
// page, since both the status and the SOAP endpoint are at fixed paths.
bool ServiceAddress(const THostOptions& Options, TStatusAddress& Address, std::string& Error);

class TServiceClient {
 public:
  explicit TServiceClient(TStatusAddress Address) : FAddress(std::move(Address)) {}

  // The identifier of the service's device, read from /status.json. Raises
  // std::runtime_error when the service runs no device or its device is not enabled.
  std::string EnabledDeviceID();
  // The same from a status document already read.
  static std::string EnabledDeviceID(const TJSONValue& Status);
  // The status document.
  TJSONValue ReadStatus();

  // One ExecuteCommand with Input encoded as value text. Raises std::runtime_error when the
  // call fails as a call (no connection, timeout, HTTP error, SOAP fault); a result code
  // other than 0 is an answer, not an exception.
  TCommandAnswer ExecuteCommand(const std::string& DeviceID, const std::string& CommandName,
                                const Variant& Input);
  // The same with the value text already made; Timeout bounds the whole exchange.
  TCommandAnswer ExecuteCommandText(const std::string& DeviceID, const std::string& CommandName,
                                    std::string_view InputParameters, std::chrono::milliseconds Timeout);

  // One call with its whole request envelope made (ExecuteCommandEnvelope), for a caller
  // that checks the request's size before it sends it.
  TCommandAnswer Call(std::string Envelope, std::chrono::milliseconds Timeout);

  // Where the SOAP calls go, for messages.
  std::string EndpointText() const;

 private:
  TStatusAddress FAddress;
};

// The deadline for a request of so many bytes (see kClientBytesPerSecond).
std::chrono::milliseconds CallTimeoutFor(uint64_t RequestBytes);

}  // namespace dct
