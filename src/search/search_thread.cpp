#include "search/search_thread.h"

#include "search/doc_index.h"
#include "search/folder_walk.h"

#include <set>

namespace px::search {

using Identity = FolderIdentity;

SearchRunResult SearchTree(const SearchRequest& req, const std::atomic<bool>& stop,
                           const std::function<void(const std::string&)>& progress) {
  SearchRunResult result;
  TSearchEngine engine;
  ConfigureEngine(engine, req.criteria);
  UnreadableFiles unreadable;
  FilterEnv env;
  env.criteria = &req.criteria;
  env.engine = &engine;
  env.groupMembers = req.groupMembers;
  env.stop = &stop;
  env.unreadable = &unreadable;
  env.indexed = req.indexed.get();

  store::ListingContext ctx = req.listing;
  ctx.searchMatches = [&env](const store::DocRecord& d) { return MatchesFilter(d, env); };
  ctx.bundlesTogether = req.criteria.bundles;

  Identity trash{};
  const bool hasTrash = !req.trashFolder.empty() && IdentityOfFolder(req.trashFolder, trash);
  Identity rootId{};
  if (!IdentityOfFolder(req.root, rootId)) return result;

  struct Node {
    std::string folder;
    size_t parent;
    FolderCounts counts;
  };
  std::vector<Node> nodes;
  std::set<Identity> visited{rootId};
  nodes.push_back({req.root, SIZE_MAX, {req.rootOwnCount, 0}});
  // Depth first, in name order, without recursion.
  std::vector<size_t> stack{0};
  while (!stack.empty()) {
    if (stop.load()) {
      result.stopped = true;
      break;
    }
    const size_t at = stack.back();
    stack.pop_back();
    const std::string folder = nodes[at].folder;
    ++result.folders;
    if (at != 0 || req.listRoot) {
      if (progress) progress(folder);
      store::DocRows rows;
      const store::ListingResult lr = store::FetchDocs(ctx, true, folder, rows);
      nodes[at].counts.own = static_cast<int64_t>(lr.added);
      if (req.keepFound)
        for (store::DocRecord& r : rows) result.found.push_back(std::move(r));
    }
    auto subs = SubfoldersOf(folder);
    for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
      if (hasTrash && it->second == trash) continue;
      if (!visited.insert(it->second).second) continue;
      nodes.push_back({it->first, at, {}});
      stack.push_back(nodes.size() - 1);
    }
  }
  if (stop.load()) result.stopped = true;
  // Subtree totals: children come after their parents in the node list.
  for (Node& n : nodes) n.counts.total += n.counts.own;
  for (size_t i = nodes.size(); i-- > 1;) nodes[nodes[i].parent].counts.total += nodes[i].counts.total;
  for (const Node& n : nodes)
    if (n.counts.total > 0) result.counts[n.folder] = n.counts;
  result.unreadable = unreadable.Take();
  return result;
}

TSearchThread::TSearchThread(SearchRequest request, QObject* parent)
    : QThread(parent), request_(std::move(request)) {}

void TSearchThread::run() {
  setPriority(QThread::LowPriority);
  result_ = SearchTree(request_, stop_, [this](const std::string& folder) {
    emit Searching(QString::fromStdString(folder));
  });
}

}  // namespace px::search
