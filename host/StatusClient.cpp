#include "host/StatusClient.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <cstdio>
#include <exception>
#include <functional>
#include <stdexcept>
#include <vector>

namespace dct {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;

constexpr char kStatusPath[] = "/status.json";

std::string TextOr(const TJSONValue& v, const std::string& none) {
  if (v.IsNull()) return none;
  if (v.Kind() == TJSONValue::TKind::String) return v.AsString();
  return std::to_string(v.AsInt64());
}

std::string UptimeText(int64_t seconds) {
  std::string out = std::to_string(seconds / 86400) + "d ";
  const int64_t parts[] = {seconds % 86400 / 3600, seconds % 3600 / 60, seconds % 60};
  for (int i = 0; i < 3; ++i)
    out += (i ? ":" : "") + std::string(parts[i] < 10 ? "0" : "") + std::to_string(parts[i]);
  return out;
}

// Client-set text (the app name, the device identifier) reaches the operator's terminal: a
// control character in it could forge a status line or drive the terminal, so each C0 and C1
// control and DEL is shown as \xNN or \u00NN instead. A backslash stays itself (Windows paths).
std::string Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char escaped[8];
    if (c < 0x20 || c == 0x7F) {
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned char>(text[++i]));
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void Line(std::string& out, const char* label, const std::string& value) {
  std::string l = label;
  l.resize(21, ' ');
  out += l + Printable(value) + "\n";
}

}  // namespace

bool ParseStatusURL(const std::string& URL, TStatusAddress& Address, std::string& Error) {
  const std::string scheme = "http://";
  if (URL.compare(0, scheme.size(), scheme) != 0) {
    Error = "the status URL must start with http://, not \"" + URL + "\"";
    return false;
  }
  const std::string rest = URL.substr(scheme.size());
  const size_t slash = rest.find('/');
  const std::string authority = rest.substr(0, slash);
  Address.Target = slash == std::string::npos ? "/" : rest.substr(slash);
  if (Address.Target == "/") Address.Target = kStatusPath;
  std::string host = authority, port = "80";
  const size_t bracket = authority.rfind(']');
  const size_t colon = authority.rfind(':');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const bool portOk = !port.empty() && port.size() <= 5 &&
                      port.find_first_not_of("0123456789") == std::string::npos && std::stoul(port) >= 1 &&
                      std::stoul(port) <= 65535;
  if (host.empty() || host.find_first_of("@[] ") != std::string::npos || !portOk) {
    Error = "the status URL names no usable host and port: \"" + URL + "\"";
    return false;
  }
  Address.Host = host;
  Address.Port = port;
  return true;
}

bool StatusAddress(const THostOptions& Options, TStatusAddress& Address, std::string& Error) {
  if (Options.ServiceURL) return ParseStatusURL(*Options.ServiceURL, Address, Error);
  Address = TStatusAddress{"127.0.0.1", std::to_string(Options.Port), kStatusPath};
  return true;
}

std::string AddressText(const TStatusAddress& Address) {
  const bool v6 = Address.Host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + Address.Host + "]" : Address.Host) + ":" + Address.Port + Address.Target;
}

THTTPAnswer HTTPExchange(const TStatusAddress& Address, THTTPCall Call, std::chrono::milliseconds Timeout) {
  asio::io_context io;
  asio::ip::tcp::resolver resolver(io);
  beast::tcp_stream stream(io);
  http::request<http::string_body> request{http::string_to_verb(Call.Method), Call.Target, 11};
  request.set(http::field::host, Address.Host + ":" + Address.Port);
  for (const auto& [name, value] : Call.Headers) request.set(name, value);
  if (request.method() == http::verb::post) {
    request.body() = std::move(Call.Body);
    request.prepare_payload();
  }
  beast::flat_buffer buffer;
  http::response_parser<http::string_body> parser;
  parser.body_limit(Call.MaxAnswerBytes);
  beast::error_code failure;
  const char* step = "";

  // Asynchronous only so that the stream's deadline covers each step; one thread runs it.
  auto fail = [&](const char* at, beast::error_code ec) {
    step = at;
    failure = ec;
  };
  // Each address in turn, one endpoint at a time (asio's range connect trips a compiler
  // diagnostic in the Windows build).
  std::vector<asio::ip::tcp::endpoint> endpoints;
  std::function<void(size_t)> connect = [&](size_t i) {
    stream.async_connect(endpoints[i], [&, i](beast::error_code ec) {
      if (ec && ec != beast::error::timeout && i + 1 < endpoints.size()) return connect(i + 1);
      if (ec) return fail("connecting", ec);
      http::async_write(stream, request, [&](beast::error_code ec, size_t) {
        if (ec) return fail("sending the request", ec);
        http::async_read(stream, buffer, parser, [&](beast::error_code ec, size_t) {
          if (ec) return fail("reading the answer", ec);
        });
      });
    });
  };
  resolver.async_resolve(Address.Host, Address.Port, [&](beast::error_code ec, auto results) {
    if (ec) return fail("resolving the host", ec);
    for (const auto& entry : results) endpoints.push_back(entry.endpoint());
    if (endpoints.empty()) return fail("resolving the host", asio::error::host_not_found);
    stream.expires_after(Timeout);
    connect(0);
  });
  io.run();
  beast::error_code ignored;
  stream.socket().close(ignored);

  if (failure) {
    const std::string reason =
        failure == beast::error::timeout ? "no answer within " + std::to_string(Timeout.count()) + " ms"
        : failure == http::error::body_limit
            ? "the answer is longer than " + std::to_string(Call.MaxAnswerBytes) + " bytes"
            : failure.message();
    throw std::runtime_error(std::string(step) + ": " + reason);
  }
  http::response<http::string_body> response = parser.release();
  THTTPAnswer answer;
  answer.Status = static_cast<int>(response.result_int());
  answer.ContentType = std::string(response[http::field::content_type]);
  answer.Body = std::move(response.body());
  return answer;
}

