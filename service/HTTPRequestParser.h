// Reading one HTTP request as the listener reads it: Beast's request parser with the
// listener's limits, the early answer to a request that cannot be read, and the request the
// web module is handed once the parser is done. THTTPBridge and the fuzz test share these,
// so that the test reads requests exactly as the server does, without sockets.
#pragma once

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/system/error_code.hpp>
#include <optional>
#include <string>
#include <vector>

#include "service/uWebTypes.h"

namespace dct {

using THTTPRequest = boost::beast::http::request<boost::beast::http::string_body>;
using THTTPRequestParser = boost::beast::http::request_parser<boost::beast::http::string_body>;

// Sets the header, body and chunk-extension limits of THTTPBridge. REQUIRES: nothing was
// parsed yet.
void SetRequestLimits(THTTPRequestParser& parser);

// The answer to a request the parser refused: 431 for a header over the limit, 413 for a
// body over it, 400 for a malformed request. Nothing when there is nobody to answer: the
// client closed before the request was whole, or the connection failed.
std::optional<TWebResponse> ReadErrorAnswer(const boost::system::error_code& ec);

// The 403 answer to a request that a web page in a browser made, so that no page the shop
// opens can run commands (a DNS-rebound page included). A browser marks every scripted
// request that can change something: it sends Origin with it, and Sec-Fetch-Site with a value
// other than "none" (which stands for the user typing the address); no SOAP client sends
// either. Allowed: GET and HEAD (pages, service description, status, none of which change
// anything), and a request whose Origin is one of allowedOrigins (compared exactly, as
// "scheme://host[:port]"). Nothing for a request to let through.
std::optional<TWebResponse> BrowserRefusal(const THTTPRequest& request,
                                           const std::vector<std::string>& allowedOrigins);

// The request as the web module sees it. The body is moved out of request; the local
// address and port are the connection's, left for the caller.
TWebRequest WebRequestFrom(THTTPRequest& request);

}  // namespace dct
