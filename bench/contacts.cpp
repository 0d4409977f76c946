// The address map over 20,000 contacts: building it from the Contacts folder's index and
// resolving 10,000 addresses, beside the floor of reading the same cards with a plain line
// reader. Run through bench/contacts.sh.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "contacts/address_map.h"
#include "contacts/contact_folder.h"
#include "contacts/vcard.h"
#include "foundation/ini_file.h"
#include "store/index_file.h"

namespace {

constexpr int kContacts = 20000;
constexpr int kLookups = 10000;

struct Folder {
  QTemporaryDir dir;
  std::string path;
  std::vector<std::string> files;
  std::vector<std::string> queries;

  Folder() {
    path = dir.path().toStdString() + "/";
    px::TPXIniBase index(path + "Plumadex.ini");
    for (int i = 0; i < kContacts; ++i) {
      px::contacts::AddrRec rec;
      rec.firstName = "First" + std::to_string(i);
      rec.lastName = "Last" + std::to_string(i);
      rec.primaryEmail = "person" + std::to_string(i) + "@example.com";
      rec.otherEmails = "alt" + std::to_string(i) + "@example.org";
      rec.phones[px::contacts::pkMobile] = "+31 6 " + std::to_string(10000000 + i);
      std::string name = "c" + std::to_string(i) + ".vcf";
      std::ofstream(path + name, std::ios::binary) << px::contacts::WriteVCard(rec, "20260101T000000");
      files.push_back(path + name);
      px::contacts::WriteContactKeys(index, name, rec, px::contacts::ContactTitle(rec));
    }
    if (const px::FileStatus st = index.UpdateFile(); !st.ok()) {
      std::fprintf(stderr, "%s\n", st.message.c_str());
      std::abort();
    }
    // Half known (primary or further address), half unknown.
    for (int i = 0; i < kLookups; ++i) {
      int k = (i * 7919) % kContacts;
      if (i % 2) queries.push_back("nobody" + std::to_string(i) + "@example.net");
      else if (i % 4) queries.push_back("alt" + std::to_string(k) + "@example.org");
      else queries.push_back("Person" + std::to_string(k) + "@Example.com");
    }
  }
};

Folder& TheFolder() {
  static Folder f;
  return f;
}

void BM_AddressMapBuildAndResolve(benchmark::State& state) {
  Folder& f = TheFolder();
  for (auto _ : state) {
    px::TPXIniBase index(f.path + "Plumadex.ini");
    px::contacts::AddressMap map;
    map.Build(index, true);
    int found = 0;
    for (const std::string& q : f.queries) found += map.FindAddress(q) != nullptr;
    if (found != kLookups / 2) state.SkipWithError("wrong number of addresses resolved");
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_AddressMapBuildAndResolve)->Unit(benchmark::kMillisecond);

// The floor: every card read line by line, nothing parsed.
void BM_PlainLineReaderOfTheCards(benchmark::State& state) {
  Folder& f = TheFolder();
  for (auto _ : state) {
    size_t lines = 0;
    char buf[4096];
    for (const std::string& file : f.files) {
      FILE* in = std::fopen(file.c_str(), "rb");
      if (!in) continue;
      while (std::fgets(buf, sizeof buf, in)) ++lines;
      std::fclose(in);
    }
    benchmark::DoNotOptimize(lines);
  }
}
BENCHMARK(BM_PlainLineReaderOfTheCards)->Unit(benchmark::kMillisecond);

// For scale: reading every card into a record (what a synchronisation of a changed folder does).
void BM_ReadEveryCard(benchmark::State& state) {
  Folder& f = TheFolder();
  for (auto _ : state) {
    size_t n = 0;
    for (const std::string& file : f.files) n += px::contacts::ReadContactFile(file).has_value();
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_ReadEveryCard)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