std::string FetchStatus(const TStatusAddress& Address, std::chrono::milliseconds Timeout) {
  THTTPCall call;
  call.Target = Address.Target;
  call.Headers = {{"Accept", "application/json"}};
  THTTPAnswer answer = HTTPExchange(Address, std::move(call), Timeout);
  if (answer.Status != 200)
    throw std::runtime_error("the service answered HTTP status " + std::to_string(answer.Status));
  return std::move(answer.Body);
}

std::string StatusReport(const TJSONValue& s) {
  std::string out;
  Line(out, "Program", s["program"].AsString() + " " + s["version"].AsString());
  Line(out, "Started", s["startTime"].AsString() + " (up " + UptimeText(s["uptimeSeconds"].AsInt64()) + ")");
  Line(out, "Port", std::to_string(s["port"].AsInt64()));
  const TJSONValue& device = s["device"];
  if (device.IsNull()) {
    Line(out, "Device", "none");
  } else {
    Line(out, "Device",
         device["id"].AsString() + (device["enabled"].AsBoolean() ? ", enabled" : ", disabled"));
    Line(out, "App", device["appName"].AsString() + " " + device["appVersion"].AsString());
    const TJSONValue& db = s["database"];
    Line(out, "Database",
         db["file"].AsString() + " (" + TextOr(db["sizeBytes"], "size unknown") +
             (db["sizeBytes"].IsNull() ? ")" : " bytes)"));
  }
  Line(out, "Items", TextOr(s["items"], "unknown"));
  const char* label = "Documents";
  for (const TJSONValue& d : s["documents"].AsArray()) {
    Line(out, label,
         "source " + std::to_string(d["source"].AsInt64()) + ": " + std::to_string(d["documents"].AsInt64()) +
             " documents, " + std::to_string(d["rows"].AsInt64()) + " rows");
    label = "";
  }
  if (s["documents"].AsArray().empty()) Line(out, label, "unknown");
  Line(out, "Last catalogue load", TextOr(s["lastCatalogueLoad"], "never"));
  Line(out, "Last document push", TextOr(s["lastDocumentPush"], "never"));
  Line(out, "Calls",
       std::to_string(s["calls"]["served"].AsInt64()) + " served, " +
           std::to_string(s["calls"]["failed"].AsInt64()) + " failed");
  return out;
}

int RunStatusCommand(const THostOptions& Options, const std::string& ProgramName, std::FILE* Out,
                     std::FILE* Err) {
  TStatusAddress address;
  std::string error;
  if (!StatusAddress(Options, address, error)) {
    std::fputs((ProgramName + ": " + error + "\n").c_str(), Err);
    return 1;
  }
  std::string body;
  try {
    body = FetchStatus(address, kStatusTimeout);
  } catch (const std::exception& e) {
    std::fputs((ProgramName + ": cannot read the service's status at " + AddressText(address) + ": " +
                e.what() + "\n")
                   .c_str(),
               Err);
    return 1;
  }
  try {
    const std::string report = StatusReport(TJSONValue::Parse(body));
    std::fputs(("Status of " + AddressText(address) + "\n" + report).c_str(), Out);
    std::fflush(Out);
  } catch (const std::exception& e) {
    std::fputs((ProgramName + ": the answer at " + AddressText(address) + " is not a status document (" +
                e.what() + ")\n")
                   .c_str(),
               Err);
    return 1;
  }
  return 0;
}

}  // namespace dct
