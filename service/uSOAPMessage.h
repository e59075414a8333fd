// Reading an RPC/encoded SOAP 1.1 request, and writing the answers and faults.
//
// Requests: Envelope, Body and the operation element are found by namespace, whatever their
// prefixes (one namespace may be bound to two prefixes in one message). Parameters are found
// by name; xsi:type is never required; href="#id" multi-reference values are followed, through
// one index of the ids. An envelope with more than kMaxMarkup elements and attributes is
// refused before its tree is built. The body is parsed in place, so a parameter's text is a
// view into the request buffer and the large InputParameters text is never copied. No DTD, no
// entity declarations.
//
// Answers: the envelope declares xsd, xsi and SOAP-ENC, the Body carries the SOAP encoding
// style, and every part has an xsi:type. They are written by appends, never through a DOM.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

#include "service/uSvcIntf.h"

namespace dct {

inline constexpr const char* kSoapEnvelopeNS = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr const char* kSoapEncodingNS = "http://schemas.xmlsoap.org/soap/encoding/";
inline constexpr const char* kXMLSchemaNS = "http://www.w3.org/2001/XMLSchema";
inline constexpr const char* kXMLSchemaInstanceNS = "http://www.w3.org/2001/XMLSchema-instance";

// A call that the SOAP layer cannot decode or perform; the message becomes the faultstring.
class ESOAPFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Namespace resolution over a DOM that knows only qualified names.
std::string_view PrefixOf(std::string_view qname);     // "" when unprefixed
std::string_view LocalNameOf(std::string_view qname);  // after the ":"
// The URI bound to prefix in scope at node ("" asks for the default namespace); empty when
// unbound. "xml" is bound by definition.
std::string_view LookupNamespaceURI(pugi::xml_node node, std::string_view prefix);
// The namespace of an element's own name.
std::string_view NamespaceOf(pugi::xml_node element);

class TSOAPRequest {
 public:
  // Real envelopes nest five deep; anything past this is junk or an attack on a reader.
  static constexpr int kMaxDepth = 64;
  // A chain of href references longer than this is a loop or junk.
  static constexpr int kMaxHrefHops = 16;
  // Elements, attributes and CDATA sections of one envelope: real clients send a few dozen,
  // since the value text travels as one escaped string. Counted before the tree is built,
  // which costs up to two nodes of about 50 bytes each per item, so that an envelope costs
  // at most about a megabyte more than its text whatever it holds.
  static constexpr size_t kMaxMarkup = 10000;

  // Parses body in place. REQUIRES: body outlives this object and is not changed meanwhile.
  // Raises ESOAPFault for text that is not a SOAP 1.1 envelope with an operation in its Body,
  // and for any byte or character reference that well-formed UTF-8 XML cannot hold: a request
  // is refused whole, before any of its text reaches a command.
  explicit TSOAPRequest(std::string& body);
  ~TSOAPRequest();
  TSOAPRequest(const TSOAPRequest&) = delete;
  TSOAPRequest& operator=(const TSOAPRequest&) = delete;

  std::string_view OperationName() const;       // local name of the Body's first element
  std::string_view OperationNamespace() const;  // its namespace, empty when unqualified

  // The character content of the parameter element called name, white space kept exactly as
  // sent; nullopt when it is absent or xsi:nil. Raises ESOAPFault when it holds elements or an unresolvable
  // reference. The view lives as long as this object.
  std::optional<std::string_view> Text(std::string_view name);
  std::string String(std::string_view name);  // "" when absent
  // xsd:boolean ("true", "false", "1", "0", letter case and surrounding blanks ignored);
  // false when absent. Raises ESOAPFault for any other text.
  bool Boolean(std::string_view name);

 private:
  pugi::xml_node Dereference(pugi::xml_node element);
  void IndexIds();  // one walk, at the first reference

  pugi::xml_document FDoc;
  pugi::xml_node FOperation;
  bool FIdsIndexed = false;
  std::unordered_map<std::string_view, pugi::xml_node> FIds;  // id attribute -> element
  std::deque<std::string> FJoined;                            // texts that arrived in several pieces
};

// An answer envelope: BeginResponse, the parts in order, then Finish.
class TSOAPResponseWriter {
 public:
  // A large part grows the answer once, to its exact escaped size (see AppendXMLText).
  TSOAPResponseWriter(const TSoapInterface& intf, std::string_view operation);
  void Boolean(std::string_view name, bool value);
  void Int(std::string_view name, int value);
  void String(std::string_view name, std::string_view value);
  std::string Finish();

 private:
  void Open(std::string_view name, const char* type);
  void Close(std::string_view name);

  std::string FOut;
  std::string FElement;  // qualified name of the response element
};

// Fault for a call that reached the invoker: answer-shaped envelope, faultcode
// SOAP-ENV:Server, the message, an empty faultactor. Sent with status 200.
std::string SOAPFaultEnvelope(std::string_view message);
// Fault for a request whose interface cannot be chosen: the fixed minimal text. Status 500.
std::string SOAPFixedFault(std::string_view message);

}  // namespace dct
