#include "host/StatusClient.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstdio>
#include <string>

#include "service/HTTPBridge.h"
#include "service/uServiceStatus.h"

namespace dct {
namespace {

TEST(StatusClientTest, URLsAndTheirRefusals) {
  const struct {
    const char* URL;
    const char* Expected;  // "host port target", or the start of the error
  } cases[] = {
      {"http://example.org:8080/x/status.json?a=1", "example.org 8080 /x/status.json?a=1"},
      {"http://example.org", "example.org 80 /status.json"},
      {"http://10.0.0.5:7211/", "10.0.0.5 7211 /status.json"},
      {"http://[::1]:7211", "::1 7211 /status.json"},
      {"https://example.org", "the status URL must start with http://"},
      {"example.org:7211", "the status URL must start with http://"},
      {"http://", "the status URL names no usable host"},
      {"http://h:0", "the status URL names no usable host"},
      {"http://h:65536", "the status URL names no usable host"},
      {"http://h:7x", "the status URL names no usable host"},
      {"http://h:", "the status URL names no usable host"},
      {"http://user@h:1", "the status URL names no usable host"},
  };
  for (const auto& c : cases) {
    TStatusAddress a;
    std::string error;
    const std::string got = ParseStatusURL(c.URL, a, error) ? a.Host + " " + a.Port + " " + a.Target : error;
    EXPECT_EQ(got.substr(0, std::string(c.Expected).size()), c.Expected) << c.URL << ": " << got;
  }
}

TEST(StatusClientTest, CommandLine) {
  THostOptions o;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"--status", "--port", "8000"}, o, error)) << error;
  EXPECT_TRUE(o.Status);
  TStatusAddress a;
  ASSERT_TRUE(StatusAddress(o, a, error));
  EXPECT_EQ(AddressText(a), "http://127.0.0.1:8000/status.json");
  ASSERT_TRUE(ParseCommandLine({"--url=http://[::1]:9", "--status"}, o, error)) << error;
  ASSERT_TRUE(StatusAddress(o, a, error));
  EXPECT_EQ(AddressText(a), "http://[::1]:9/status.json");

  const struct {
    std::vector<std::string> Args;
    const char* Reason;
  } bad[] = {
      {{"--url", "http://h"}, "--url goes with --status"},
      {{"--status", "/install"}, "excludes INSTALL"},
      {{"--status", "--port", "1", "--url", "http://h"}, "exclude each other"},
      {{"--status=yes"}, "takes no value"},
      {{"--status", "--url"}, "needs a value"},
  };
  for (const auto& c : bad) {
    EXPECT_FALSE(ParseCommandLine(c.Args, o, error)) << c.Args[0];
    EXPECT_NE(error.find(c.Reason), std::string::npos) << error;
  }
}

// Runs --status against Port and gives the exit status, standard output and error.
struct TRun {
  int Code;
  std::string Out, Err;
};
std::string ReadAll(std::FILE* f) {
  std::rewind(f);
  std::string text;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
  std::fclose(f);
  return text;
}
TRun RunStatus(uint16_t port) {
  THostOptions options;
  options.Status = true;
  options.Port = port;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  TRun run;
  run.Code = RunStatusCommand(options, "prog", out, err);
  run.Out = ReadAll(out);
  run.Err = ReadAll(err);
  return run;
}

class StatusClientServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FListener.SetPort(0);
    FListener.Start();
  }
  uint16_t Port() const { return FListener.BoundPort(); }

  TWebResponse FAnswer;
  std::string FTarget;
  THTTPBridge FListener{[this](TWebRequest& request) {  // last: stopped before what it uses goes
    FTarget = request.Target;
    return FAnswer;
  }};
};

