// A request as the web module sees it, and the answer it gives: the few headers that
// routing, SOAP and the service description read, and a body the SOAP reader parses in
// place. The HTTP listener fills these from the wire and writes the answer back; keeping
// HTTP library types out of here lets routing and SOAP be tested without sockets.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dct {

inline constexpr const char* kContentTypeSOAP = "text/xml; charset=\"utf-8\"";
inline constexpr const char* kContentTypeHTML = "text/html; charset=\"utf-8\"";
inline constexpr const char* kContentTypeWSDL = "text/xml";
inline constexpr const char* kContentTypeText = "text/plain; charset=\"utf-8\"";
inline constexpr const char* kContentTypeJSON = "application/json";

struct TWebRequest {
  std::string Method;          // as received, e.g. "POST"
  std::string Target;          // request target: path and query
  std::string Host;            // Host header; empty when absent
  std::string SOAPAction;      // "SOAPAction" header (any letter case)
  std::string HTTPSoapAction;  // "HTTP_SOAPACTION" header, read when SOAPAction is empty
  std::string Body;            // the SOAP reader parses it in place and may change it
  std::string LocalAddress;    // address the connection arrived on, for URLs without Host
  uint16_t LocalPort = 0;      // port the connection arrived on

  // Target up to the first "?" or "#".
  std::string_view Path() const;
  // Target after the first "?", up to "#"; empty when there is none.
  std::string_view Query() const;
};

struct TWebResponse {
  int Status = 200;
  std::string ContentType;
  std::string Body;
};

// "a=1&b=x%20y": the value of the first field named name (exact), percent- and
// "+"-decoded; empty when absent.
std::string QueryField(std::string_view query, std::string_view name);

// ASCII letters compared without case.
bool SameTextASCII(std::string_view a, std::string_view b);
bool StartsWithTextASCII(std::string_view text, std::string_view prefix);

}  // namespace dct
