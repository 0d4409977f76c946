// plumadex-cli search [--in FOLDER] [--scan] [--whole-words] [--case] [--any] QUERY...
// Prints the path of every document under FOLDER (the documents folder by default) that QUERY
// finds. Once the index is built (plumadex-cli index) it answers: QUERY is then the query
// language of the index (words, "phrases", from:, to:, subject:, date:A..B, AND, OR, NOT, word*).
// With --scan, --case, or while there is no index, the tree is scanned as the filter panel does
// with "Search inside files": QUERY's words are sought in titles, addresses, sticker notes and
// the documents' text (all of them, or any with --any). Exit status: 0 when something was found,
// 1 when nothing was, 2 on a usage, folder or query error.
//
// plumadex-cli index [--rebuild] builds the index of the documents folder or brings it up to
// date, with a progress line; --rebuild starts from an empty index.
#include "app/cli_commands.h"

#include "foundation/locations.h"
#include "search/doc_index.h"
#include "search/filter.h"
#include "search/search_thread.h"
#include "store/index_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <string>

namespace px::cli {
namespace {

int Usage() {
  PrintErr("usage: plumadex-cli search [--in FOLDER] [--scan] [--whole-words] [--case] [--any] QUERY...\n");
  return 2;
}

store::ListingContext listingOf(const Locations& loc, store::IniRegistry& registry) {
  store::ListingContext ctx;
  ctx.registry = &registry;
  ctx.documentsFolder = loc.documents;
  ctx.contactsFolder = loc.contacts;
  ctx.dataRoot = loc.dataRoot;
  ctx.tempFolder = loc.tempFolder;
  ctx.bundlesTogether = false;
  return ctx;
}

std::string absoluteFolder(std::string f) {
  if (f.empty() || f.front() != '/') {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd)) {
      std::string base = cwd;
      if (base.back() != '/') base += '/';
      f = base + (f == "." ? std::string() : f);
    }
  }
  if (f.back() != '/') f += '/';
  return f;
}

}  // namespace

int runSearch(const Args& args) {
  std::string folder;
  std::string query;
  bool scan = false;
  search::FilterCriteria criteria;
  criteria.searchInside = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--in") {
      if (i + 1 >= args.size()) return Usage();
      folder = args[++i];
    } else if (a == "--scan") {
      scan = true;
    } else if (a == "--whole-words") {
      criteria.wholeWords = true;
    } else if (a == "--case") {
      criteria.caseSensitive = true;
    } else if (a == "--any") {
      criteria.anyKeyword = true;
    } else if (a == "--") {
      for (++i; i < args.size(); ++i) query += " " + args[i];
    } else if (!a.empty() && a.front() == '-') {
      PrintErr("plumadex-cli search: unknown option \"%s\"\n", a.c_str());
      return Usage();
    } else {
      query += " " + a;
    }
  }
  criteria.keywords = search::SplitFilterKeywords(query);
  if (criteria.keywords.empty()) return Usage();

  const Locations loc = ComputeLocations();
  folder = folder.empty() ? loc.documents : absoluteFolder(folder);
  struct stat st{};
  if (folder.empty() || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    PrintErr("plumadex-cli search: \"%s\" is not a folder\n", folder.c_str());
    return 2;
  }
  criteria.contactsFolder = loc.contacts;

  const std::string indexFolder = search::IndexFolderOf(loc.dataRoot);
  if (!scan && !criteria.caseSensitive && search::IndexBuilt(indexFolder)) {
    const search::QueryResult qr = search::RunIndexQuery(indexFolder, query.substr(1), folder);
    if (!qr.ok) {
      PrintErr("plumadex-cli search: %s\n", qr.error.c_str());
      return 2;
    }
    std::string out;
    for (const search::IndexHit& h : qr.hits) out += ForConsole(h.path) + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return qr.hits.empty() ? 1 : 0;
  }

  store::IniRegistry registry;
  search::SearchRequest req;
  req.root = folder;
  req.trashFolder = loc.trash;
  req.criteria = criteria;
  req.listing = listingOf(loc, registry);
  req.criteria.bundles = false;
  req.keepFound = true;
  req.listRoot = true;
  std::atomic<bool> stop{false};
  const search::SearchRunResult r = search::SearchTree(req, stop);
  std::string out;
  for (const store::DocRecord& d : r.found) {
    out += ForConsole(search::FileToSearch(d, criteria));
    out += '\n';
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  const std::string summary = search::UnreadableFiles::Summary(r.unreadable);
  if (!summary.empty()) PrintErr("%s\n", summary.c_str());
  return r.found.empty() ? 1 : 0;
}

int runIndex(const Args& args) {
  bool rebuild = false;
  for (const std::string& a : args) {
    if (a == "--rebuild") {
      rebuild = true;
    } else {
      PrintErr("usage: plumadex-cli index [--rebuild]\n");
      return 2;
    }
  }
  Locations loc = ComputeLocations();
  MakeDataFolders(loc);  // a first run: the index lives in the data root
  store::IniRegistry registry;
  search::IndexUpdateRequest req;
  req.indexFolder = search::IndexFolderOf(loc.dataRoot);
  req.root = loc.documents;
  req.trashFolder = loc.trash;
  req.listing = listingOf(loc, registry);
  req.rebuild = rebuild;
  std::atomic<bool> stop{false};
  const bool tty = ::isatty(STDERR_FILENO);
  auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  const search::IndexUpdateResult r = search::UpdateIndex(req, stop, [&](const search::IndexProgress& p) {
    const auto now = std::chrono::steady_clock::now();
    if (now - last < std::chrono::milliseconds(tty ? 100 : 2000) && p.foldersDone != p.foldersTotal) return;
    last = now;
    PrintErr("%sIndexing: %lld/%lld folders, %lld documents (%lld read)%s", tty ? "\r" : "",
             static_cast<long long>(p.foldersDone), static_cast<long long>(p.foldersTotal),
             static_cast<long long>(p.documents), static_cast<long long>(p.extracted), tty ? "" : "\n");
  });
  if (tty) PrintErr("\n");
  if (!r.ok) {
    PrintErr("plumadex-cli index: %s\n", r.error.c_str());
    return 2;
  }
  std::printf("Indexed %lld documents in %lld folders: %lld read, %lld moved, %lld removed.\n",
              static_cast<long long>(r.counts.documents), static_cast<long long>(r.counts.foldersDone),
              static_cast<long long>(r.counts.extracted), static_cast<long long>(r.counts.repointed),
              static_cast<long long>(r.counts.removed));
  return 0;
}

}  // namespace px::cli
