#include "service/uSOAPMessage.h"

#include <cstdint>
#include <cstring>

#include "service/uWebTypes.h"
#include "service/uXMLEscape.h"
#include "values/uUTF8.h"

namespace dct {
namespace {

// Standard XML reading: escapes resolved, CR LF and CR made LF, CDATA kept; the DOCTYPE
// is kept only so that its presence can be refused. Text that is only white space is kept,
// so a part of blanks reads as those blanks.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                                   pugi::parse_wconv_attribute | pugi::parse_doctype | pugi::parse_ws_pcdata;

// The instance namespaces of the three XML Schema drafts clients still use.
bool IsSchemaInstanceNS(std::string_view uri) {
  return uri == kXMLSchemaInstanceNS || uri == "http://www.w3.org/2000/10/XMLSchema-instance" ||
         uri == "http://www.w3.org/1999/XMLSchema-instance";
}

std::string_view View(const char* text) { return std::string_view(text, std::strlen(text)); }

pugi::xml_node FirstChildElement(pugi::xml_node node) {
  for (pugi::xml_node child : node.children()) {
    if (child.type() == pugi::node_element) return child;
  }
  return {};
}

bool IsNil(pugi::xml_node element) {
  for (pugi::xml_attribute a : element.attributes()) {
    const std::string_view name = View(a.name());
    if (LocalNameOf(name) != "nil" || PrefixOf(name).empty()) continue;
    if (!IsSchemaInstanceNS(LookupNamespaceURI(element, PrefixOf(name)))) continue;
    const std::string_view value = TrimXMLSpace(View(a.value()));
    return value == "true" || value == "1";
  }
  return false;
}

// Depth of the deepest node, stopping as soon as the limit is passed. pugixml walks
// without recursion, so the check itself cannot exhaust the stack.
class TDepthLimit : public pugi::xml_tree_walker {
 public:
  explicit TDepthLimit(int limit) : FLimit(limit) {}
  bool for_each(pugi::xml_node&) override { return depth() < FLimit; }

 private:
  int FLimit;
};

// The offset of the first character reference ("&#65;", "&#x41;") in text that stands for a
// character XML does not allow, npos when there is none. pugixml decodes any code point (even
// 0, which would cut the text short), so they are found before it reads the request: the
// same text in CDATA or a comment is refused too, which no client writes.
size_t BadCharacterReference(std::string_view text) {
  // Found by their '#', which is rare in a request; '&' is in every escaped value text.
  for (size_t hash = text.find('#', 1); hash != std::string_view::npos; hash = text.find('#', hash + 1)) {
    uint32_t code;
    if (text[hash - 1] == '&' && CharacterReference(text.substr(hash - 1), code) != 0 && !IsXMLChar(code))
      return hash - 1;
  }
  return std::string_view::npos;
}

// Start tags, attributes and CDATA sections in text, counted up to just past limit: each one
// costs the parser a node, and so may the text between two of them. The scan skips what no
// node comes of (end tags, comments, processing instructions) and the inside of quoted
// attribute values; it costs a memchr over the large escaped value text, which holds no '<'.
size_t CountMarkup(std::string_view text, size_t limit) {
  size_t count = 0;
  size_t at = text.find('<');
  while (at != std::string_view::npos && count <= limit) {
    const std::string_view rest = text.substr(at);
    size_t next;
    if (rest.starts_with("<![CDATA[")) {
      ++count;
      next = text.find("]]>", at + 9);
    } else if (rest.starts_with("<!--")) {
      next = text.find("-->", at + 4);
    } else if (rest.starts_with("<?")) {
      next = text.find("?>", at + 2);
    } else if (rest.starts_with("</") || rest.starts_with("<!")) {
      next = text.find('>', at);
    } else {
      ++count;
      char quote = 0;
      for (next = at + 1; next < text.size(); ++next) {
        const char c = text[next];
        if (quote != 0) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '=') {
          ++count;
        } else if (c == '>') {
          break;
        }
      }
    }
    if (next == std::string_view::npos || next >= text.size()) break;  // unclosed: the parser refuses it
    at = text.find('<', next + 1);
  }
  return count;
}

const char* const kEnvelopeOpen =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
    " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
    " xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">"
    "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">";
const char* const kEnvelopeClose = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

}  // namespace

// ---------------------------------------------------------------------------------------
// Namespaces.

std::string_view PrefixOf(std::string_view qname) {
  const size_t colon = qname.find(':');
  return colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
}

