// Fuzz target: the SOAP request decoder (TSOAPRequest) and the SOAP endpoint over the real
// service.
//
// An input is one request body or several, separated by kSeparator, which run in order on a
// device put back as it started (a setting sent by one call shows in the next one's answer).
// Each body is first decoded alone, every parameter the operations read asked for in every
// form, then dispatched; every answer must be a well-formed envelope whose value text reads.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "service/uSOAPDispatcher.h"
#include "service/uSOAPMessage.h"
#include "values/uUTF8.h"

namespace dct::fuzz {
namespace {

// Between the bodies of one input; no XML text holds it.
constexpr std::string_view kSeparator = "\n%%next%%\n";
// Calls per input: a sequence needs two or three (settings then a command, a write then
// reads); more would only slow every input down.
constexpr int kMaxCalls = 3;

// Every parameter name the operations read.
constexpr std::string_view kParameters[] = {
    "DeviceID", "CommandName", "InputParameters", "AutoClearDocs", "AutoClearItems", "AppVersion", "AppName"};

void DecodeAlone(std::string_view body) {
  std::string text(body);
  std::optional<TSOAPRequest> call;
  try {
    call.emplace(text);
  } catch (const ESOAPFault&) {
    return;
  }
  DCT_FUZZ_CHECK(IsXMLChars(call->OperationName()), call->OperationName());
  DCT_FUZZ_CHECK(IsXMLChars(call->OperationNamespace()), call->OperationNamespace());
  for (std::string_view name : kParameters) {
    try {
      const std::optional<std::string_view> value = call->Text(name);
      // A request is refused whole when any of its text is not XML characters.
      if (value) DCT_FUZZ_CHECK(IsXMLChars(*value), *value);
      DCT_FUZZ_CHECK(call->String(name) == value.value_or(std::string_view()), name);
      call->Boolean(name);
    } catch (const ESOAPFault&) {
    }
  }
}

void Dispatch(std::string_view body) {
  static const THTTPSoapDispatcher dispatcher([] { return TFuzzService::Instance().NewMobileDCT(); });
  TWebRequest request;
  request.Method = "POST";
  request.Target = "/soap/IMobileDCT";
  request.Body = std::string(body);
  const TWebResponse answer = dispatcher.Dispatch(request);
  DCT_FUZZ_CHECK(answer.Status == 200, answer.Body);  // the path chose the interface
  CheckSOAPAnswer(answer);
}

}  // namespace
}  // namespace dct::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dct::fuzz;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  TFuzzService::Instance().Reset();
  for (int call = 0; call < kMaxCalls; ++call) {
    const size_t end = input.find(kSeparator);
    const std::string_view body = input.substr(0, end);
    DecodeAlone(body);
    Dispatch(body);
    if (end == std::string_view::npos) break;
    input.remove_prefix(end + kSeparator.size());
  }
  return 0;
}
