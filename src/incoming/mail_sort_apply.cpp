#include "incoming/mail_sort_apply.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>

#include "foundation/text_case.h"
#include "mailformat/message_id.h"
#include "store/doc_operations.h"
#include "store/doc_record.h"
#include "store/folder_files.h"
#include "store/index_file.h"
#include "store/tree_ops.h"

namespace px::incoming {

namespace {

bool IsDir(const std::string& path) {
  struct stat st{};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Slashed(std::string p) {
  if (!p.empty() && p.back() != '/') p += '/';
  return p;
}

struct FolderMessage {
  std::string base;
  int firstPart = 1 << 30;
  RuleMessage message;
  std::string title;
  std::vector<store::OpItem> items;
};

// The folder's messages by message-id base, in index order; a message is seen through its
// first part (the body), with every part kept for the operations.
std::vector<FolderMessage> MessagesOf(store::IniRegistry& registry, const std::string& folder) {
  std::vector<FolderMessage> out;
  std::map<std::string, size_t> byBase;
  store::TPXIniFile index(registry, store::IndexPathOf(folder));
  index.ForEachSection([&](std::string_view name, std::span<const std::string_view> lines) {
    if (name.empty() || name.starts_with("$$$")) return;  // links, contact references, markers
    std::vector<std::pair<std::string, std::string>> keys;
    std::string msgId;
    store::OpItem it;
    it.folder = folder;
    it.refFolder = folder;
    it.name = std::string(name);
    it.ext = store::ExtensionOf(it.name);
    for (auto l : lines) {
      const size_t eq = l.find('=');
      if (eq == std::string_view::npos) continue;
      std::string k(l.substr(0, eq)), v(l.substr(eq + 1));
      if (SameText(k, "MsgID")) msgId = v;
      else if (SameText(k, "Title")) it.title = v;
      else if (SameText(k, "Flags")) it.flags = std::atoi(v.c_str());
      else if (SameText(k, "Address")) it.address = v;
      else if (SameText(k, "Charset")) it.charset = v;
      keys.emplace_back(std::move(k), std::move(v));
    }
    if (!store::PathExists(folder + it.name)) return;
    // Received mail of a single part may carry no MsgID: it is a message of its own.
    if (msgId.empty() && !(it.flags & store::dfReceived)) return;
    it.msgId = msgId;
    if (it.title.empty()) it.title = store::StripExtension(it.name);
    const auto id = mailformat::ParseMessageId(msgId);
    const std::string base = msgId.empty() ? "/" + it.name : id.base;
    auto [pos, fresh] = byBase.try_emplace(base, out.size());
    if (fresh) {
      out.emplace_back();
      out.back().base = base;
    }
    FolderMessage& m = out[pos->second];
    const int part = id.part > 0 ? id.part : 1;
    if (part < m.firstPart) {
      m.firstPart = part;
      m.message = RuleMessageOfEntry(folder, it.name, keys);
      m.title = it.title;
    }
    m.items.push_back(std::move(it));
  });
  return out;
}

void Walk(const MailSortRules& rules, const std::vector<FolderMessage>& messages, const SortRule* only,
          ApplyRulesResult& res) {
  std::set<std::string> missing;
  for (const auto& m : messages) {
    for (char kind : {'C', 'M', 'D'}) {
      std::vector<const SortRule*> hits;
      if (only) {
        SortRule on = *only;
        on.enabled = true;
        if (on.action == kind && rules.RuleMatches(on, m.message)) hits.push_back(only);
      } else {
        hits = rules.Matching(kind, m.message);
      }
      for (const SortRule* r : hits) {
        RuleHit h{m.base, m.title, m.message.sender, r->name, r->action,
                  r->action == 'D' ? std::string() : Slashed(r->folder)};
        if (!h.folder.empty() && !IsDir(h.folder) && missing.insert(h.folder).second)
          res.missingFolders.push_back(h.folder);
        res.hits.push_back(std::move(h));
      }
    }
  }
}

}  // namespace

ApplyRulesResult TestRulesOnFolder(const MailSortRules& rules, store::IniRegistry& registry,
                                   const std::string& folder, const SortRule* only) {
  ApplyRulesResult res;
  Walk(rules, MessagesOf(registry, Slashed(folder)), only, res);
  return res;
}

ApplyRulesResult ApplyRulesToFolder(const MailSortRules& rules, const store::OpServices& services,
                                    const std::string& folderIn) {
  ApplyRulesResult res;
  const std::string folder = Slashed(folderIn);
  auto messages = MessagesOf(*services.registry, folder);
  Walk(rules, messages, nullptr, res);
  if (res.hits.empty()) return res;
  store::NullCollaborators none;
  store::DocOperations ops(services, none.Get());
  std::map<std::string, const FolderMessage*> byBase;
  for (const auto& m : messages) byBase[m.base] = &m;
  // Per message, in the order its hits came: copies, then its one move or its trip to the trash.
  std::map<std::string, std::vector<const RuleHit*>> plan;
  std::vector<std::string> order;
  for (const auto& h : res.hits) {
    if (!plan.count(h.baseId)) order.push_back(h.baseId);
    plan[h.baseId].push_back(&h);
  }
  for (const auto& base : order) {
    const FolderMessage& m = *byBase[base];
    const auto& hits = plan[base];
    const bool trash = std::any_of(hits.begin(), hits.end(), [](const RuleHit* h) { return h->action == 'D'; });
    std::string moveTo;
    if (!trash)
      for (const RuleHit* h : hits)
        if (h->action == 'M' && IsDir(h->folder) && h->folder != folder) {
          moveTo = h->folder;
          break;
        }
    std::set<std::string> done{folder};
    bool copied = false;
    for (const RuleHit* h : hits) {
      if (h->action == 'D' || h->folder == moveTo || !IsDir(h->folder) || !done.insert(h->folder).second) continue;
      auto items = m.items;
      for (auto& it : items) it.targetFolder = h->folder;
      if (ops.RunOnSelection(store::opCopy, items) > 0) copied = true;
    }
    if (copied) ++res.copied;
    const std::string target = trash ? services.trashFolder : moveTo;
    if (target.empty() || target == folder) continue;
    auto items = m.items;
    for (auto& it : items) it.targetFolder = target;
    if (ops.RunOnSelection(store::opMove, items) > 0) ++(trash ? res.trashed : res.moved);
  }
  return res;
}

}  // namespace px::incoming
