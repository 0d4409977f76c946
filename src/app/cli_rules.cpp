// plumadex-cli rules list | add | remove | apply: the mail sorting rules of mailsort.lst.
#include "app/cli_commands.h"

#include <sys/stat.h>

#include <cstdio>
#include <optional>
#include <string>

#include "foundation/locations.h"
#include "foundation/message_queue.h"
#include "foundation/random.h"
#include "incoming/mail_sort.h"
#include "incoming/mail_sort_apply.h"
#include "store/index_file.h"
#include "store/leftover_sweep.h"
#include "store/move_journal.h"
#include "store/newmail_list.h"
#include "store/unread_list.h"

namespace px::cli {

namespace {

constexpr const char* kUsage =
    "usage: rules list\n"
    "       rules add NAME (--move FOLDER | --copy FOLDER | --delete) [--all] [--disabled] CONDITION...\n"
    "         CONDITION: FIELDS < VALUE (includes) or FIELDS > VALUE (does not include);\n"
    "         FIELDS: letters of F (from) T (to) C (cc) B (bcc) S (subject) X (text) A (account)\n"
    "       rules remove NAME\n"
    "       rules apply FOLDER [--dry-run]\n";

class ConsoleMessages final : public MessagePresenter {
public:
  void ShowBox(MessageKind kind, const std::string& text) override {
    const char* what = kind == MessageKind::Error ? "error" : kind == MessageKind::Warning ? "warning" : "note";
    PrintErr("plumadex-cli: %s: %s\n", what, text.c_str());
  }
  void CloseBox() override {}
};

bool IsDir(const std::string& p) {
  struct stat st{};
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A folder given absolute, or relative to the documents folder; "/" at the end.
std::string FolderArg(const Locations& loc, std::string f) {
  if (f.empty() || f[0] != '/') f = loc.documents + f;
  if (f.back() != '/') f += '/';
  return f;
}

std::optional<incoming::SortCondition> ConditionArg(const std::string& text) {
  // "FIELDS < VALUE": the stored form, with the value reduced as the file keeps it.
  auto r = incoming::ParseRule("x|OD|" + text);
  if (!r || r->conditions.size() != 1 || !r->conditions[0].Valid()) return std::nullopt;
  auto c = r->conditions[0];
  c.value = incoming::StoredConditionValue(c.fields, c.value);
  return c;
}

}  // namespace

int runRules(const Args& args) {
  if (args.empty()) {
    PrintErr("%s", kUsage);
    return 2;
  }
  Locations loc = ComputeLocations();
  MakeDataFolders(loc);
  ConsoleMessages presenter;
  MessageQueue messages(&presenter);
  messages.SetWakeUp([&messages] { messages.ShowQueuedMessages(); });
  incoming::MailSortRules rules;
  rules.SetMessages(&messages);
  rules.SetDocumentsFolder(loc.documents);
  rules.SetTrashFolder(loc.trash);
  const std::string file = loc.dataRoot + std::string(incoming::kMailSortFile);
  (void)rules.Load(file);
  const std::string& cmd = args[0];

  if (cmd == "list" && args.size() == 1) {
    for (const auto& r : rules.Rules()) std::printf("%s\n", ForConsole(incoming::FormatRule(r)).c_str());
    return 0;
  }
  if (cmd == "add" && args.size() >= 2) {
    incoming::SortRule r;
    r.name = args[1];
    bool haveAction = false;
    for (size_t i = 2; i < args.size(); ++i) {
      const std::string& a = args[i];
      if ((a == "--move" || a == "--copy") && i + 1 < args.size()) {
        r.action = a == "--move" ? 'M' : 'C';
        r.folder = FolderArg(loc, args[++i]);
        haveAction = true;
      } else if (a == "--delete") {
        r.action = 'D';
        r.folder.clear();
        haveAction = true;
      } else if (a == "--all") {
        r.all = true;
      } else if (a == "--disabled") {
        r.enabled = false;
      } else if (auto c = ConditionArg(a)) {
        r.conditions.push_back(*c);
      } else {
        PrintErr("plumadex-cli: rules: not a condition: %s\n%s", a.c_str(), kUsage);
        return 2;
      }
    }
    if (!haveAction || r.name.empty()) {
      PrintErr("%s", kUsage);
      return 2;
    }
    if (r.action != 'D' && !IsDir(r.folder)) {
      PrintErr("plumadex-cli: Sorry, but the folder %s does not exist.\n", r.folder.c_str());
      return 1;
    }
    if (!rules.Add(r)) {
      PrintErr("plumadex-cli: this rule is there already\n");
      return 1;
    }
    if (!rules.Save()) {
      PrintErr("plumadex-cli: Cannot write %s\n", file.c_str());
      return 1;
    }
    std::printf("%s\n", ForConsole(incoming::FormatRule(r)).c_str());
    return 0;
  }
  if (cmd == "remove" && args.size() == 2) {
    if (rules.Remove(args[1]) == 0) {
      PrintErr("plumadex-cli: no rule is named %s\n", args[1].c_str());
      return 1;
    }
    if (!rules.Save()) {
      PrintErr("plumadex-cli: Cannot write %s\n", file.c_str());
      return 1;
    }
    return 0;
  }
  if (cmd == "apply" && (args.size() == 2 || (args.size() == 3 && args[2] == "--dry-run"))) {
    const std::string folder = FolderArg(loc, args[1]);
    if (!IsDir(folder)) {
      PrintErr("plumadex-cli: Sorry, but the folder %s does not exist.\n", folder.c_str());
      return 1;
    }
    store::IniRegistry registry;
    RandomSource random;
    (void)store::RecoverJournals(store::JournalFolderOf(loc.dataRoot), registry);
    store::UnreadList unread;
    unread.Load(loc.UnreadList());
    store::NewMailList newMail;
    newMail.Load(loc.NewMailList());
    TPXIniBase sent(loc.SentIni());
    incoming::ApplyRulesResult res;
    if (args.size() == 3) {
      res = incoming::TestRulesOnFolder(rules, registry, folder);
    } else {
      store::OpServices os;
      os.registry = &registry;
      os.random = &random;
      os.messages = &messages;
      os.unread = &unread;
      os.newMail = &newMail;
      os.sent = &sent;
      os.documentsFolder = loc.documents;
      os.trashFolder = loc.trash;
      os.contactsFolder = loc.contacts;
      os.journalFolder = store::JournalFolderOf(loc.dataRoot);
      res = incoming::ApplyRulesToFolder(rules, os, folder);
    }
    for (const auto& h : res.hits)
      std::printf("%s\t%s\t%c\t%s\n", ForConsole(h.title).c_str(), ForConsole(h.rule).c_str(), h.action,
                  ForConsole(h.action == 'D' ? loc.trash : h.folder).c_str());
    for (const auto& f : res.missingFolders)
      PrintErr("plumadex-cli: warning: the folder %s of a rule does not exist; nothing went there\n", f.c_str());
    int status = 0;
    if (args.size() == 2) {
      std::printf("%zu copied, %zu moved, %zu into the trash\n", res.copied, res.moved, res.trashed);
      if (!unread.Save(loc.UnreadList()).ok()) status = 1;
      if (!newMail.Save(loc.NewMailList()).ok()) status = 1;
    }
    messages.ShowQueuedMessages();
    return status;
  }
  PrintErr("%s", kUsage);
  return 2;
}

}  // namespace px::cli
