// The document grid's models over a folder of 100,000 records: sorting (key building included),
// view filtering, bundle grouping and the visible-row index.
#include <benchmark/benchmark.h>

#include "desk/grid_model.h"
#include "desk/view_filter.h"
#include "store/doc_sort.h"

#include <random>

namespace {

using px::store::DocRecord;
using px::store::DocRows;

// A folder in which a third of the documents are messages, each with up to three attachments.
DocRows MakeRows(size_t n) {
  std::mt19937 rng(42);
  DocRows rows;
  rows.reserve(n);
  static const char* const kExt[] = {"doc", "pdf", "jpg", "xls", "zip", "txt"};
  static const char* const kWho[] = {"Anna Smith <anna@example.com>", "bob@example.org",
                                     "\"Clara Jones\" <clara@example.net>", ""};
  size_t serial = 0;
  while (rows.size() < n) {
    const double date = 40000 + static_cast<double>(rng() % 3000000) / 1000.0;
    if (rng() % 3 == 0) {
      const int parts = 1 + static_cast<int>(rng() % 4);
      const std::string base = "2026" + std::to_string(100000 + serial++);
      const int kind = (rng() % 2) ? 0x1000 : 0x2000;
      for (int p = 1; p <= parts && rows.size() < n; ++p) {
        DocRecord r;
        r.folder = "/home/user/Documents/Mail/";
        r.ext = p == 1 ? "txt" : kExt[rng() % 5];
        r.title = p == 1 ? "Subject " + std::to_string(rng() % 50000) : "attachment" + std::to_string(p);
        r.name = r.title + "." + r.ext;
        r.date = date;
        r.size = rng() % 5000000;
        r.flags = kind | ((rng() % 5 == 0) ? 0x0200 : 0) | ((rng() % 4 == 0) ? 0x0100 : 0);
        r.msgId = base + ":" + std::to_string(1000 + p).substr(1) + "/" + std::to_string(1000 + parts).substr(1);
        r.address = kWho[rng() % 4];
        r.shownAddress = r.address;
        rows.push_back(std::move(r));
      }
    } else {
      DocRecord r;
      r.folder = "/home/user/Documents/Mail/";
      r.ext = kExt[rng() % 6];
      r.title = "Document " + std::to_string(rng() % 1000000);
      r.name = r.title + "." + r.ext;
      r.date = date;
      r.size = (uint64_t{rng()} << 8);
      r.flags = (rng() % 9) << 1;
      rows.push_back(std::move(r));
    }
  }
  return rows;
}

const DocRows& Rows() {
  static const DocRows rows = MakeRows(100000);
  return rows;
}

void BM_SortDocRecords(benchmark::State& state) {
  px::store::SortOptions o;
  o.sorting = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    DocRows rows = Rows();
    state.ResumeTiming();
    px::store::SortDocRecords(rows, o);
    benchmark::DoNotOptimize(rows.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(Rows().size()));
}
BENCHMARK(BM_SortDocRecords)->Arg(-1)->Arg(4)->Arg(2)->Arg(-7)->Unit(benchmark::kMillisecond);

void BM_SortOrderKeysOnly(benchmark::State& state) {
  px::store::SortOptions o;
  o.sorting = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(px::store::SortOrder(Rows(), o));
}
BENCHMARK(BM_SortOrderKeysOnly)->Arg(-1)->Arg(4)->Unit(benchmark::kMillisecond);

void BM_GroupBundles(benchmark::State& state) {
  DocRows rows = Rows();
  px::store::SortOptions so;
  px::store::SortDocRecords(rows, so);
  px::desk::GridOptions o{px::desk::GridTab::Files, -1};
  std::vector<int32_t> parents;
  for (auto _ : state) {
    px::desk::GroupBundles(rows, o, &parents);
    benchmark::DoNotOptimize(parents.data());
  }
}
BENCHMARK(BM_GroupBundles)->Unit(benchmark::kMillisecond);

void BM_ViewFilterPending(benchmark::State& state) {
  DocRows rows = Rows();
  for (auto _ : state) {
    px::desk::ApplyViewFilter(rows, px::desk::ViewFilter::Pending);
    benchmark::DoNotOptimize(rows.data());
  }
}
BENCHMARK(BM_ViewFilterPending)->Unit(benchmark::kMillisecond);

// The whole step after a listing or a header click: sort, filter, group, index.
void BM_GridModelSetRows(benchmark::State& state) {
  px::desk::GridModel model;
  for (auto _ : state) {
    state.PauseTiming();
    DocRows rows = Rows();
    state.ResumeTiming();
    model.SetRows(std::move(rows), {px::desk::GridTab::Files, -1});
    benchmark::DoNotOptimize(model.VisibleCount());
  }
}
BENCHMARK(BM_GridModelSetRows)->Unit(benchmark::kMillisecond);

void BM_GridModelResort(benchmark::State& state) {
  px::desk::GridModel model;
  model.SetRows(Rows(), {px::desk::GridTab::Files, -1});
  int order = 4;
  for (auto _ : state) {
    model.SetOptions({px::desk::GridTab::Files, order});
    order = order == 4 ? -1 : 4;
    benchmark::DoNotOptimize(model.VisibleCount());
  }
}
BENCHMARK(BM_GridModelResort)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
