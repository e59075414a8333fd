// Benchmarks of the value text: a catalogue load (100,000 items x 11 positions) decoded and
// encoded, each against a floor measured in the same run:
//   Decode  vs  a bare pugixml parse of the same text (default options);
//   Encode  vs  saving an equivalent pugixml document, built beforehand, to a string.
// Each timed call also frees what it made (the decoded value, the text), as a caller would.
// After the runs it prints both ratios, and before them the peak memory of one Decode and one
// Encode (peak resident size above the resident size at the start of the call), also as a
// multiple of the text: a catalogue-load call may peak at 4x its request.
//
//   values_bench [--items=N] [benchmark flags]
#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "bench/CatalogueFixture.h"
#include "support/uProcessMemory.h"
#include "values/uXMLEncoder.h"

namespace {

int gItems = 100000;

struct TInputs {
  dct::Variant Value;
  std::string Xml;
  pugi::xml_document Doc;  // the tree Encode builds, for the save floor
};

TInputs& Fixture() {
  static TInputs* inputs = [] {
    auto* in = new TInputs;
    in->Value = dct::MakeCatalogueValue(gItems);
    in->Xml = dct::TXMLEncoder().Encode(in->Value);
    in->Doc.load_buffer(in->Xml.data(), in->Xml.size(), pugi::parse_default | pugi::parse_declaration,
                        pugi::encoding_utf8);
    return in;
  }();
  return *inputs;
}

struct TStringWriter : pugi::xml_writer {
  std::string Out;
  void write(const void* data, size_t size) override { Out.append(static_cast<const char*>(data), size); }
};

void BM_Decode(benchmark::State& state) {
  TInputs& in = Fixture();
  dct::TXMLEncoder enc;
  for (auto _ : state) {
    dct::Variant v = enc.Decode(in.Xml);
    benchmark::DoNotOptimize(v);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.Xml.size()));
}

void BM_DecodeFloor_PugixmlParse(benchmark::State& state) {
  TInputs& in = Fixture();
  pugi::xml_document doc;
  for (auto _ : state) {
    pugi::xml_parse_result r =
        doc.load_buffer(in.Xml.data(), in.Xml.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!r) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(doc.first_child());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.Xml.size()));
}

void BM_Encode(benchmark::State& state) {
  TInputs& in = Fixture();
  dct::TXMLEncoder enc;
  for (auto _ : state) {
    std::string text = enc.Encode(in.Value);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.Xml.size()));
}

void BM_EncodeFloor_PugixmlSave(benchmark::State& state) {
  TInputs& in = Fixture();
  for (auto _ : state) {
    TStringWriter writer;
    in.Doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    benchmark::DoNotOptimize(writer.Out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.Xml.size()));
}

BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_DecodeFloor_PugixmlParse)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_EncodeFloor_PugixmlSave)->Unit(benchmark::kMillisecond)->MinTime(2);

// Console output as usual, plus the CPU time of every run for the ratios: the machine may be
// shared, and the process is single-threaded, so CPU time is the steadier measure.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  TRatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration) FTimes[run.run_name.function_name] = run.GetAdjustedCPUTime();
  }
  double Time(const std::string& name) const {
    auto it = FTimes.find(name);
    return it == FTimes.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> FTimes;
};

// ---- Peak memory: /proc/self/status VmHWM, reset through clear_refs before each call ----

long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  size_t n = std::strlen(key);
  while (std::getline(status, line))
    if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':')
      return std::atol(line.c_str() + n + 1);
  return -1;
}

bool ResetPeak() {
  dct::ReleaseFreedMemory();  // give freed heap back first, so that the start is what is really held
  std::ofstream f("/proc/self/clear_refs");
  f << "5";
  f.flush();
  return f.good();
}

void ReportPeaks() {
  double mb = 1024.0;
  long start = StatusKb("VmRSS");
  std::string xml;
  {
    dct::Variant value = dct::MakeCatalogueValue(gItems);
    dct::ReleaseFreedMemory();
    long held = StatusKb("VmRSS") - start;
    std::printf("catalogue value (%d x 11): %.1f MB resident\n", gItems, held / mb);
    bool reset = ResetPeak();
    long base = StatusKb("VmRSS");
    xml = dct::TXMLEncoder().Encode(value);
    long peak = StatusKb("VmHWM");
    std::printf("Encode: %.1f MB of text, peak %.1f MB above start%s\n", xml.size() / 1048576.0,
                (peak - base) / mb, reset ? "" : " (peak not resettable: whole-process figure)");
  }
  bool reset = ResetPeak();
  long base = StatusKb("VmRSS");
  dct::Variant decoded = dct::TXMLEncoder().Decode(xml);
  long peak = StatusKb("VmHWM");
  dct::ReleaseFreedMemory();
  long after = StatusKb("VmRSS");
  double textKb = xml.size() / 1024.0;
  std::printf("Decode: peak %.1f MB above start, result holds %.1f MB%s\n", (peak - base) / mb,
              (after - base) / mb, reset ? "" : " (peak not resettable: whole-process figure)");
  std::printf("Decode peak / text: %.2f, peak / result: %.2f (the text itself is the caller's)\n",
              (peak - base) / textKb, static_cast<double>(peak - base) / (after - base));
  decoded.Clear();

  reset = ResetPeak();
  base = StatusKb("VmRSS");
  {
    pugi::xml_document doc;
    doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8);
    peak = StatusKb("VmHWM");
  }
  std::printf("pugixml parse alone (floor): peak %.1f MB above start, %.2f x the text\n", (peak - base) / mb,
              (peak - base) / textKb);
}

}  // namespace

int main(int argc, char** argv) {
  int kept = 1;
  for (int k = 1; k < argc; ++k) {
    if (std::strncmp(argv[k], "--items=", 8) == 0)
      gItems = std::atoi(argv[k] + 8);
    else
      argv[kept++] = argv[k];
  }
  argc = kept;
  if (gItems < 1) gItems = 1;
  ReportPeaks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TRatioReporter reporter;  // plain text: no colour codes in logs
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  double decode = reporter.Time("BM_Decode"), parse = reporter.Time("BM_DecodeFloor_PugixmlParse");
  double encode = reporter.Time("BM_Encode"), save = reporter.Time("BM_EncodeFloor_PugixmlSave");
  if (parse > 0 && decode > 0)
    std::printf("Decode / pugixml parse: %.2f (CPU time; goal <= 2)\n", decode / parse);
  if (save > 0 && encode > 0)
    std::printf("Encode / pugixml save:  %.2f (CPU time; goal <= 2)\n", encode / save);
  return 0;
}
