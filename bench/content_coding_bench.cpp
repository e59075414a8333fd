// The gzip level for answers, by measurement: the 100,000-item catalogue's DownloadItems
// answer envelope compressed at levels 1..9 (MB/s of answer text, compressed size, ratio),
// and each result inflated again as a client would, plus the SaveItemsToBuff request of the
// same catalogue inflated as the listener will (from level 1 and from zlib's default, 6).
// The floor is a plain copy of the answer, so that the machine's memory speed is in the run.
// Times are CPU seconds of this process (best of the rounds): the machine is shared, and what
// the level costs the server is CPU, whatever else runs beside it.
//
//   content_coding_bench [ITEMS | ANSWER_FILE] [ROUNDS]   (default 100000 items, best of 3)
// ANSWER_FILE: a DownloadItems answer body saved from the server, measured in place of the
// generated one.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/CatalogueFixture.h"
#include "bench/ProgramClient_posix.h"
#include "service/HTTPContentCoding.h"
#include "service/uSOAPMessage.h"
#include "values/uXMLEncoder.h"

namespace {

// Best CPU time of rounds calls of f, in seconds.
template <typename F>
double BestSeconds(int rounds, F f) {
  double best = 1e9;
  for (int r = 0; r < rounds; ++r) {
    const std::clock_t start = std::clock();
    f();
    best = std::min(best, static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
  }
  return best;
}

std::string Inflated(const std::string& gz, size_t limit) {
  dct::TBodyInflater inflater(dct::TContentCoding::Gzip, limit);
  std::string out;
  out.reserve(limit);
  if (inflater.Feed(gz, out) != dct::TInflateStatus::Ok || inflater.Finish() != dct::TInflateStatus::Ok) {
    std::fprintf(stderr, "content_coding_bench: the gzip text does not inflate\n");
    std::exit(1);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string source = argc > 1 ? argv[1] : "100000";
  const bool fromFile = source.find_first_not_of("0123456789") != std::string::npos;
  const int items = fromFile ? 100000 : std::atoi(source.c_str());
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const dct::Variant catalogue = dct::MakeCatalogueValue(items);

  std::string answer;
  if (fromFile) {
    std::ostringstream text;
    text << std::ifstream(source, std::ios::binary).rdbuf();
    answer = text.str();
  } else {
    // The answer as the dispatcher writes it: the item table as one-element value text.
    dct::TSOAPResponseWriter writer(dct::MobileDCTInterface(), "ExecuteCommand");
    writer.Boolean("return", true);
    writer.String("OutputParameters", dct::TXMLEncoder().Encode(dct::Variant::ArrayOf({catalogue.At(1)})));
    writer.Int("ResultCode", 0);
    writer.String("ResultDescription", "Нет ошибок");
    answer = writer.Finish();
  }
  const std::string request =
      dct::bench::ExecuteCommandBody("SaveItemsToBuff", dct::TXMLEncoder().Encode(catalogue));
  const double mb = answer.size() / 1e6;

  std::string copy;
  const double copySeconds = BestSeconds(rounds, [&] { copy.assign(answer.data(), answer.size()); });
  std::printf("DownloadItems answer (%s): %.1f MB; copy floor %.0f MB/s (%.1f ms CPU)\n",
              fromFile ? source.c_str() : (std::to_string(items) + " items, generated").c_str(), mb,
              mb / std::max(copySeconds, 1e-6), copySeconds * 1e3);
  std::printf("level  compress MB/s  CPU ms   gzip bytes  ratio  inflate MB/s  CPU ms\n");
  for (int level = 1; level <= 9; ++level) {
    std::string gz;
    const double c = BestSeconds(rounds, [&] { gz = dct::GzipCompress(answer, level); });
    std::string back;
    const double d = BestSeconds(rounds, [&] { back = Inflated(gz, answer.size()); });
    if (back != answer) {
      std::fprintf(stderr, "content_coding_bench: level %d does not round-trip\n", level);
      return 1;
    }
    std::printf("%5d  %13.0f  %6.0f  %11zu  %5.1f  %12.0f  %6.0f\n", level, mb / c, c * 1e3, gz.size(),
                static_cast<double>(answer.size()) / gz.size(), mb / d, d * 1e3);
  }
  const double rmb = request.size() / 1e6;
  for (int level : {1, 6}) {
    const std::string gz = dct::GzipCompress(request, level);
    std::string back;
    const double d = BestSeconds(rounds, [&] { back = Inflated(gz, request.size()); });
    if (back != request) return 1;
    std::printf(
        "SaveItemsToBuff request %.1f MB, gzip level %d: %zu bytes (ratio %.1f), inflated at %.0f MB/s "
        "(%.0f ms)\n",
        rmb, level, gz.size(), static_cast<double>(request.size()) / gz.size(), rmb / d, d * 1e3);
  }
  return 0;
}
