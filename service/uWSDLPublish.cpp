#include "service/uWSDLPublish.h"

#include <utility>

#include "service/uSOAPMessage.h"
#include "service/uXMLEscape.h"
#include "support/uCommonUtils.h"

namespace dct {
namespace {

const char* const kPageStyle =
    "body{font-family:sans-serif;margin:2em;color:#222}"
    "h1{font-size:1.5em}h2{font-size:1.2em;margin-top:1.5em}"
    "table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:.3em .6em;"
    "text-align:left;vertical-align:top}th{background:#eee}code{font-size:1.05em}";

std::string PageStart(std::string_view title, std::string_view heading) {
  std::string out = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>";
  out += HTMLEscape(title);
  out += "</title><style>";
  out += kPageStyle;
  out += "</style></head><body><h1>";
  out += HTMLEscape(heading);
  out += "</h1>";
  return out;
}

const char* const kPageEnd = "</body></html>\n";

TWebResponse HTMLResponse(int status, std::string body) {
  TWebResponse response;
  response.Status = status;
  response.ContentType = kContentTypeHTML;
  response.Body = std::move(body);
  return response;
}

// One line per parameter, "return" included, for the detailed view of an interface.
void AppendOperationTable(std::string& out, const TSoapInterface& intf) {
  out +=
      "<table><tr><th>Operation</th><th>SOAPAction</th><th>Parameters</th>"
      "<th>Returns</th></tr>";
  for (const TSoapOperation& op : intf.Operations) {
    out += "<tr><td>" + HTMLEscape(op.Name) + "</td><td><code>" + HTMLEscape(intf.SoapAction(op)) +
           "</code></td><td>";
    for (const TSoapParam& p : op.In) {
      out += "in <code>" + HTMLEscape(p.Name) + "</code>: xsd:" + SoapTypeName(p.Type) + "<br>";
    }
    for (const TSoapParam& p : op.Out) {
      out += "out <code>" + HTMLEscape(p.Name) + "</code>: xsd:" + SoapTypeName(p.Type) + "<br>";
    }
    out += "</td><td>xsd:boolean</td></tr>";
  }
  out += "</table>";
}

void AppendInterfaceSummary(std::string& out, const TSoapInterface& intf) {
  out += "<h2>" + HTMLEscape(intf.Name) + "</h2><p><a href=\"/wsdl/" + HTMLEscape(intf.Name) +
         "\">WSDL</a> &middot; <a href=\"/?intf=" + HTMLEscape(intf.Name) + "\">details</a></p><ul>";
  for (const TSoapOperation& op : intf.Operations) out += "<li>" + HTMLEscape(op.Name) + "</li>";
  out += "</ul>";
}

void AppendPart(std::string& out, const TSoapParam& p) {
  out += "<part name=\"";
  out += p.Name;
  out += "\" type=\"xs:";
  out += SoapTypeName(p.Type);
  out += "\"/>";
}

void AppendSoapBody(std::string& out, const TSoapInterface& intf) {
  out += "<soap:body use=\"encoded\" encodingStyle=\"";
  out += kSoapEncodingNS;
  out += "\" namespace=\"";
  AppendXMLAttr(out, intf.Namespace);
  out += "\"/>";
}

}  // namespace

std::string ProgramFileTitle(std::string_view path) {
  const size_t folderEnd = path.find_last_of(kPathDelimiters);
  if (folderEnd != std::string_view::npos) path = path.substr(folderEnd + 1);
  const size_t dot = path.rfind('.');
  if (dot != std::string_view::npos && dot > 0) path = path.substr(0, dot);
  return std::string(path);
}

TWSDLHTMLPublish::TWSDLHTMLPublish(std::function<std::string()> programName, TStatusSource status)
    : FProgramName(std::move(programName)), FStatus(std::move(status)) {}

std::string TWSDLHTMLPublish::BaseURL(const TWebRequest& request) {
  std::string host = request.Host;
  if (host.empty()) host = request.LocalAddress;
  // "[::1]" carries no port; "[::1]:80" and "name:80" do.
  const size_t bracket = host.rfind(']');
  const size_t colon = host.rfind(':');
  const bool hasPort = colon != std::string::npos && (bracket == std::string::npos || colon > bracket);
  std::string url = "http://";
  url += host;
  if (!hasPort && request.LocalPort != 80) {
    url += ':';
    url += std::to_string(request.LocalPort);
  }
  return url;
}

std::string TWSDLHTMLPublish::WSDL(const TSoapInterface& intf, std::string_view baseURL) {
  const std::string name = intf.Name;
  std::string out;
  out.reserve(4096);
  out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  out +=
      "<definitions xmlns=\"http://schemas.xmlsoap.org/wsdl/\""
      " xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" name=\"" +
      name +
      "service\""
      " targetNamespace=\"" +
      kTargetNamespace + "\" xmlns:tns=\"" + kTargetNamespace +
      "\""
      " xmlns:soap=\"http://schemas.xmlsoap.org/wsdl/soap/\""
      " xmlns:soapenc=\"http://schemas.xmlsoap.org/soap/encoding/\">\n";
  for (size_t i = 0; i < intf.Operations.size(); ++i) {
    const TSoapOperation& op = intf.Operations[i];
    const std::string message = op.Name + std::to_string(i);
    out += "  <message name=\"" + message + "Request\">";
    for (const TSoapParam& p : op.In) AppendPart(out, p);
    out += "</message>\n  <message name=\"" + message + "Response\">";
    AppendPart(out, {"return", TSoapType::Boolean});
    for (const TSoapParam& p : op.Out) AppendPart(out, p);
    out += "</message>\n";
  }
  out += "  <portType name=\"" + name + "\">\n";
  for (size_t i = 0; i < intf.Operations.size(); ++i) {
    const TSoapOperation& op = intf.Operations[i];
    const std::string message = op.Name + std::to_string(i);
    out += "    <operation name=\"" + std::string(op.Name) + "\"><input message=\"tns:" + message +
           "Request\"/><output message=\"tns:" + message + "Response\"/></operation>\n";
  }
  out += "  </portType>\n";
  out += "  <binding name=\"" + name + "binding\" type=\"tns:" + name + "\">\n";
  out += "    <soap:binding style=\"rpc\" transport=\"http://schemas.xmlsoap.org/soap/http\"/>\n";
  for (const TSoapOperation& op : intf.Operations) {
    out += "    <operation name=\"" + std::string(op.Name) + "\"><soap:operation soapAction=\"";
    AppendXMLAttr(out, intf.SoapAction(op));
    out += "\" style=\"rpc\"/><input>";
    AppendSoapBody(out, intf);
    out += "</input><output>";
    AppendSoapBody(out, intf);
    out += "</output></operation>\n";
  }
  out += "  </binding>\n";
  out += "  <service name=\"" + name + "service\"><port name=\"" + name + "Port\" binding=\"tns:" + name +
         "binding\"><soap:address location=\"";
  AppendXMLAttr(out, std::string(baseURL) + "/soap/" + name);
  out += "\"/></port></service>\n</definitions>\n";
  return out;
}

TWebResponse TWSDLHTMLPublish::Publish(const TWebRequest& request) const {
  std::string_view rest = request.Path().substr(5);  // after "/wsdl"
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  const TSoapInterface& intf = MobileDCTInterface();

  if (rest.empty() || rest.front() != '/') {
    std::string page = PageStart("WebService Listing", "WebService Listing");
    page +=
        "<table><tr><th>Port type</th><th>Namespace</th><th>Operations</th><th>WSDL</th></tr>"
        "<tr><td>" +
        HTMLEscape(intf.Name) + "</td><td><code>" + HTMLEscape(intf.Namespace) + "</code></td><td>";
    for (const TSoapOperation& op : intf.Operations) page += HTMLEscape(op.Name) + "<br>";
    page += "</td><td><a href=\"/wsdl/" + HTMLEscape(intf.Name) + "\">/wsdl/" + HTMLEscape(intf.Name) +
            "</a></td></tr></table>";
    page += kPageEnd;
    return HTMLResponse(200, std::move(page));
  }

  const std::string_view name = rest.substr(1);
  if (SameTextASCII(name, "admin")) {
    std::string page = PageStart("Forbidden (403)", "Forbidden (403)");
    page += "<p>Access Forbidden</p>";
    page += kPageEnd;
    return HTMLResponse(403, std::move(page));
  }
  if (SameTextASCII(name, intf.Name)) {
    TWebResponse response;
    response.ContentType = kContentTypeWSDL;
    response.Body = WSDL(intf, BaseURL(request));
    return response;
  }
  std::string page = PageStart("Error Encountered", "Error Encountered");
  page += "<p>Interface " + HTMLEscape(name) + " not found</p>";
  page += kPageEnd;
  return HTMLResponse(200, std::move(page));
}

TWebResponse TWSDLHTMLPublish::InfoPage(const TWebRequest& request) const {
  const std::string program = FProgramName();
  const TSoapInterface& intf = MobileDCTInterface();
  const std::string_view query = request.Query();
  const std::string selected = QueryField(query, "intf");

  std::string page = PageStart(program, program + " - Service Info Page");
  if (selected.empty()) {
    AppendInterfaceSummary(page, intf);
  } else if (SameTextASCII(selected, intf.Name)) {
    page += "<h2>" + HTMLEscape(intf.Name) + "</h2><p>Namespace: <code>" + HTMLEscape(intf.Namespace) +
            "</code> &middot; <a href=\"/wsdl/" + HTMLEscape(intf.Name) + "\">WSDL</a></p>";
    AppendOperationTable(page, intf);
  } else {
    page += "<p>Interface " + HTMLEscape(selected) + " not found</p>";
  }
  if (QueryField(query, "types") == "1") {
    page += "<h2>Data types</h2><table><tr><th>Type</th><th>Namespace</th></tr>";
    for (TSoapType t : {TSoapType::Boolean, TSoapType::Int, TSoapType::String}) {
      page +=
          std::string("<tr><td>") + SoapTypeName(t) + "</td><td><code>" + kXMLSchemaNS + "</code></td></tr>";
    }
    page += "</table>";
  }
  page += "<p><a href=\"/inspection.wsil\">WS-Inspection document</a></p>";
  if (FStatus) AppendStatusSection(page, FStatus(request));
  page += kPageEnd;
  return HTMLResponse(200, std::move(page));
}

std::optional<TWebResponse> TWSDLHTMLPublish::StatusDocument(const TWebRequest& request) const {
  if (!FStatus) return std::nullopt;
  TWebResponse response;
  response.ContentType = kContentTypeJSON;
  response.Body = StatusJSON(FStatus(request));
  return response;
}

TWebResponse TWSDLHTMLPublish::Inspection(const TWebRequest& request) const {
  const TSoapInterface& intf = MobileDCTInterface();
  TWebResponse response;
  response.ContentType = kContentTypeSOAP;
  std::string& out = response.Body;
  out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<inspection xmlns=\"http://schemas.xmlsoap.org/ws/2001/10/inspection/\">\n"
      "  <service><abstract>";
  AppendXMLText(out, intf.Name);
  out +=
      "</abstract><description referencedNamespace=\"http://schemas.xmlsoap.org/wsdl/\" "
      "location=\"";
  AppendXMLAttr(out, BaseURL(request) + "/wsdl/" + intf.Name);
  out += "\"/></service>\n</inspection>\n";
  return response;
}

}  // namespace dct