std::string_view LocalNameOf(std::string_view qname) {
  const size_t colon = qname.find(':');
  return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

std::string_view LookupNamespaceURI(pugi::xml_node node, std::string_view prefix) {
  if (prefix == "xml") return "http://www.w3.org/XML/1998/namespace";
  for (; node; node = node.parent()) {
    if (node.type() != pugi::node_element) continue;
    for (pugi::xml_attribute a : node.attributes()) {
      const std::string_view name = View(a.name());
      const bool match = prefix.empty() ? name == "xmlns"
                                        : name.size() == prefix.size() + 6 && name.substr(0, 6) == "xmlns:" &&
                                              name.substr(6) == prefix;
      if (match) return View(a.value());
    }
  }
  return {};
}

std::string_view NamespaceOf(pugi::xml_node element) {
  return LookupNamespaceURI(element, PrefixOf(View(element.name())));
}

// ---------------------------------------------------------------------------------------
// Reading a request.

TSOAPRequest::TSOAPRequest(std::string& body) {
  // The binding speaks UTF-8 only; a byte that is not part of it is refused before parsing,
  // so that nothing of such a request reaches a command or comes back in an answer.
  const size_t good = XMLCharsPrefix(body);
  if (good != body.size()) {
    throw ESOAPFault(
        "The SOAP request is not well-formed UTF-8 XML text: a byte sequence or "
        "character that XML does not allow at offset " +
        std::to_string(good));
  }
  if (CountMarkup(body, kMaxMarkup) > kMaxMarkup) {
    throw ESOAPFault("The SOAP request holds more than " + std::to_string(kMaxMarkup) +
                     " elements and attributes");
  }
  const size_t badReference = BadCharacterReference(body);
  if (badReference != std::string_view::npos) {
    throw ESOAPFault("The SOAP request refers to a character that XML does not allow at offset " +
                     std::to_string(badReference));
  }
  const pugi::xml_parse_result parsed =
      FDoc.load_buffer_inplace(body.data(), body.size(), kParseOptions, pugi::encoding_utf8);
  if (!parsed) {
    throw ESOAPFault(std::string("The SOAP request is not well-formed XML: ") + parsed.description() +
                     " at offset " + std::to_string(parsed.offset));
  }
  for (pugi::xml_node child : FDoc.children()) {
    if (child.type() == pugi::node_doctype) {
      throw ESOAPFault("The SOAP request must not contain a document type declaration");
    }
  }
  TDepthLimit depth(kMaxDepth);
  if (!FDoc.traverse(depth)) {
    throw ESOAPFault("The SOAP request nests elements deeper than " + std::to_string(kMaxDepth) + " levels");
  }

  const pugi::xml_node envelope = FDoc.document_element();
  if (LocalNameOf(View(envelope.name())) != "Envelope" || NamespaceOf(envelope) != kSoapEnvelopeNS) {
    throw ESOAPFault("The request is not a SOAP 1.1 envelope");
  }
  pugi::xml_node soapBody;
  for (pugi::xml_node child : envelope.children()) {
    if (child.type() == pugi::node_element && LocalNameOf(View(child.name())) == "Body" &&
        NamespaceOf(child) == kSoapEnvelopeNS) {
      soapBody = child;
      break;
    }
  }
  if (!soapBody) throw ESOAPFault("The SOAP envelope has no Body");
  FOperation = FirstChildElement(soapBody);
  if (!FOperation) throw ESOAPFault("The SOAP Body names no operation");
}

TSOAPRequest::~TSOAPRequest() = default;

std::string_view TSOAPRequest::OperationName() const { return LocalNameOf(View(FOperation.name())); }

std::string_view TSOAPRequest::OperationNamespace() const { return NamespaceOf(FOperation); }

pugi::xml_node TSOAPRequest::Dereference(pugi::xml_node element) {
  for (int hops = 0;; ++hops) {
    const pugi::xml_attribute href = element.attribute("href");
    if (!href) return element;
    if (hops == kMaxHrefHops) throw ESOAPFault("Too many nested multi-reference values");
    const std::string_view ref = View(href.value());
    if (ref.empty() || ref[0] != '#') {
      throw ESOAPFault("Unsupported reference '" + std::string(ref) + "'");
    }
    if (!FIdsIndexed) IndexIds();
    const auto target = FIds.find(ref.substr(1));
    if (target == FIds.end()) throw ESOAPFault("Unresolved reference '" + std::string(ref) + "'");
    element = target->second;
  }
}

void TSOAPRequest::IndexIds() {
  FIdsIndexed = true;
  for (pugi::xml_node n = FDoc.first_child(); n;) {
    if (n.type() == pugi::node_element) {
      if (const pugi::xml_attribute id = n.attribute("id"))
        FIds.try_emplace(View(id.value()), n);  // the first wins
    }
    // Document order without recursion.
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n && !n.next_sibling()) n = n.parent();
    if (n) n = n.next_sibling();
  }
}