TEST_F(StatusClientServerTest, PrintsTheStatusReadably) {
  TServiceStatus status;
  status.Program = "svc";
  status.Version = "1.2.3";
  status.UptimeSeconds = 90061;
  status.Port = 7211;
  status.HasDevice = true;
  status.DeviceID = "0";
  status.AppName = "Shop";
  status.AppVersion = "2.0";
  status.Enabled = true;
  status.DatabaseFile = "/d/0.db";
  status.DatabaseBytes = 4096;
  status.Items = 1000;
  status.Sources[0] = {0, 0};
  status.Sources[1] = {2, 7};
  status.LastDocumentPush = std::chrono::system_clock::time_point(std::chrono::seconds(86400));
  status.CallsServed = 12;
  status.CallsFailed = 1;
  FAnswer.ContentType = kContentTypeJSON;
  FAnswer.Body = StatusJSON(status);

  const TRun run = RunStatus(Port());
  EXPECT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(FTarget, "/status.json");
  for (const char* line :
       {"Program              svc 1.2.3\n", "Started              1970-01-01T00:00:00Z (up 1d 01:01:01)\n",
        "Device               0, enabled\n", "App                  Shop 2.0\n",
        "Database             /d/0.db (4096 bytes)\n", "Items                1000\n",
        "Documents            source 0: 0 documents, 0 rows\n",
        "                     source 1: 2 documents, 7 rows\n", "Last catalogue load  never\n",
        "Last document push   1970-01-02T00:00:00Z\n", "Calls                12 served, 1 failed\n"}) {
    EXPECT_NE(run.Out.find(line), std::string::npos) << line << "in:\n" << run.Out;
  }
}

// A client sets the app name: it must not forge a line or reach the terminal's controls.
TEST_F(StatusClientServerTest, ClientSetTextIsPrintedWithItsControlsEscaped) {
  TServiceStatus status;
  status.Program = "svc";
  status.HasDevice = true;
  status.DeviceID = "0\r";
  status.AppName = "Shop\nCalls                0 served, 0 failed\x1b[2J";
  status.AppVersion =
      "2.0\xc2\x9b"
      "1m\x7f";  // C1 CSI, then DEL
  status.Enabled = true;
  status.DatabaseFile = "C:\\data\\0.db";
  status.CallsServed = 5;
  FAnswer.ContentType = kContentTypeJSON;
  FAnswer.Body = StatusJSON(status);
  const TRun run = RunStatus(Port());
  ASSERT_EQ(run.Code, 0) << run.Err;
  for (const char* line : {"Device               0\\x0D, enabled\n",
                           "App                  Shop\\x0ACalls                0 served, 0 failed\\x1B[2J "
                           "2.0\\u009B1m\\x7F\n",
                           "Database             C:\\data\\0.db ("}) {
    EXPECT_NE(run.Out.find(line), std::string::npos) << line << "in:\n" << run.Out;
  }
  // One line per field: the forged one is not among them.
  EXPECT_EQ(run.Out.find("\nCalls                0 served"), std::string::npos) << run.Out;
  for (const char c : run.Out) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
}

TEST_F(StatusClientServerTest, FailsClearlyOnAnythingButAStatus) {
  const struct {
    int Status;
    const char* Body;
    const char* Reason;
  } cases[] = {
      {404, "", "the service answered HTTP status 404"},
      {200, "<html></html>", "is not a status document"},
      {200, "{\"program\": \"svc\"}", "is not a status document"},
  };
  for (const auto& c : cases) {
    FAnswer.Status = c.Status;
    FAnswer.Body = c.Body;
    const TRun run = RunStatus(Port());
    EXPECT_EQ(run.Code, 1);
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find(c.Reason), std::string::npos) << run.Err;
  }
}

TEST(StatusClientTest, NoServiceIsAnErrorNotAHang) {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor silent(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
  const uint16_t silentPort = silent.local_endpoint().port();
  // Listening but never answering: the deadline ends the read.
  TStatusAddress address{"127.0.0.1", std::to_string(silentPort), "/status.json"};
  EXPECT_THROW(
      {
        try {
          FetchStatus(address, std::chrono::milliseconds(300));
        } catch (const std::runtime_error& e) {
          EXPECT_NE(std::string(e.what()).find("no answer within 300 ms"), std::string::npos) << e.what();
          throw;
        }
      },
      std::runtime_error);
  silent.close();
  // Nothing listening at all.
  const TRun run = RunStatus(silentPort);
  EXPECT_EQ(run.Code, 1);
  EXPECT_EQ(run.Out, "");
  EXPECT_NE(run.Err.find("prog: cannot read the service's status at http://127.0.0.1:" +
                         std::to_string(silentPort) + "/status.json: connecting: "),
            std::string::npos)
      << run.Err;
}

}  // namespace
}  // namespace dct
