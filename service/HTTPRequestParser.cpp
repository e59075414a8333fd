#include "service/HTTPRequestParser.h"

#include <boost/beast/http/error.hpp>
#include <boost/beast/http/status.hpp>
#include <string>
#include <utility>

#include "service/HTTPBridge.h"

namespace dct {

namespace http = boost::beast::http;

void SetRequestLimits(THTTPRequestParser& parser) {
  parser.header_limit(THTTPBridge::kMaxHeaderBytes);
  parser.body_limit(THTTPBridge::kMaxBodyBytes);
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
