// Reading one HTTP request as the listener reads it: Beast's request parser with the
// listener's limits, the early answer to a request that cannot be read, and the request the
// web module is handed once the parser is done. THTTPBridge and the fuzz test share these,
// so that the test reads requests exactly as the server does, without sockets.
#pragma once

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/system/error_code.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/HTTPContentCoding.h"
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

// The 503 answer to a request the memory budget has no room for.
TWebResponse BusyMemoryAnswer();

// The content coding of the request's body, from all its Content-Encoding fields; and
// whether an answer to it may go out gzip-compressed, from all its Accept-Encoding fields.
TContentCoding RequestCoding(const THTTPRequest& request);
bool RequestAcceptsGzip(const THTTPRequest& request);
// The 415 answer to a body in a coding the listener cannot read (TContentCoding::Unknown).
TWebResponse UnsupportedCodingAnswer();

// Inflates a gzip- or deflate-coded request body while the parser reads it, within the
// listener's limits (kMaxBodyBytes, kMaxInflateRatio): the caller hands over what the parser
// appended to the body after each read and empties it, so the coded body is never held
// whole and the inflated one only as far as the budget admits.
class TRequestBodyDecoder {
 public:
  // REQUIRES: coding is Gzip or Deflate.
  explicit TRequestBodyDecoder(TContentCoding coding) : FCoding(coding) {}

  // Inflates coded bytes that arrived, in slices of kInflateSliceBytes; after each slice,
  // admit(Inflated()) says whether the budget holds what was inflated so far. Nothing while
  // all is well; otherwise the answer that ends the request: 413 past a limit, 400 for a
  // stream that is not one or has bytes after its end, 503 when admit said no. After an
  // answer the decoder must not be used again.
  std::optional<TWebResponse> Feed(std::string_view coded, const std::function<bool(uint64_t)>& admit);
  // The body has ended: the 400 answer when it did not end where its stream does. An empty
  // body is an empty body whatever its coding.
  std::optional<TWebResponse> Finish();

  uint64_t Arrived() const { return FArrived; }  // coded bytes fed so far
  uint64_t Inflated() const { return FBody.size(); }
  // The inflated body. REQUIRES: Finish gave no answer.
  std::string TakeBody() { return std::move(FBody); }

 private:
  TContentCoding FCoding;
  std::optional<TBodyInflater> FInflater;  // made at the first coded byte
  std::string FBody;
  uint64_t FArrived = 0;
};

// The request as the web module sees it. The body is moved out of request; the local
// address and port are the connection's, left for the caller.
TWebRequest WebRequestFrom(THTTPRequest& request);

}  // namespace dct
