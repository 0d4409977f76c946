// Packs files into upload streams the way a send run does (envelope + file, bzip2 level 1,
// one record each) and prints the packing rate. Used by bench/send.sh beside `bzip2 -1`.
// Usage: pack_upload TEMPFOLDER FILE...
#include "foundation/random.h"
#include "transport/upload_record.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <sys/stat.h>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: pack_upload TEMPFOLDER FILE...\n");
    return 2;
  }
  std::string temp = argv[1];
  if (temp.back() != '/') temp += '/';
  px::RandomSource random;
  uint64_t in = 0, out = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 2; i < argc; ++i) {
    struct stat st;
    if (::stat(argv[i], &st) != 0) continue;
    px::transport::EnvelopeFields f;
    f.from = "alice";
    f.user = "alice";
    f.to = {"bob"};
    f.date = "Thu, 10 Dec 2026 15:00 +0000 (UTC)";
    f.subject = argv[i];
    f.fileName = argv[i];
    f.ext = "bin";
    px::transport::UploadStream s;
    std::string error;
    if (!s.Create(temp, random, &error) ||
        !s.AppendRecord(px::transport::EnvelopeText(f, st.st_size), argv[i], st.st_size, &error)) {
      std::fprintf(stderr, "pack_upload: %s\n", error.c_str());
      return 1;
    }
    in += static_cast<uint64_t>(st.st_size);
    out += s.Size();
  }
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("%.3f %llu %llu\n", secs, static_cast<unsigned long long>(in), static_cast<unsigned long long>(out));
  return 0;
}
