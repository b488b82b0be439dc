// Replays fuzz inputs without libFuzzer: every file named on the command line,
// and every file of every folder named there, in name order, goes through the
// target once. CTest runs it over the seed and regression corpora, so every
// saved crash stays a test. At the end it reports the peak memory of the run.
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg = argv[i];
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else if (std::filesystem::exists(arg)) {
      files.push_back(arg);
    } else {
      std::fprintf(stderr, "no such input: %s\n", argv[i]);
      return 1;
    }
  }
  std::sort(files.begin(), files.end());
  for (const auto& path : files) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), data.size());
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%zu inputs replayed, peak memory %ld MB\n", files.size(), usage.ru_maxrss / 1024);
  return files.empty() ? 1 : 0;
}
