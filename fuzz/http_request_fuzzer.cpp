// Fuzz target: one HTTP request read as the listener reads it (the parser with the server's
// limits, fed in pieces as reads deliver them, a gzip- or deflate-coded body inflated as it
// arrives), then, when it is whole, routed through the web module over the real service. Answers the server
// gives itself must be the refusals it documents; SOAP answers must be well-formed envelopes, every other XML
// answer (service description, inspection document) well-formed XML.
#include <algorithm>
#include <boost/beast/http/error.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "service/HTTPBridge.h"
#include "service/HTTPRequestParser.h"
#include "service/ufmWebModule.h"

namespace dct::fuzz {
namespace {

namespace http = boost::beast::http;

// Bytes per read: what arrives first in one piece, as the listener's first read takes it,
// small enough that long heads and bodies arrive in several.
constexpr size_t kReadBytes = 4096;

void CheckRefusal(const TWebResponse& answer) {
  DCT_FUZZ_CHECK(answer.Status == 400 || answer.Status == 413 || answer.Status == 415 || answer.Status == 431,
                 answer.Body);
  DCT_FUZZ_CHECK(answer.ContentType == kContentTypeText, answer.ContentType);
}

void Serve(TWebRequest request) {
  static const TWebModule1 module([] { return TFuzzService::Instance().NewMobileDCT(); },
                                  [] { return std::string("dct_korvelmobilesvc"); });
  request.LocalPort = THTTPBridge::kDefaultPort;
  if (request.Host.empty()) request.LocalAddress = "127.0.0.1";
  const bool soap = request.Method == "POST" && StartsWithTextASCII(request.Path(), "/soap");
  const TWebResponse answer = module.HandleRequest(request);
  if (soap) {
    DCT_FUZZ_CHECK(answer.ContentType == kContentTypeSOAP, answer.ContentType);
    CheckSOAPAnswer(answer);
  } else if (answer.ContentType.starts_with("text/xml")) {  // description, inspection
    CheckXMLDocument(answer.Body);
  }
}

}  // namespace
}  // namespace dct::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dct;
  using namespace dct::fuzz;
  TFuzzService::Instance().Reset();
  std::string_view input(reinterpret_cast<const char*>(data), size);
  THTTPRequestParser parser;
  SetRequestLimits(parser);
  std::string buffer;  // read but not yet taken by the parser
  boost::system::error_code ec;
  std::optional<TRequestBodyDecoder> decoder;
  bool headerDone = false;
  auto admit = [](uint64_t inflated) {
    DCT_FUZZ_CHECK(inflated <= THTTPBridge::kMaxBodyBytes, "inflated past the body limit");
    return true;
  };
  while (!parser.is_done()) {
    if (ec == http::error::need_more || buffer.empty()) {
      if (input.empty()) {
        // The client closed: what the stream's end means depends on what arrived.
        ec = {};
        if (parser.got_some())
          parser.put_eof(ec);
        else
          ec = http::error::end_of_stream;
        break;
      }
      const size_t n = std::min(input.size(), kReadBytes);
      buffer.append(input.substr(0, n));
      input.remove_prefix(n);
    }
    ec = {};
    const size_t used = parser.put(boost::asio::buffer(buffer), ec);
    buffer.erase(0, used);
    if (!headerDone && parser.is_header_done()) {
      headerDone = true;
      const TContentCoding coding = RequestCoding(parser.get());
      if (coding == TContentCoding::Unknown) {
        CheckRefusal(UnsupportedCodingAnswer());
        return 0;
      }
      if (coding != TContentCoding::Identity) decoder.emplace(coding);
    }
    if (decoder && !parser.get().body().empty()) {
      const std::optional<TWebResponse> refusal = decoder->Feed(parser.get().body(), admit);
      parser.get().body().clear();
      if (refusal) {
        CheckRefusal(*refusal);
        return 0;
      }
    }
    if (!ec && used == 0) ec = http::error::need_more;  // nothing taken: it waits for bytes
    if (ec && ec != http::error::need_more) break;
  }
  if (!parser.is_done()) {
    DCT_FUZZ_CHECK(ec, "parser stopped without an error");
    if (std::optional<TWebResponse> answer = ReadErrorAnswer(ec)) CheckRefusal(*answer);
    return 0;
  }
  if (decoder) {
    if (const std::optional<TWebResponse> refusal = decoder->Finish()) {
      CheckRefusal(*refusal);
      return 0;
    }
    parser.get().body() = decoder->TakeBody();
  }
  Serve(WebRequestFrom(parser.get()));
  return 0;
}
