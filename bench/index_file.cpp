// Index file of a big mail folder: 100,000 sections of about ten keys (about 20 MB).
#include "foundation/atomic_file.h"
#include "store/index_file.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <malloc.h>
#include <fstream>
#include <string>

using px::StringList;
using px::store::IniRegistry;
using px::TPXIniBase;
using px::store::TPXIniFile;

namespace {

constexpr int kSections = 100000;

std::string sectionName(int i) { return "PX2026121011420" + std::to_string(1000000 + i) + ".txt"; }

std::string makeIndexText() {
  std::string t;
  t.reserve(22u << 20);
  // Written unsorted on purpose: the loader must not depend on the saved order.
  for (int k = 0; k < kSections; ++k) {
    int i = (k * 7919) % kSections;
    std::string n = std::to_string(i);
    t += "[" + sectionName(i) + "]\r\n";
    t += "Title=Quarterly report " + n + "\r\n";
    t += "Flags=4609\r\n";
    t += "Address=Some One <some" + n + "@example.com>\r\n";
    t += "To=me@example.org\r\n";
    t += "Time=12/10/26 11:42:00\r\n";
    t += "Sent=10 Dec 2026 11:42:00 +0100\r\n";
    t += "Recv=20261210\r\n";
    t += "MsgID=2026121011420" + n + ":001/3\r\n";
    t += "Charset=iso-8859-1\r\n";
    t += "Account=Work\r\n";
    t += "\r\n";
  }
  return t;
}

struct Fixture {
  QTemporaryDir dir;
  std::string path;
  Fixture() {
    path = dir.path().toStdString() + "/Plumadex.ini";
    std::ofstream(path, std::ios::binary) << makeIndexText();
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

long statusKb(const char* field) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  long kb = 0;
  std::string pattern = std::string(field) + ": %ld";
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, pattern.c_str(), &kb) == 1) break;
  std::fclose(f);
  return kb;
}
long peakRssKb() { return statusKb("VmHWM"); }

void BM_Load(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    TPXIniBase ini(f.path);
    benchmark::DoNotOptimize(ini.SectionCount());
  }
  state.counters["peak_rss_MB"] = double(peakRssKb()) / 1024.0;
  // Memory held by one loaded index, the file text already freed.
  size_t before = mallinfo2().uordblks;
  TPXIniBase held(f.path);
  state.counters["file_MB"] = double(QFileInfo(QString::fromStdString(f.path)).size()) / (1024.0 * 1024.0);
  state.counters["held_MB"] = double(mallinfo2().uordblks - before) / (1024.0 * 1024.0);
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

void BM_ReadSections(benchmark::State& state) {
  TPXIniBase ini(fixture().path);
  for (auto _ : state) {
    StringList names;
    ini.ReadSections(names);
    benchmark::DoNotOptimize(names.size());
  }
}
BENCHMARK(BM_ReadSections)->Unit(benchmark::kMillisecond);

// What a listing does: one section lookup per file, by name.
void BM_ReadEverySection(benchmark::State& state) {
  TPXIniBase ini(fixture().path);
  StringList names;
  for (int i = 0; i < kSections; ++i) names.push_back(sectionName(i));
  for (auto _ : state) {
    size_t total = 0;
    StringList lines;
    for (const std::string& n : names) {
      ini.ReadSectionValues(n, lines);
      total += lines.size();
    }
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_ReadEverySection)->Unit(benchmark::kMillisecond);

void BM_ReadStringEverySection(benchmark::State& state) {
  TPXIniBase ini(fixture().path);
  StringList names;
  for (int i = 0; i < kSections; ++i) names.push_back(sectionName(i));
  for (auto _ : state) {
    size_t total = 0;
    for (const std::string& n : names) total += ini.ReadString(n, "msgid", "").size();
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_ReadStringEverySection)->Unit(benchmark::kMillisecond);

void BM_ForEachSection(benchmark::State& state) {
  TPXIniBase ini(fixture().path);
  for (auto _ : state) {
    size_t total = 0;
    ini.ForEachSection([&](std::string_view, std::span<const std::string_view> lines) { total += lines.size(); });
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_ForEachSection)->Unit(benchmark::kMillisecond);

void BM_Save(benchmark::State& state) {
  QTemporaryDir dir;
  std::string path = dir.path().toStdString() + "/Plumadex.ini";
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TPXIniBase copy(fixture().path);
    state.ResumeTiming();
    // One changed flag, then the whole file is written (as after a single operation).
    copy.WriteString(sectionName(n++ % kSections), "Flags", "4097");
    benchmark::DoNotOptimize(px::SaveFileAtomic(path, copy.Text()).ok());
  }
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

// Open, change one entry and release through the registry: the per-operation cost.
void BM_OpenWriteRelease(benchmark::State& state) {
  QTemporaryDir dir;
  std::string path = dir.path().toStdString() + "/Plumadex.ini";
  QFile::copy(QString::fromStdString(fixture().path), QString::fromStdString(path));
  IniRegistry reg;
  int n = 0;
  for (auto _ : state) {
    TPXIniFile ini(reg, path);
    ini.WriteString(sectionName(n++ % kSections), "Flags", "4097");
    benchmark::DoNotOptimize(ini.Release().ok());
  }
}
BENCHMARK(BM_OpenWriteRelease)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
