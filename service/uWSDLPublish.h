// TWSDLHTMLPublish: the service description and the pages about it.
//
//   /wsdl                 "WebService Listing": the published port types, links to WSDL
//   /wsdl/IMobileDCT      WSDL 1.1, RPC/encoded; the port's location is built from the
//                         request's Host header (the server's port added when the header
//                         names none and the port is not 80)
//   /wsdl/admin           status 403 "Forbidden (403)": listing administration is off
//   /wsdl/<other>         "Interface <other> not found" under "Error Encountered", status 200
//   info page             title: the program's file name without extension; query "intf"
//                         shows one interface in detail, "types=1" adds the data types
//   /inspection.wsil      WS-Inspection document
//   /status.json          the status document (uServiceStatus.h), when a status source is set;
//                         the info page then ends with the Status section
// A trailing "/" is ignored; names compare without letter case. Everything taken from the
// request is escaped before it is written into a page or document.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "service/uServiceStatus.h"
#include "service/uSvcIntf.h"
#include "service/uWebTypes.h"

namespace dct {

class TWSDLHTMLPublish {
 public:
  // The WSDL target namespace: fixed, our own, and not the operations' namespace (clients
  // address the operations by that one; this only names the description's parts).
  static constexpr const char* kTargetNamespace = "http://korvelmobile.dct/wsdl/";

  // The status as of now, for the request asking (it knows the port it arrived on).
  using TStatusSource = std::function<TServiceStatus(const TWebRequest&)>;

  // programName gives the info page's title; it may raise, and the caller reports that.
  // Without a status source there is no Status section and no status document.
  explicit TWSDLHTMLPublish(std::function<std::string()> programName, TStatusSource status = {});

  // REQUIRES: a path under /wsdl (any method).
  TWebResponse Publish(const TWebRequest& request) const;
  TWebResponse InfoPage(const TWebRequest& request) const;
  TWebResponse Inspection(const TWebRequest& request) const;
  // None without a status source.
  std::optional<TWebResponse> StatusDocument(const TWebRequest& request) const;

  static std::string WSDL(const TSoapInterface& intf, std::string_view baseURL);
  // "http://" + host [+ ":" + port].
  static std::string BaseURL(const TWebRequest& request);

 private:
  std::function<std::string()> FProgramName;
  TStatusSource FStatus;
};

// The file name of path without folder and extension: "/usr/bin/a.out" -> "a".
std::string ProgramFileTitle(std::string_view path);

}  // namespace dct
