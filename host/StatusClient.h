// --status: the program as a client of the running service. It reads /status.json over
// HTTP (from 127.0.0.1 on --port, or from --url) and prints it in a readable form.
//
//   0  the status was read and printed on standard output
//   1  the service could not be reached, or its answer was not a status document; the
//      reason goes to standard error
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "host/CommandLine.h"
#include "values/uJSONText.h"

namespace dct {

// How long one status read may take, connecting included: a monitor must not hang on a
// service that accepts and never answers.
constexpr std::chrono::seconds kStatusTimeout{10};

struct TStatusAddress {
  std::string Host;
  std::string Port;
  std::string Target;  // path and query
};

// "http://host[:port][/path]": no path (or "/") reads /status.json; "[::1]" brackets an
// IPv6 address. Only http. Returns false and sets Error for anything else.
bool ParseStatusURL(const std::string& URL, TStatusAddress& Address, std::string& Error);
// The address the options name: --url, else 127.0.0.1 on --port.
bool StatusAddress(const THostOptions& Options, TStatusAddress& Address, std::string& Error);
std::string AddressText(const TStatusAddress& Address);

// The status document in lines of "label  value".
std::string StatusReport(const TJSONValue& Status);

// One HTTP/1.1 request and its answer, for every client command of the program.
struct THTTPCall {
  const char* Method = "GET";  // "GET" or "POST"
  std::string Target;          // path and query
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;
  // A longer answer is refused: the client must not hold whatever a wrong peer sends.
  uint64_t MaxAnswerBytes = 8u << 20;
};
struct THTTPAnswer {
  int Status = 0;
  std::string ContentType;
  std::string Body;
};
// Sends Call to Address and reads the answer, all within Timeout (resolving and connecting
// included). Raises std::runtime_error with the step and the reason (the system's text of a
// refused connection, "no answer within N ms", an answer over the limit).
THTTPAnswer HTTPExchange(const TStatusAddress& Address, THTTPCall Call, std::chrono::milliseconds Timeout);

// GET Address within Timeout; the body of a 200 answer. Raises std::runtime_error with the
// reason (the system's text of a refused connection, a timeout, another HTTP status).
std::string FetchStatus(const TStatusAddress& Address, std::chrono::milliseconds Timeout);

// The whole --status run; returns the exit status.
int RunStatusCommand(const THostOptions& Options, const std::string& ProgramName, std::FILE* Out,
                     std::FILE* Err);

}  // namespace dct
