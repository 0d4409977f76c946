// plumadex-cli search [--in FOLDER] [--scan] [--whole-words] [--case] [--any] QUERY...
// Prints the path of every document under FOLDER (the documents folder by default) whose title,
// addresses, sticker note or text holds the words of QUERY (all of them, or any with --any).
// Documents are read as the filter panel reads them with "Search inside files": Word, rich text,
// OpenDocument, Office XML, HTML, messages and plain files. There is no index yet, so every search
// scans the tree (--scan says so explicitly). Exit status: 0 when something was found, 1 when
// nothing was, 2 on a usage or folder error.
#include "app/cli_commands.h"

#include "foundation/locations.h"
#include "search/filter.h"
#include "search/search_thread.h"
#include "store/index_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <string>

namespace px::cli {
namespace {

int Usage() {
  PrintErr("usage: plumadex-cli search [--in FOLDER] [--scan] [--whole-words] [--case] [--any] QUERY...\n");
  return 2;
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
  search::FilterCriteria criteria;
  criteria.searchInside = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--in") {
      if (i + 1 >= args.size()) return Usage();
      folder = args[++i];
    } else if (a == "--scan") {
      // the only way there is until the index exists
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

  store::IniRegistry registry;
  search::SearchRequest req;
  req.root = folder;
  req.trashFolder = loc.trash;
  req.criteria = criteria;
  req.listing.registry = &registry;
  req.listing.documentsFolder = loc.documents;
  req.listing.contactsFolder = loc.contacts;
  req.listing.dataRoot = loc.dataRoot;
  req.listing.tempFolder = loc.tempFolder;
  req.listing.bundlesTogether = false;
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

}  // namespace px::cli
