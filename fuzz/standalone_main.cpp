// Replays every file of the given folders (or the given files) through the fuzz target,
// so crashers found by libFuzzer stay fixed. A missing folder replays nothing.
// Each input has a time bound (PLUMADEX_FUZZ_TIMEOUT seconds, 20 by default, as libFuzzer's
// -timeout): an input that hangs the target fails the replay and is named.
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static char g_current[1024];
static unsigned g_timeout = 20;

static void onTimeout(int) {
  static const char kText[] = "input took too long: ";
  (void)!write(2, kText, sizeof kText - 1);
  (void)!write(2, g_current, std::strlen(g_current));
  (void)!write(2, "\n", 1);
  _exit(70);
}

static void runOne(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::snprintf(g_current, sizeof g_current, "%s", p.string().c_str());
  alarm(g_timeout);
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  alarm(0);
}

int main(int argc, char** argv) {
  if (const char* t = std::getenv("PLUMADEX_FUZZ_TIMEOUT"); t && std::atoi(t) > 0) g_timeout = static_cast<unsigned>(std::atoi(t));
  std::signal(SIGALRM, onTimeout);
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