std::optional<std::string_view> TSOAPRequest::Text(std::string_view name) {
  pugi::xml_node param;
  for (pugi::xml_node child : FOperation.children()) {
    if (child.type() == pugi::node_element && LocalNameOf(View(child.name())) == name) {
      param = child;
      break;
    }
  }
  if (!param) return std::nullopt;
  param = Dereference(param);
  if (IsNil(param)) return std::nullopt;

  std::string_view single;
  int pieces = 0;
  for (pugi::xml_node child : param.children()) {
    const pugi::xml_node_type type = child.type();
    if (type == pugi::node_pcdata || type == pugi::node_cdata) {
      if (pieces++ == 0) single = View(child.value());
    } else if (type == pugi::node_element) {
      throw ESOAPFault("Parameter '" + std::string(name) + "' holds elements, not text");
    }
  }
  if (pieces <= 1) return single;
  std::string& joined = FJoined.emplace_back();
  for (pugi::xml_node child : param.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      joined += child.value();
    }
  }
  return std::string_view(joined);
}

std::string TSOAPRequest::String(std::string_view name) {
  const std::optional<std::string_view> text = Text(name);
  return text ? std::string(*text) : std::string();
}

bool TSOAPRequest::Boolean(std::string_view name) {
  const std::optional<std::string_view> text = Text(name);
  if (!text) return false;
  const std::string_view value = TrimXMLSpace(*text);
  if (SameTextASCII(value, "true") || value == "1") return true;
  if (SameTextASCII(value, "false") || value == "0") return false;
  throw ESOAPFault("'" + std::string(value) + "' is not a valid Boolean value for parameter '" +
                   std::string(name) + "'");
}

// ---------------------------------------------------------------------------------------
// Writing answers.

TSOAPResponseWriter::TSOAPResponseWriter(const TSoapInterface& intf, std::string_view operation) {
  FElement = "NS1:";
  FElement.append(operation);
  FElement += "Response";
  FOut.reserve(1024);
  FOut += kEnvelopeOpen;
  FOut += '<';
  FOut += FElement;
  FOut += " xmlns:NS1=\"";
  AppendXMLAttr(FOut, intf.Namespace);
  FOut += "\">";
}

void TSOAPResponseWriter::Open(std::string_view name, const char* type) {
  FOut += '<';
  FOut.append(name);
  FOut += " xsi:type=\"xsd:";
  FOut += type;
  FOut += "\">";
}

void TSOAPResponseWriter::Close(std::string_view name) {
  FOut += "</";
  FOut.append(name);
  FOut += '>';
}

void TSOAPResponseWriter::Boolean(std::string_view name, bool value) {
  Open(name, "boolean");
  FOut += value ? "true" : "false";
  Close(name);
}

void TSOAPResponseWriter::Int(std::string_view name, int value) {
  Open(name, "int");
  FOut += std::to_string(value);
  Close(name);
}

void TSOAPResponseWriter::String(std::string_view name, std::string_view value) {
  Open(name, "string");
  AppendXMLText(FOut, value);
  Close(name);
}

std::string TSOAPResponseWriter::Finish() {
  FOut += "</";
  FOut += FElement;
  FOut += '>';
  FOut += kEnvelopeClose;
  return std::move(FOut);
}

std::string SOAPFaultEnvelope(std::string_view message) {
  std::string out = kEnvelopeOpen;
  out += "<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode><faultstring>";
  AppendXMLText(out, message);
  out += "</faultstring><faultactor/></SOAP-ENV:Fault>";
  out += kEnvelopeClose;
  return out;
}

std::string SOAPFixedFault(std::string_view message) {
  std::string out =
      "<?xml version=\"1.0\" encoding='UTF-8'?>"
      "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
      "<SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode><faultstring>";
  AppendXMLText(out, message);
  out += "</faultstring></SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  return out;
}

}  // namespace dct
