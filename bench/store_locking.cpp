// What the safety of a changed index and of a batch move costs: the save of a small folder
// index with its cross-process lock and the check for a newer file, against the bare atomic
// rewrite of the same bytes; and the intent journal of a batch of documents, written and
// flushed before the first file moves, then removed.
#include "foundation/atomic_file.h"
#include "foundation/ini_file.h"
#include "store/move_journal.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <string>
#include <vector>

using px::TPXIniBase;
using px::store::BatchJournal;
using px::store::JournalItem;

namespace {

constexpr int kEntries = 50;

std::string entryText(int i) {
  const std::string n = std::to_string(i);
  return "[doc" + n + ".txt]\r\nTitle=Document " + n + "\r\nFlags=4609\r\nAddress=sender" + n +
         "@example.org\r\n\r\n";
}

// One change and the save of an index of kEntries entries: lock, stamp check, atomic rewrite.
void BM_IndexSaveLocked(benchmark::State& state) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/Plumadex.ini";
  TPXIniBase ini(path, TPXIniBase::Kind::FolderIndex);
  for (int i = 0; i < kEntries; ++i) ini.WriteString("doc" + std::to_string(i) + ".txt", "Title", "Document");
  (void)ini.UpdateFile();
  int n = 0;
  for (auto _ : state) {
    ini.WriteString("doc1.txt", "Flags", std::to_string(n++));
    if (!ini.UpdateFile().ok()) state.SkipWithError("save failed");
  }
}
BENCHMARK(BM_IndexSaveLocked)->Unit(benchmark::kMicrosecond);

// The same bytes written by the bare atomic rewrite (no lock, no check).
void BM_IndexSavePlain(benchmark::State& state) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/Plumadex.ini";
  std::string text;
  for (int i = 0; i < kEntries; ++i) text += entryText(i);
  for (auto _ : state)
    if (!px::SaveFileAtomic(path, text, false).ok()) state.SkipWithError("save failed");
}
BENCHMARK(BM_IndexSavePlain)->Unit(benchmark::kMicrosecond);

// The journal of a batch of state.range(0) documents: written, flushed, removed.
void BM_JournalBatch(benchmark::State& state) {
  QTemporaryDir dir;
  const std::string root = dir.path().toStdString() + "/";
  std::vector<JournalItem> items(static_cast<size_t>(state.range(0)));
  for (size_t i = 0; i < items.size(); ++i) {
    JournalItem& j = items[i];
    j.folder = root + "Documents/Inbox/";
    j.name = "doc" + std::to_string(i) + ".txt";
    j.section = j.name;
    j.targetFolder = root + "Documents/Archive/";
    j.title = "Document " + std::to_string(i);
    j.dev = 2049;
    j.ino = 100000 + i;
    j.size = 4096;
    j.mtimeNs = 1765366920000000000;
    j.lines = {"Title=Document " + std::to_string(i), "Flags=4609", "Address=sender@example.org",
               "Time=12/10/26 11:42:00"};
  }
  BatchJournal journal(root + "Journal/");
  for (auto _ : state) {
    if (journal.Begin(items, true) != 0) state.SkipWithError("journal failed");
    journal.End();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_JournalBatch)->Arg(300)->Arg(5000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
