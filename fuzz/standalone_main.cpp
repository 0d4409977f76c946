// Replays every file of the given folders (or the given files) through the fuzz target,
// so crashers found by libFuzzer stay fixed. A missing folder replays nothing.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void runOne(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path p(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_directory(p, ec)) {
      for (auto& e : std::filesystem::recursive_directory_iterator(p, ec))
        if (e.is_regular_file()) { runOne(e.path()); ++count; }
    } else if (std::filesystem::is_regular_file(p, ec)) {
      runOne(p);
      ++count;
    }
  }
  // Always exercise the empty input too.
  LLVMFuzzerTestOneInput(nullptr, 0);
  std::printf("replayed %d inputs\n", count);
  return 0;
}
