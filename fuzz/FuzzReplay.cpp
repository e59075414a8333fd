// Runs a fuzz target once over every file in the folders (and files) named on the command
// line: the replay test that keeps the seeds and the regressions passing in the normal
// build, without libFuzzer. A failed check aborts, which fails the test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg = argv[i];
    if (fs::is_directory(arg)) {
      for (const fs::directory_entry& e : fs::recursive_directory_iterator(arg)) {
        if (e.is_regular_file() && e.path().filename() != ".gitkeep") inputs.push_back(e.path());
      }
    } else if (fs::is_regular_file(arg)) {
      inputs.push_back(arg);
    } else {
      std::fprintf(stderr, "replay: no such file or folder: %s\n", argv[i]);
      return 2;
    }
  }
  std::sort(inputs.begin(), inputs.end());
  for (const fs::path& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
      return 2;
    }
    std::fprintf(stderr, "replay: %s\n", path.c_str());
    // A block of exactly the input's size, so that AddressSanitizer sees a read past its end.
    std::unique_ptr<uint8_t[]> block(new uint8_t[bytes.size()]);
    std::memcpy(block.get(), bytes.data(), bytes.size());
    LLVMFuzzerTestOneInput(block.get(), bytes.size());
  }
  std::printf("replay: %zu inputs passed\n", inputs.size());
  return 0;
}
