// Re-sorting a listing of 100,000 records, as a click on a column header does.
#include "store/doc_sort.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace {

using px::store::DocRecord;
using px::store::DocRows;

DocRows MakeRows(size_t n) {
  const char* words[] = {"Meeting", "report", "Invoice", "holiday", "Photos", "draft", "agenda", "Zoë"};
  const char* exts[] = {"txt", "pdf", "doc", "jpg", "eml", "vcf"};
  uint64_t s = 12345;
  auto next = [&] {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  };
  DocRows rows(n);
  for (size_t i = 0; i < n; ++i) {
    DocRecord& r = rows[i];
    r.folder = "/home/user/Documents/Archive/";
    r.title = std::string(words[next() % 8]) + " " + words[next() % 8] + " " + std::to_string(next() % 1000);
    r.ext = exts[next() % 6];
    r.name = "file" + std::to_string(i) + "." + r.ext;
    r.date = 36000 + static_cast<double>(next() % 9000000) / 1000.0;
    r.size = next() % 10000000;
    r.flags = static_cast<int>(next() % 4 == 0 ? 0 : 0x1000 | (next() % 16) * 2);
    r.shownAddress = std::string(words[next() % 8]) + " Sender";
    if (next() % 3 == 0) r.msgId = "base" + std::to_string(i / 3) + ":00" + std::to_string(1 + i % 3) + "/003";
  }
  return rows;
}

void BM_SortListing(benchmark::State& state) {
  const DocRows base = MakeRows(static_cast<size_t>(state.range(1)));
  px::store::SortOptions opt;
  opt.sorting = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    DocRows rows = base;
    state.ResumeTiming();
    px::store::SortDocRecords(rows, opt);
    benchmark::DoNotOptimize(rows.data());
    state.PauseTiming();
    rows.clear();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(1));
}

BENCHMARK(BM_SortListing)
    ->ArgsProduct({{-1, 1, 2, 3, 4, -4, 5, 6, -7}, {100000}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
