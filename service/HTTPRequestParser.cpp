#include "service/HTTPRequestParser.h"

#include <boost/beast/http/error.hpp>
#include <boost/beast/http/status.hpp>
#include <cstdint>
#include <string>
#include <utility>

#include "service/HTTPBridge.h"

namespace dct {

namespace http = boost::beast::http;

namespace {

// Called by the parser for every chunk-size line, once it is whole in the read buffer (which
// bounds the line itself). Stateless, so one object serves every parser.
struct TChunkExtensionLimit {
  void operator()(std::uint64_t, boost::beast::string_view extensions, boost::system::error_code& ec) const {
    if (extensions.size() > THTTPBridge::kMaxChunkExtensionBytes) ec = http::error::bad_chunk_extension;
  }
};
TChunkExtensionLimit GChunkExtensionLimit;

}  // namespace

void SetRequestLimits(THTTPRequestParser& parser) {
  parser.header_limit(THTTPBridge::kMaxHeaderBytes);
  parser.body_limit(THTTPBridge::kMaxBodyBytes);
  parser.on_chunk_header(GChunkExtensionLimit);
}

std::optional<TWebResponse> BrowserRefusal(const THTTPRequest& request,
                                           const std::vector<std::string>& allowedOrigins) {
  if (request.method() == http::verb::get || request.method() == http::verb::head) return std::nullopt;
  const auto origin = request.find(http::field::origin);
  const auto site = request.find("Sec-Fetch-Site");
  const bool fromPage = origin != request.end() || (site != request.end() && site->value() != "none");
  if (!fromPage) return std::nullopt;
  if (origin != request.end()) {
    for (const std::string& allowed : allowedOrigins) {
      if (origin->value() == allowed) return std::nullopt;
    }
  }
  return TWebResponse{static_cast<int>(http::status::forbidden), kContentTypeText,
                      "Requests from web pages are not accepted; the server's operator can allow an origin "
                      "with --allow-origin"};
}

std::optional<TWebResponse> ReadErrorAnswer(const boost::system::error_code& ec) {
  auto answer = [](http::status status, std::string text) {
    return TWebResponse{static_cast<int>(status), kContentTypeText, std::move(text)};
  };
  if (ec == http::error::header_limit) {
    return answer(http::status::request_header_fields_too_large, "Request header too large");
  }
  if (ec == http::error::body_limit) {
    return answer(http::status::payload_too_large, "Request body too large");
  }
  // Timeouts, resets and a client that closed before a whole request: nobody to answer.
  const bool malformed = ec.category() == http::make_error_code(http::error::bad_target).category() &&
                         ec != http::error::end_of_stream && ec != http::error::partial_message;
  if (malformed) return answer(http::status::bad_request, "Bad request: " + ec.message());
  return std::nullopt;
}

namespace {

std::string FieldText(const THTTPRequest& request, boost::beast::string_view name) {
  const auto it = request.find(name);
  return it == request.end() ? std::string() : std::string(it->value());
}

}  // namespace

TWebRequest WebRequestFrom(THTTPRequest& request) {
  TWebRequest web;
  web.Method = std::string(request.method_string());
  web.Target = std::string(request.target());
  web.Host = FieldText(request, "Host");
  web.SOAPAction = FieldText(request, "SOAPAction");
  web.HTTPSoapAction = FieldText(request, "HTTP_SOAPACTION");
  web.Body = std::move(request.body());
  return web;
}

}  // namespace dct
