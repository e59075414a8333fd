// --import-items against its floor, the same catalogue posted directly as SaveItemsToBuff.
//
//   operator_bench PROGRAM [ROUNDS]
//
// Starts PROGRAM on a free port, writes the 100,000-item fixture catalogue as a CSV file, and
// per round (alternating, so that a noisy neighbour hits both alike): posts the catalogue's
// value text directly (the floor: what any client must send and the server must store), then
// runs PROGRAM --import-items on the file (reading, checking, encoding and sending it) and
// reads the catalogue back with DownloadItems, comparing every field with the fixture.
// Prints each round, the means and the ratio import / direct.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <tuple>

#include "bench/CatalogueFixture.h"
#include "bench/ProgramClient_posix.h"
#include "device/uDeviceCommon.h"
#include "host/DocumentExport.h"
#include "host/ServiceClient.h"
#include "values/uCSVText.h"
#include "values/uXMLEncoder.h"

using namespace dct;
using namespace dct::bench;

namespace {

constexpr int kItems = 100000;
constexpr int kMaxRounds = 20;  // each round loads the catalogue three times

std::string PriceText(Currency price) {
  const int64_t whole = price.Count / Currency::kScale, frac = price.Count % Currency::kScale;
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%lld.%04lld", static_cast<long long>(whole),
                static_cast<long long>(frac));
  return buffer;
}

std::string CatalogueCSV(const TItemsArray& items) {
  std::string out;
  AppendCSVRecord(out, {"barcode", "name", "unit", "additionaldata", "series", "quality", "price", "quantity",
                        "useserialnum", "useweight", "usefractvalue"});
  for (const TItemRec& i : items)
    AppendCSVRecord(out, {i.Barcode, i.Name, i.UnitName, i.AdditioanalData, i.Series, i.Quality,
                          PriceText(i.Price), QuantityText(i.Quantity), i.UseSerialNum ? "1" : "0",
                          i.UseWeight ? "true" : "false", i.UseFractValue ? "1" : "0"});
  return out;
}

void CompareWithStored(int port, TItemsArray expected) {
  Call(port, ExecuteCommandBody("DownloadItems", ""));
  const std::string& response = LastAnswer();
  const TCommandAnswer answer =
      ParseExecuteCommandAnswer(200, response.substr(response.find("\r\n\r\n") + 4));
  TXMLEncoder encoder;
  TItemsArray stored = VariantToItemsArray(encoder.Decode(answer.OutputParameters).At(0));
  auto byBarcode = [](const TItemRec& a, const TItemRec& b) { return a.Barcode < b.Barcode; };
  std::sort(stored.begin(), stored.end(), byBarcode);
  std::sort(expected.begin(), expected.end(), byBarcode);
  if (stored.size() != expected.size()) Fail("stored " + std::to_string(stored.size()) + " items");
  for (size_t k = 0; k < stored.size(); ++k) {
    const TItemRec& a = stored[k];
    const TItemRec& b = expected[k];
    // The fixture's prices are whole kopecks and its quantities whole thousandths, which the
    // buffer keeps exactly.
    if (std::tie(a.Barcode, a.Name, a.UnitName, a.AdditioanalData, a.Series, a.Quality, a.Price, a.Quantity,
                 a.UseSerialNum, a.UseWeight, a.UseFractValue) !=
        std::tie(b.Barcode, b.Name, b.UnitName, b.AdditioanalData, b.Series, b.Quality, b.Price, b.Quantity,
                 b.UseSerialNum, b.UseWeight, b.UseFractValue))
      Fail("item " + b.Barcode + " differs after the round trip");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) Fail("usage: operator_bench PROGRAM [ROUNDS]");
  const std::string program = argv[1];
  const int rounds = std::clamp(argc > 2 ? std::atoi(argv[2]) : 3, 1, kMaxRounds);
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("operator_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(root);

  const Variant value = MakeCatalogueValue(kItems);
  const TItemsArray items = VariantToItemsArray(value.At(1));
  const std::string file = (root / "catalogue.csv").string();
  const std::string csv = CatalogueCSV(items);
  std::ofstream(file, std::ios::binary).write(csv.data(), static_cast<std::streamsize>(csv.size()));
  TXMLEncoder encoder;
  const std::string valueText = encoder.Encode(value);

  double direct = 0, imported = 0, readBack = 0;
  {
    TProgram server(program, root.string() + "/");
    const std::string command =
        program + " --import-items " + file + " --port " + std::to_string(server.port) + " >/dev/null";
    std::printf("%d items, CSV %.1f MB, value text %.1f MB\n", kItems, csv.size() / 1e6,
                valueText.size() / 1e6);
    for (int r = 0; r < rounds; ++r) {
      Clock::time_point t = Clock::now();
      Call(server.port, ExecuteCommandBody("SaveItemsToBuff", valueText));
      const double d = Seconds(t);
      t = Clock::now();
      if (std::system(command.c_str()) != 0) Fail(command);
      const double i = Seconds(t);
      t = Clock::now();
      CompareWithStored(server.port, items);
      const double c = Seconds(t);
      std::printf(
          "round %d: direct SaveItemsToBuff %.0f ms, --import-items %.0f ms, DownloadItems and compare %.0f "
          "ms\n",
          r + 1, d * 1e3, i * 1e3, c * 1e3);
      direct += d;
      imported += i;
      readBack += c;
    }
  }
  std::filesystem::remove_all(root);
  std::printf("mean: direct %.0f ms, --import-items %.0f ms (ratio %.2f); read back and compare %.0f ms\n",
              direct / rounds * 1e3, imported / rounds * 1e3, imported / direct, readBack / rounds * 1e3);
  return 0;
}
