#include "host/ServiceClient.h"

#include <pugixml.hpp>
#include <utility>

#include "service/uSOAPMessage.h"
#include "service/uSvcIntf.h"
#include "service/uXMLEscape.h"
#include "values/uXMLEncoder.h"

namespace dct {

namespace {

constexpr char kStatusPath[] = "/status.json";

const TSoapOperation& ExecuteCommandOperation() {
  return *MobileDCTInterface().FindOperation("ExecuteCommand");
}

// The first element child of node with this local name in namespace ns ("" for none).
pugi::xml_node Child(pugi::xml_node node, std::string_view local, std::string_view ns) {
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element && LocalNameOf(c.name()) == local && NamespaceOf(c) == ns) return c;
  }
  return {};
}

std::string Trimmed(const char* text) {
  std::string s = text;
  const size_t b = s.find_first_not_of(" \t\r\n");
  const size_t e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

}  // namespace

std::chrono::milliseconds CallTimeoutFor(uint64_t RequestBytes) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(kClientCallTimeout) +
         std::chrono::milliseconds(RequestBytes * 1000 / kClientBytesPerSecond);
}

std::string ExecuteCommandEnvelope(const std::string& DeviceID, const std::string& CommandName,
                                   std::string_view InputParameters) {
  const TSoapInterface& intf = MobileDCTInterface();
  std::string out;
  out.reserve(1024 + EscapedXMLTextSize(InputParameters));
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  out += "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"";
  out += kSoapEnvelopeNS;
  out += "\" xmlns:xsd=\"";
  out += kXMLSchemaNS;
  out += "\" xmlns:xsi=\"";
  out += kXMLSchemaInstanceNS;
  out += "\"><SOAP-ENV:Body SOAP-ENV:encodingStyle=\"";
  out += kSoapEncodingNS;
  out += "\"><NS1:ExecuteCommand xmlns:NS1=\"";
  AppendXMLAttr(out, intf.Namespace);
  out += "\"><DeviceID xsi:type=\"xsd:string\">";
  AppendXMLText(out, DeviceID);
  out += "</DeviceID><CommandName xsi:type=\"xsd:string\">";
  AppendXMLText(out, CommandName);
  out += "</CommandName><InputParameters xsi:type=\"xsd:string\">";
  AppendXMLText(out, InputParameters);
  out += "</InputParameters></NS1:ExecuteCommand></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  return out;
}

TCommandAnswer ParseExecuteCommandAnswer(int HTTPStatus, const std::string& Body) {
  pugi::xml_document doc;
  // No DOCTYPE is kept and pugixml declares or expands no entity; CR arrives as &#13;.
  const pugi::xml_parse_result parsed = doc.load_buffer(Body.data(), Body.size(), pugi::parse_default);
  pugi::xml_node envelope = parsed ? doc.document_element() : pugi::xml_node();
  pugi::xml_node body;
  if (envelope && LocalNameOf(envelope.name()) == "Envelope" && NamespaceOf(envelope) == kSoapEnvelopeNS)
    body = Child(envelope, "Body", kSoapEnvelopeNS);
  if (!body) {
    if (HTTPStatus != 200)
      throw std::runtime_error("the service answered HTTP status " + std::to_string(HTTPStatus));
    throw std::runtime_error(parsed
                                 ? "the answer is not a SOAP envelope"
                                 : std::string("the answer is not well-formed XML: ") + parsed.description());
  }
  if (pugi::xml_node fault = Child(body, "Fault", kSoapEnvelopeNS)) {
    throw std::runtime_error("the service answered a SOAP fault: " +
                             Trimmed(fault.child_value("faultstring")));
  }
  if (HTTPStatus != 200)
    throw std::runtime_error("the service answered HTTP status " + std::to_string(HTTPStatus));
  const pugi::xml_node response = Child(body, "ExecuteCommandResponse", MobileDCTInterface().Namespace);
  const pugi::xml_node code = response ? Child(response, "ResultCode", "") : pugi::xml_node();
  const std::string codeText = code ? Trimmed(code.child_value()) : std::string();
  if (codeText.empty() || codeText.find_first_not_of("-0123456789") != std::string::npos ||
      codeText.size() > 10)
    throw std::runtime_error("the answer is not an ExecuteCommand answer with a result code");
  TCommandAnswer answer;
  answer.ResultCode = std::stoi(codeText);
  answer.ResultDescription = Child(response, "ResultDescription", "").child_value();
  if (answer.ResultCode == 0) answer.OutputParameters = Child(response, "OutputParameters", "").child_value();
  return answer;
}

bool ServiceAddress(const THostOptions& Options, TStatusAddress& Address, std::string& Error) {
  if (!StatusAddress(Options, Address, Error)) return false;
  if (Address.Target != kStatusPath) {
    Error = "the service URL names a path (\"" + Address.Target + "\"); give http://host[:port]/ only";
    return false;
  }
  return true;
}

TJSONValue TServiceClient::ReadStatus() {
  TStatusAddress status = FAddress;
  status.Target = kStatusPath;
  const std::string body =
      FetchStatus(status, std::chrono::duration_cast<std::chrono::milliseconds>(kStatusTimeout));
  try {
    return TJSONValue::Parse(body);
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("the status page is not a status document: ") + e.what());
  }
}

std::string TServiceClient::EnabledDeviceID() { return EnabledDeviceID(ReadStatus()); }

std::string TServiceClient::EnabledDeviceID(const TJSONValue& Status) {
  const TJSONValue& device = Status["device"];
  if (device.IsNull()) throw std::runtime_error("the service runs no device");
  const std::string id = device["id"].AsString();
  if (!device["enabled"].AsBoolean())
    throw std::runtime_error("the service's device \"" + id + "\" is not enabled");
  return id;
}

TCommandAnswer TServiceClient::ExecuteCommand(const std::string& DeviceID, const std::string& CommandName,
                                              const Variant& Input) {
  TXMLEncoder encoder;
  const std::string text = encoder.Encode(Input);
  return ExecuteCommandText(DeviceID, CommandName, text, CallTimeoutFor(text.size()));
}

TCommandAnswer TServiceClient::ExecuteCommandText(const std::string& DeviceID, const std::string& CommandName,
                                                  std::string_view InputParameters,
                                                  std::chrono::milliseconds Timeout) {
  return Call(ExecuteCommandEnvelope(DeviceID, CommandName, InputParameters), Timeout);
}

TCommandAnswer TServiceClient::Call(std::string Envelope, std::chrono::milliseconds Timeout) {
  THTTPCall call;
  call.Method = "POST";
  call.Target = kSoapPath;
  std::string action(1, '"');  // quoted, as SOAP 1.1 writes it
  action += MobileDCTInterface().SoapAction(ExecuteCommandOperation());
  action += '"';
  call.Headers = {{"Content-Type", "text/xml; charset=utf-8"}, {"SOAPAction", std::move(action)}};
  call.Body = std::move(Envelope);
  call.MaxAnswerBytes = kMaxAnswerBytes;
  const THTTPAnswer answer = HTTPExchange(FAddress, std::move(call), Timeout);
  return ParseExecuteCommandAnswer(answer.Status, answer.Body);
}

std::string TServiceClient::EndpointText() const {
  TStatusAddress soap = FAddress;
  soap.Target = kSoapPath;
  return AddressText(soap);
}

}  // namespace dct
