#include "service/HTTPRequestParser.h"

#include <algorithm>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/status.hpp>
#include <cstdint>
#include <string>
#include <utility>

#include "service/HTTPBridge.h"
#include "service/HTTPLimits.h"

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

TWebResponse BusyMemoryAnswer() {
  return TWebResponse{static_cast<int>(http::status::service_unavailable), kContentTypeText,
                      "The server holds too much data for this client.  Please try again later"};
}

namespace {

// Every field of that name, as one list: HTTP lets a list be split over several fields.
std::string FieldList(const THTTPRequest& request, http::field name) {
  std::string list;
  for (auto [it, end] = request.equal_range(name); it != end; ++it) {
    if (!list.empty()) list += ", ";
    list.append(it->value().data(), it->value().size());
  }
  return list;
}

TWebResponse Refusal(http::status status, std::string text) {
  return TWebResponse{static_cast<int>(status), kContentTypeText, std::move(text)};
}

}  // namespace

TContentCoding RequestCoding(const THTTPRequest& request) {
  return ParseContentEncoding(FieldList(request, http::field::content_encoding));
}

bool RequestAcceptsGzip(const THTTPRequest& request) {
  return AcceptsGzip(FieldList(request, http::field::accept_encoding));
}

TWebResponse UnsupportedCodingAnswer() {
  return Refusal(http::status::unsupported_media_type,
                 "Unsupported Content-Encoding: the server reads gzip, deflate and identity");
}

std::optional<TWebResponse> TRequestBodyDecoder::Feed(std::string_view coded,
                                                      const std::function<bool(uint64_t)>& admit) {
  if (coded.empty()) return std::nullopt;
  if (!FInflater) FInflater.emplace(FCoding, THTTPLimits::kMaxBodyBytes);
  while (!coded.empty()) {
    const std::string_view slice = coded.substr(0, THTTPLimits::kInflateSliceBytes);
    coded.remove_prefix(slice.size());
    FArrived += slice.size();
    switch (FInflater->Feed(slice, FBody)) {
      case TInflateStatus::Ok: break;
      case TInflateStatus::TooLarge:
        return Refusal(http::status::payload_too_large, "Request body too large");
      case TInflateStatus::TrailingData:
        return Refusal(http::status::bad_request, "Bad request: bytes after the end of the coded body");
      default: return Refusal(http::status::bad_request, "Bad request: the coded body cannot be inflated");
    }
    if (FBody.size() > std::max(THTTPLimits::kInflateFreeBytes, FArrived * THTTPLimits::kMaxInflateRatio)) {
      return Refusal(http::status::payload_too_large, "Request body too large: it inflates more than " +
                                                          std::to_string(THTTPLimits::kMaxInflateRatio) +
                                                          " times");
    }
    if (!admit(FBody.size())) return BusyMemoryAnswer();
  }
  return std::nullopt;
}

std::optional<TWebResponse> TRequestBodyDecoder::Finish() {
  if (!FInflater) return std::nullopt;  // nothing arrived
  switch (FInflater->Finish()) {
    case TInflateStatus::Ok: return std::nullopt;
    case TInflateStatus::Truncated:
      return Refusal(http::status::bad_request, "Bad request: the coded body ends before its stream does");
    default: return Refusal(http::status::bad_request, "Bad request: the coded body cannot be inflated");
  }
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
