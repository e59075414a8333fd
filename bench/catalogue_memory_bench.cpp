// Memory of the catalogue calls in the real program, with their times against the floors.
//
// For each catalogue size a fresh program (own port, own data root) loads the catalogue
// (SaveItemsToBuff mode 0) and downloads it (DownloadItems), kRounds times. Printed per
// size:
//   - the program's peak resident size (VmHWM) over the load request's size after the first
//     round and after the last: what the allocator keeps between calls shows as growth;
//   - the highest resident size sampled during each kind of call, and the resident size
//     left once all rounds are over;
//   - the best load and download times against FloorLoad and FloorDownload (ProgramClient_posix.h),
//     each floor run next to the call it is the floor of, so that both see the same machine.
//
//   catalogue_memory_bench SERVER [ITEMS...]      default ITEMS: 100000 1000000
// ITEMS up to 1,200,000: a larger load passes the largest request body the program takes.
// SERVER is the program (build/dct_korvelmobilesvc). About two minutes for both sizes.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/CatalogueFixture.h"
#include "bench/ProgramClient_posix.h"
#include "values/uXMLEncoder.h"

namespace {

namespace fs = std::filesystem;
using namespace dct::bench;

constexpr int kRounds = 3;
constexpr std::chrono::milliseconds kSampleEvery{5};

// The highest VmRSS seen while fn runs, sampled on a thread of its own.
double SampledPeakMiB(const TProgram& program, const std::function<void()>& fn) {
  std::atomic<bool> done{false};
  double peak = program.ResidentMiB();
  std::thread sampler([&] {
    while (!done.load()) {
      peak = std::max(peak, program.ResidentMiB());
      std::this_thread::sleep_for(kSampleEvery);
    }
  });
  fn();
  done.store(true);
  sampler.join();
  return std::max(peak, program.ResidentMiB());
}

double Timed(const std::function<void()>& fn) {
  const auto t0 = Clock::now();
  fn();
  return Seconds(t0);
}

void Measure(const std::string& programFile, const fs::path& work, int items) {
  std::string valueText = dct::TXMLEncoder().Encode(dct::MakeCatalogueValue(items));
  const std::string loadBody = ExecuteCommandBody("SaveItemsToBuff", valueText);
  const std::string downloadBody = ExecuteCommandBody("DownloadItems", "");
  const double requestMiB = loadBody.size() / 1048576.0;
  const fs::path dir = work / std::to_string(items);
  fs::create_directories(dir / "root");
  const std::string floorFile = (dir / "floor.db").string();

  TProgram program(programFile, (dir / "root").string() + "/");
  const double idleMiB = program.ResidentMiB();
  double ourLoad = 1e30, floorLoad = 1e30, ourDownload = 1e30, floorDownload = 1e30;
  double loadPeak = 0, downloadPeak = 0, firstRoundPeak = 0;
  size_t answerSize = 0;
  for (int round = 1; round <= kRounds; ++round) {
    floorLoad = std::min(floorLoad, Timed([&] { FloorLoad(valueText, floorFile); }));
    loadPeak = std::max(loadPeak, SampledPeakMiB(program, [&] {
                          ourLoad = std::min(ourLoad, Timed([&] { Call(program.port, loadBody); }));
                        }));
    downloadPeak = std::max(downloadPeak, SampledPeakMiB(program, [&] {
                              ourDownload = std::min(
                                  ourDownload, Timed([&] { answerSize = Call(program.port, downloadBody); }));
                            }));
    floorDownload = std::min(floorDownload, Timed([&] { FloorDownload(floorFile); }));
    // The answer carries every item's text again, escaped once more.
    if (answerSize < valueText.size()) Fail("the download answer is shorter than the catalogue");
    if (round == 1) firstRoundPeak = program.PeakMiB();
  }
  const double lastRoundPeak = program.PeakMiB();
  const double leftMiB = program.ResidentMiB();

  std::printf("%d items: request %.1f MiB, answer %.1f MiB; program idle %.1f MiB\n", items, requestMiB,
              answerSize / 1048576.0, idleMiB);
  std::printf(
      "  peak resident / request: %.2f after 1 round, %.2f after %d rounds (%.1f, %.1f MiB; goal <= 3, "
      "better 2)\n",
      firstRoundPeak / requestMiB, lastRoundPeak / requestMiB, kRounds, firstRoundPeak, lastRoundPeak);
  std::printf(
      "  sampled peak during load %.1f MiB, during download %.1f MiB; resident after the rounds %.1f MiB\n",
      loadPeak, downloadPeak, leftMiB);
  std::printf("  SaveItemsToBuff: ours %.3f s, floor %.3f s, ratio %.2f (goal <= 1.5)\n", ourLoad, floorLoad,
              ourLoad / floorLoad);
  std::printf("  DownloadItems:   ours %.3f s, floor %.3f s, ratio %.2f (goal <= 1.5)\n", ourDownload,
              floorDownload, ourDownload / floorDownload);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) Fail("usage: catalogue_memory_bench SERVER [ITEMS...]");
  std::vector<int> sizes;
  for (int i = 2; i < argc; ++i) {
    const int items = std::atoi(argv[i]);
    if (items < 1 || items > 1200000) Fail(std::string("items out of range: ") + argv[i]);
    sizes.push_back(items);
  }
  if (sizes.empty()) sizes = {100000, 1000000};
  const fs::path work = fs::temp_directory_path() / ("dct_memory_bench_" + std::to_string(::getpid()));
  std::printf("Catalogue load and download in the real program, %d rounds per size; best times\n", kRounds);
  for (int items : sizes) {
    Measure(argv[1], work, items);
    fs::remove_all(work / std::to_string(items));
  }
  fs::remove_all(work);
  return 0;
}
