// The large-payload path: Echo of the 100,000-item catalogue value over HTTP (envelope
// parse, Decode, the command's copy, Encode, escaping, transport both ways) against Decode
// plus Encode of the same value text in the process, the floor no server can beat.
//
// With DCT_BENCH_SERVER_PORT set, the calls go to a server in another process (the
// benchmark script starts one and reads its peak memory); otherwise a server runs here.
// Counter peak_MiB: this process's peak resident size (for the in-process benchmark, run
// alone, that is the cost of Decode and Encode; the text itself is in it too).
// At the end the ratio of the two mean times is printed (goal <= 1.5).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "bench/CatalogueFixture.h"
#include "device/uDevice.h"
#include "service/HTTPBridge.h"
#include "service/TestHTTPClient.h"
#include "service/uXMLEscape.h"
#include "service/ufmWebModule.h"
#include "support/uCommonUtils.h"
#include "values/uXMLEncoder.h"

namespace {

namespace fs = std::filesystem;
constexpr int kItems = 100000;
const char kInProcess[] = "BM_CatalogueInProcess/iterations:10";
const char kOverHTTP[] = "BM_CatalogueOverHTTP/iterations:10";

double PeakMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024;
  }
  return 0;
}

const std::string& CatalogueText() {
  static const std::string text = [] {
    dct::TXMLEncoder encoder;
    return encoder.Encode(dct::MakeCatalogueValue(kItems));
  }();
  return text;
}

// The server the calls go to: the one named by DCT_BENCH_SERVER_PORT, or one made here.
struct TServer {
  fs::path Root;
  dct::TDeviceContext Context;
  std::unique_ptr<dct::TWebModule1> Module;
  std::unique_ptr<dct::THTTPBridge> Bridge;
  std::unique_ptr<dct::TDevice> Device;
  uint16_t Port = 0;
};
std::unique_ptr<TServer> gServer;

uint16_t ServerPort() {
  if (gServer) return gServer->Port;
  gServer = std::make_unique<TServer>();
  if (const char* port = std::getenv("DCT_BENCH_SERVER_PORT")) {
    gServer->Port = static_cast<uint16_t>(std::atoi(port));
    return gServer->Port;
  }
  TServer& s = *gServer;
  s.Root = fs::temp_directory_path() / ("dct_catalogue_bench_" + std::to_string(std::random_device()()));
  fs::create_directories(s.Root);
  dct::SetCommonAppDataRoot(s.Root.string() + "/");
  s.Module = std::make_unique<dct::TWebModule1>(s.Context);
  s.Bridge = std::make_unique<dct::THTTPBridge>(
      [module = s.Module.get()](dct::TWebRequest& request) { return module->HandleRequest(request); });
  s.Bridge->SetPort(0);
  s.Context.SetListenerSwitch(s.Bridge.get());
  s.Device = std::make_unique<dct::TDevice>(s.Context);
  if (s.Device->Enable() != 0) {
    std::cerr << "the device did not enable\n";
    std::exit(1);
  }
  s.Port = s.Bridge->BoundPort();
  return s.Port;
}

void StopServer() {
  if (!gServer) return;
  gServer->Device.reset();
  gServer->Context.SetListenerSwitch(nullptr);
  gServer->Bridge.reset();
  if (!gServer->Root.empty()) fs::remove_all(gServer->Root);
  gServer.reset();
}

std::string EchoRequest(const std::string& text) {
  std::string body =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
      "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "xmlns:ns1=\"urn:uSvcIntf-IMobileDCT\"><SOAP-ENV:Body><ns1:ExecuteCommand>"
      "<DeviceID>0</DeviceID><CommandName>Echo</CommandName><InputParameters>";
  dct::AppendXMLText(body, text);
  body += "</InputParameters></ns1:ExecuteCommand></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  return "POST /soap/IMobileDCT HTTP/1.1\r\nHost: 127.0.0.1\r\n"
         "Content-Type: text/xml; charset=utf-8\r\n"
         "SOAPAction: \"urn:uSvcIntf-IMobileDCT#ExecuteCommand\"\r\n"
         "Content-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// One call over a new connection, the answer read into a buffer that is reused from call
// to call, so that the client's own allocation stays out of the figure. False unless it
// is a whole HTTP 200 answer.
bool EchoOverHTTP(uint16_t port, const std::string& request, std::string& answer) {
  dct::testing::TTestConnection c("127.0.0.1", port);
  if (!c.Connected() || !c.Send(request)) return false;
  answer.clear();
  bool closed = false;
  c.Read(answer, "", closed);
  const size_t head = answer.find("\r\n\r\n");
  if (!closed || answer.compare(0, 12, "HTTP/1.1 200") != 0 || head == std::string::npos) {
    return false;
  }
  const size_t length = answer.find("Content-Length: ");
  return length != std::string::npos && std::stoul(answer.substr(length + 16)) == answer.size() - head - 4;
}

void BM_CatalogueInProcess(benchmark::State& state) {
  const std::string& text = CatalogueText();
  for (auto _ : state) {
    dct::TXMLEncoder encoder;
    dct::Variant value = encoder.Decode(text);
    std::string out = encoder.Encode(value);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["peak_MiB"] = PeakMiB();
  state.counters["text_MiB"] = text.size() / 1048576.0;
}

void BM_CatalogueOverHTTP(benchmark::State& state) {
  const uint16_t port = ServerPort();
  const std::string request = EchoRequest(CatalogueText());
  std::string answer;
  // One call outside the timing proves that the answer is the whole, successful Echo; it
  // also gives the answer buffer its size.
  if (!EchoOverHTTP(port, request, answer) ||
      answer.find("<ResultCode xsi:type=\"xsd:int\">0</ResultCode>") == std::string::npos ||
      answer.size() < CatalogueText().size()) {
    state.SkipWithError("the Echo over HTTP did not succeed");
    return;
  }
  for (auto _ : state) {
    if (!EchoOverHTTP(port, request, answer)) state.SkipWithError("incomplete answer");
  }
  state.counters["peak_MiB"] = PeakMiB();
  state.counters["request_MiB"] = request.size() / 1048576.0;
  state.counters["answer_MiB"] = answer.size() / 1048576.0;
}

BENCHMARK(BM_CatalogueInProcess)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_CatalogueOverHTTP)->Unit(benchmark::kMillisecond)->Iterations(10);

// Prints the usual table; a "RESULT name ms peak_MiB" line per benchmark for the script; the
// ratio of the two mean times when both ran.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  TRatioReporter() : ConsoleReporter(OO_Tabular) {}  // plain text: a script reads it
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      FTimes[run.benchmark_name()] = run.GetAdjustedRealTime();
      const auto peak = run.counters.find("peak_MiB");
      std::cout << "RESULT " << run.benchmark_name() << " " << run.GetAdjustedRealTime() << " "
                << (peak == run.counters.end() ? 0.0 : static_cast<double>(peak->second)) << "\n";
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (FTimes.count(kInProcess) && FTimes.count(kOverHTTP)) {
      std::cout << "ratio over HTTP / in process: " << FTimes[kOverHTTP] / FTimes[kInProcess]
                << " (goal <= 1.5)\n";
    }
  }

 private:
  std::map<std::string, double> FTimes;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  StopServer();
  return 0;
}
