#include "desk/desk_browser.h"

#include <set>

#include "contacts/address_map.h"
#include "contacts/contact_folder.h"
#include "desk/carry_targets.h"
#include "desk/desk_mail.h"
#include "desk/desk_state.h"
#include "foundation/strings.h"
#include "incoming/blocked_senders.h"
#include "store/desk_actions.h"
#include "store/folder_files.h"
#include "store/list_file.h"
#include "store/doc_operations.h"
#include "store/move_journal.h"
#include "store/newmail_list.h"
#include "store/tree_ops.h"
#include "store/unique_names.h"
#include "store/unread_list.h"

#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <set>
#include <utility>

namespace px::desk {

using store::DocRecord;

namespace {

bool SetHasBelow(const std::set<std::string>& set, const std::string& folder) {
  auto it = set.lower_bound(folder);
  return it != set.end() && it->starts_with(folder);
}

}  // namespace

DeskBrowser::DeskBrowser(DeskState& state, GridSurface& grid, std::unique_ptr<DeskPrompts> prompts, QObject* parent)
    : QObject(parent), state_(state), grid_(grid), prompts_(std::move(prompts)) {
  for (auto& model : models_) {
    model.SetEnvironment(&env_);
    FolderTreeModel::Marks marks;
    marks.hasNewMail = [this](const std::string& f) {
      return state_.newMailList && state_.newMailList->Folders().count(f) > 0;
    };
    marks.newMailBelow = [this](const std::string& f) {
      return state_.newMailList && SetHasBelow(state_.newMailList->Folders(), f);
    };
    marks.hasPending = [this](const std::string& f) {
      const auto& pending = state_.pendingFolders;
      return std::find(pending.begin(), pending.end(), f) != pending.end();
    };
    marks.pendingBelow = [this](const std::string& f) {
      for (const auto& p : state_.pendingFolders)
        if (p.starts_with(f)) return true;
      return false;
    };
    model.SetMarks(std::move(marks));
  }
}

DeskBrowser::~DeskBrowser() {
  quiet_ = true;
  worker_.Cancel();
  worker_.WaitIdle();
  if (state_.unreadList) state_.unreadList->SetNodeRefresh(nullptr);
  RememberExpanded();
  // Lists made here (a browser without the desk's start-up) are saved here; the desk state
  // keeps owning them.
  if (madeLists_ && !state_.locations.dataRoot.empty()) {
    if (state_.unreadList) (void)state_.unreadList->Save(state_.locations.UnreadList());
    if (state_.newMailList) (void)state_.newMailList->Save(state_.locations.NewMailList());
  }
  // The views may outlive this object for a moment: they must not reach freed nodes.
  for (auto& model : models_) model.SetRoot(nullptr);
}

void DeskBrowser::SelectQuietly(int tab, TreeNode* node) {
  if (!trees_[tab]) return;
  const bool wasQuiet = std::exchange(quiet_, true);
  trees_[tab]->SelectNode(node);
  quiet_ = wasQuiet;
}

void DeskBrowser::LooksChanged() {
  for (auto& model : models_) model.LooksChanged();
}

void DeskBrowser::Warn(std::string_view text) {
  state_.messages.QueueMessage(MessageKind::Warning, text);
  state_.messages.ShowQueuedMessages();
}

void DeskBrowser::EmptyTrashAction() {
  grid_.model().ClearSelection();
  DeleteAction();
}

store::OpServices DeskOpServices(DeskState& state, RandomSource& random) {
  store::OpServices svc;
  svc.registry = &state.indexRegistry;
  svc.random = &random;
  svc.messages = &state.messages;
  svc.unread = state.unreadList.get();
  svc.newMail = state.newMailList.get();
  svc.sent = state.sentIni.get();
  svc.documentsFolder = state.locations.documents;
  svc.trashFolder = state.locations.trash;
  svc.contactsFolder = state.locations.contacts;
  svc.journalFolder = store::JournalFolderOf(state.locations.dataRoot);
  svc.ownFromAddress = state.ownFromAddress;
  svc.running = &state.busy;
  return svc;
}

void DeskBrowser::InitServices() {
  if (ops_) return;
  // The desk state owns the unread and new-mail lists; a browser started without the desk's
  // start-up makes them there itself.
  if (!state_.unreadList) {
    state_.unreadList = std::make_unique<store::UnreadList>();
    if (!state_.locations.dataRoot.empty()) state_.unreadList->Load(state_.locations.UnreadList());
    madeLists_ = true;
  }
  if (!state_.newMailList) {
    state_.newMailList = std::make_unique<store::NewMailList>();
    if (!state_.locations.dataRoot.empty()) state_.newMailList->Load(state_.locations.NewMailList());
    madeLists_ = true;
  }
  state_.unreadList->SetNodeRefresh([this](const std::string& folder) { RefreshCounts(folder); });

  store::OpServices svc = DeskOpServices(state_, random_);
  svc.busy = [this](bool on) { grid_.SetBusy(on); };
  // Changes the program makes itself do not cause a second listing.
  svc.rearmWatch = [this] { watch_.CheckFolderChanges(false); };
  watch_.SetQuietRoots(state_.locations.tempFolder, state_.locations.dataRoot);
  watch_.SetRelist([this](const std::string& folder) {
    if (folder == shownFolder_) Relist();
  });
  pendingRefresh_ = std::make_unique<store::PendingRegisterRefresh>(
      [this]() -> TPXCustomIni* { return state_.sentIni.get(); }, state_.pendingFolders,
      [this] { LooksChanged(); });
  ops_ = std::make_unique<store::DocOperations>(std::move(svc), collaborators());
}

store::OpCollaborators DeskBrowser::collaborators() {
  store::OpCollaborators none = absent_.Get();
  // The rules follow folders the browser renames or moves; the desk's mail side loads them.
  if (!state_.sortRules) state_.sortRules = std::make_unique<incoming::MailSortRules>();
  store::SortingRuleLinks& rules = *state_.sortRules;
  return {resolver_, openDocs_ ? *openDocs_ : none.openDocs, quickboard_ ? *quickboard_ : none.quickboard, rules,
          pendingRefresh_ ? static_cast<store::PendingRefresh&>(*pendingRefresh_) : none.pending};
}

store::CollisionAnswer DeskBrowser::PromptResolver::Ask(const store::CollisionQuestion& q) {
  return b_.prompts_->AskCollision(q);
}

void DeskBrowser::SetOpenDocuments(store::OpenDocuments* docs) {
  openDocs_ = docs;
  RemakeOperations();
}

void DeskBrowser::SetQuickboard(store::QuickboardLinks* quickboard) {
  quickboard_ = quickboard;
  RemakeOperations();
}

void DeskBrowser::RemakeOperations() {
  if (!ops_) return;
  // Operations made before a collaborator was there are made again with it.
  store::OpServices svc = ops_->Services();
  ops_ = std::make_unique<store::DocOperations>(std::move(svc), collaborators());
}

void DeskBrowser::BuildTrees() {
  InitServices();
  const Locations& loc = state_.locations;
  env_ = SystemTreeEnvironment(loc.documents, loc.trash, loc.contacts, loc.dataRoot);
  // The favourites are a folder of the data root: made on first use, so the node always
  // has a folder of its own.
  if (!env_.favoritesFolder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(env_.favoritesFolder, ec);
  }
  env_.registry = &state_.indexRegistry;
  env_.firstNameFirst = state_.settings.FirstNameFirst();
  env_.unreadOf = [this](const std::string& f) {
    return state_.unreadList ? state_.unreadList->GetUnreadCount(f) : store::UnreadCount{};
  };
  // The desktop's index lives in the data root, as the desk's alias table says.
  if (!env_.desktopFolder.empty()) state_.indexRegistry.SetDesktopAlias(env_.desktopFolder, loc.dataRoot);
  for (auto* tree : trees_)
    if (tree)
      tree->SetCountLook(state_.settings.HighlightFontBold(),
                         state_.settings.UseHighlightFontColor()
                             ? std::optional<uint32_t>(static_cast<uint32_t>(state_.settings.HighlightFontColor()))
                             : std::nullopt);
  roots_[0] = MakeFilesRoot(env_);
  roots_[1] = MakeContactsRoot(env_);
  roots_[2] = MakeToolsRoot(env_);
  // Selections the views report while their models change are not the user's.
  const bool wasQuiet = std::exchange(quiet_, true);
  for (int t = 0; t < 3; ++t) models_[t].SetRoot(roots_[t].get());
  quiet_ = wasQuiet;
  RestoreExpanded();
}

namespace {
std::string ExpandedListPath(const Locations& loc) {
  return loc.dataRoot.empty() ? std::string() : store::WithSlash(loc.dataRoot) + "expanded.lst";
}
}  // namespace

void DeskBrowser::RememberExpanded() {
  const std::string path = ExpandedListPath(state_.locations);
  if (path.empty() || !roots_[0]) return;
  std::set<std::string> open;
  for (int t : {Ix(GridTab::Files), Ix(GridTab::Contacts)})
    if (roots_[t]) open.merge(ExpandedFolders(*roots_[t]));
  StringList lines(open.begin(), open.end());
  if (lines == savedExpanded_) return;
  // A list that cannot be written costs only the open folders of the next start.
  if (store::SaveListFile(path, lines).ok()) savedExpanded_ = std::move(lines);
}

void DeskBrowser::RestoreExpanded() {
  const std::string path = ExpandedListPath(state_.locations);
  if (path.empty()) return;
  savedExpanded_ = store::ReadListFile(path);
  StringList folders = savedExpanded_;
  // Parents open before their children.
  std::sort(folders.begin(), folders.end());
  const bool wasQuiet = std::exchange(quiet_, true);
  for (const std::string& folder : folders) {
    if (folder.empty() || folder.back() != '/') continue;
    for (int t : {Ix(GridTab::Files), Ix(GridTab::Contacts)}) {
      if (!roots_[t]) continue;
      // Only folders of this tree, and only those still there.
      TreeNode* node = nullptr;
      if (roots_[t]->path == folder) {
        node = roots_[t].get();
      } else {
        node = models_[t].FindNode(folder, true);
      }
      if (!node) continue;
      if (!node->childrenLoaded) models_[t].Load(node);
      node->expanded = true;
      if (trees_[t]) trees_[t]->ExpandNode(node);
    }
  }
  quiet_ = wasQuiet;
}

void DeskBrowser::SelectFirstNode(std::optional<GridTab> tab) {
  if (!roots_[0]) BuildTrees();
  if (tab) tab_ = *tab;
  grid_.SetTab(tab_);
  TreeNode* node = trees_[Ix(tab_)] ? trees_[Ix(tab_)]->CurrentNode() : nullptr;
  if (!node) node = roots_[Ix(tab_)].get();
  ShowNode(node);
}

bool DeskBrowser::FolderSelected() const { return tab_ == GridTab::Files && shown_ && !shown_->path.empty(); }

void DeskBrowser::RememberTopRow() {
  if (!shownFolder_.empty()) positions_.Remember(shownFolder_, grid_.TopRow(), grid_.CurrentSorting());
}

void DeskBrowser::ClearGrid() { grid_.Clear(); }

void DeskBrowser::CheckFolderChanges() {
  if (!state_.initialised || state_.busy || worker_.Running()) return;
  CheckTreeChanges();
  if (WatchesShownFolder()) watch_.CheckFolderChanges(true);
}

bool DeskBrowser::DragMoves() const { return state_.settings.CopyMove() == 1 && !copyForNode_; }

void DeskBrowser::SetDragDefault(bool move) {
  state_.settings.SetCopyMove(move ? 1 : 0);
  copyForNode_ = false;
  if (dragDefaultChanged) dragDefaultChanged();
}

bool DeskBrowser::SwitchTab(GridTab tab) {
  if (tab == tab_) return true;
  const HandState hand = handState ? handState() : HandState::Empty;
  if (!TabChangeAllowed(state_.busy || worker_.Running(), hand, tab_)) return false;
  if (beforeTabSwitch && !beforeTabSwitch(tab)) return false;
  RememberTopRow();
  shownFolder_.clear();  // remembered under the old tab's sort order
  if (tab == GridTab::Tools) tabBeforeOptions_ = tab_;
  tab_ = tab;
  grid_.SetTab(tab);
  emit TabChanged(tab);
  if (!roots_[Ix(tab)]) return true;
  TreeNode* node = trees_[Ix(tab)] ? trees_[Ix(tab)]->CurrentNode() : nullptr;
  if (!node) node = roots_[Ix(tab)].get();
  ShowNode(node);
  return true;
}

void DeskBrowser::OnTreeSelected(int tab, TreeNode* node) {
  if (quiet_ || tab != Ix(tab_)) return;
  if (node && node != shown_) ShowNode(node);
}

void DeskBrowser::ShowNode(TreeNode* node, bool expand) {
  if (!node) return;
  selectClock_.start();
  RememberTopRow();
  worker_.Cancel();
  grid_.ShowListingProgress(-1, 0);
  grid_.SetBusy(false);
  // A new listing of the same folder keeps the old rows on screen until the new ones are in.
  relisting_ = node == shown_;
  if (!relisting_) grid_.Clear();
  shown_ = node;
  SelectQuietly(Ix(tab_), node);
  if (expand && !node->expanded) {
    if (!node->childrenLoaded) models_[Ix(tab_)].Load(node);
    node->expanded = true;
    if (trees_[Ix(tab_)]) trees_[Ix(tab_)]->ExpandNode(node);
  }
  {
    const bool before = DragMoves();
    copyForNode_ = state_.settings.CopyMove() == 1 && !EffectiveMoveDefault(true, *node);
    if (DragMoves() != before && dragDefaultChanged) dragDefaultChanged();
  }
  grid_.SetSortLocked(node->image == niComputer || node->image == niNetwork);
  grid_.SetFixedSorting(IsToolImage(node->image) ? 4 : 0);
  if (IsToolImage(node->image)) {
    shownFolder_.clear();
    watch_.Close();
    ShowToolRows(node);
    return;
  }
  if (node->path.empty() && (node->image == niFavorites || node->image == niFavoritesSub)) {
    // Favourites without a folder have nothing to list (never the documents instead).
    shownFolder_.clear();
    watch_.Close();
    grid_.Clear();
    if (listed) listed();
    return;
  }
  const std::string folder = node->path.empty() ? state_.locations.documents : node->path;
  shownFolder_ = folder;
  // The contacts tab lists the Contacts index: another process importing contacts (or a card
  // saved by another program) shows at the next tick.
  if (WatchesShownFolder())
    watch_.Watch(folder, tab_ == GridTab::Contacts);
  else
    watch_.Close();
  if (state_.newMailList && state_.newMailList->Remove(folder)) models_[Ix(tab_)].LooksChanged();
  ListFolder(node, folder);
}

store::ListingContext DeskBrowser::listingContext() const {
  store::ListingContext ctx;
  ctx.registry = &state_.indexRegistry;
  ctx.documentsFolder = state_.locations.documents;
  ctx.contactsFolder = state_.locations.contacts;
  ctx.dataRoot = state_.locations.dataRoot;
  ctx.tempFolder = state_.locations.tempFolder;
  ctx.sorting = state_.settings.Sorting();
  ctx.addressSorting = state_.settings.AddressSorting();
  ctx.firstNameFirst = state_.settings.FirstNameFirst();
  ctx.contactsTabShown = tab_ == GridTab::Contacts;
  if (tab_ == GridTab::Files && searchFilter) ctx.searchMatches = searchFilter;
  if (state_.addressMap) ctx.addressLookup = state_.addressMap->Lookup();
  // A link row's card lies in the Contacts folder itself.
  ctx.contactDetails = [root = state_.locations.contacts](const store::DocRecord& r) {
    return contacts::CardDetailsOf((r.prefix.empty() ? r.folder : root) + r.name);
  };
  return ctx;
}

void DeskBrowser::ListFolder(TreeNode* node, const std::string& folder) {
  ListingRequest req;
  req.folder = folder;
  req.contacts = tab_ == GridTab::Contacts;
  req.ctx = listingContext();
  req.options.tab = tab_;
  req.options.sorting = grid_.CurrentSorting();
  req.options.firstNameFirst = state_.settings.FirstNameFirst();
  req.options.filter = ViewFilterFromIndex(grid_.ViewFilterIndex());
  const auto restore = positions_.Restore(folder, req.options.sorting);
  pendingTopRow_ = restore ? *restore : 0;
  if (CountEntriesUpTo(folder, kWorkerListingThreshold) >= kWorkerListingThreshold) {
    // A large folder is listed in a worker; the window stays responsive meanwhile, and the busy
    // cursor and the progress bar show only when the listing takes longer than 250 ms.
    const uint64_t gen = ++listingGen_;
    auto progress = std::make_shared<std::atomic<int>>(0);
    req.progress = progress;
    const size_t entries = CountEntriesUpTo(folder, size_t(10'000'000));
    QTimer::singleShot(250, this, [this, gen, progress, entries] {
      if (gen != listingGen_ || !worker_.Running()) return;
      grid_.SetBusy(true);
      grid_.ShowListingProgress(progress->load(std::memory_order_relaxed), entries);
      auto* tick = new QTimer(this);
      tick->setInterval(100);
      connect(tick, &QTimer::timeout, this, [this, gen, progress, entries, tick] {
        if (gen != listingGen_ || !worker_.Running()) {
          tick->deleteLater();
          return;
        }
        grid_.ShowListingProgress(progress->load(std::memory_order_relaxed), entries);
      });
      tick->start();
    });
    worker_.Start(std::move(req), [this, folder](ListingOutcome& out) {
      ++listingGen_;
      grid_.ShowListingProgress(-1, 0);
      grid_.SetBusy(false);
      SwapIn(out, folder);
    });
    return;
  }
  ++listingGen_;
  ListingOutcome out = RunListing(req);
  SwapIn(out, folder);
}

void DeskBrowser::SwapIn(ListingOutcome& out, const std::string& folder) {
  if (folder != shownFolder_) return;
  grid_.TakeModel(std::move(out.model));
  grid_.SetTopRow(pendingTopRow_);
  if (swappedIn) swappedIn(folder);
  if (out.unread >= 0 && state_.unreadList && tab_ == GridTab::Files &&
      state_.unreadList->GetUnreadCount(folder).own != out.unread)
    state_.unreadList->ChangeUnreadCount(folder, out.unread, false);
  if (listed) listed();
}

void DeskBrowser::RefreshCounts(const std::string& folder) {
  models_[0].RefreshUnread(folder);
}

void DeskBrowser::Relist() {
  if (!shown_) return;
  grid_.model().ClearSelection();
  ShowNode(shown_);
}

void DeskBrowser::ShowToolRows(TreeNode* node) {
  store::DocRows rows;
  auto row = [&](const std::string& title, const std::string& path) {
    DocRecord r;
    r.title = title;
    r.name = path;
    r.ext = std::string(1, kFolderMarkerExt);
    r.folder = "";
    rows.push_back(std::move(r));
  };
  if (node->image == niOptions) {
    for (const auto& [caption, picture] : OptionPages()) row(caption, "");
  } else if (node->image != niNewDocuments) {
    for (const auto& item : ShellItemsOf(*node, env_)) row(item.title, item.path);
  }
  if (node->image == niOptions) {
    // The pages keep their order.
    GridModel m;
    GridOptions o;
    o.tab = tab_;
    o.sorting = 4;
    m.SetRows({}, o);
    m.MutableRows() = std::move(rows);
    m.Refilter();
    grid_.TakeModel(std::move(m));
  } else {
    grid_.SetRows(std::move(rows));
  }
  if (listed) listed();
}

bool DeskBrowser::ShownBelow(const TreeNode* parent) const {
  for (const TreeNode* n = shown_; n; n = n->parent)
    if (n->parent == parent) return true;
  return false;
}

void DeskBrowser::ReloadChildren(TreeNode* parent) { ReloadChildren(Ix(tab_), parent); }

void DeskBrowser::ReloadChildren(int tree, TreeNode* parent) {
  // The shown node may be among the children being replaced: find it again by its path.
  const bool below = ShownBelow(parent);
  const std::string path = below ? shown_->path : std::string();
  // Expanded children stay open with their subtrees.
  const bool wasQuiet = std::exchange(quiet_, true);
  models_[tree].Reload(parent);
  quiet_ = wasQuiet;
  if (!below) return;
  TreeNode* again = path.empty() ? nullptr : models_[tree].FindNode(path, true);
  if (again) {
    shown_ = again;
    SelectQuietly(tree, again);
  } else if (tree == Ix(tab_)) {
    shown_ = nullptr;
    ShowNode(parent);
  }
}

void DeskBrowser::CheckTreeChanges() {
  // Every node the trees show is watched, closed and childless ones too: a subfolder made in
  // one gives it its expander at once. A change reloads that node alone.
  std::set<std::string> folders;
  for (int t : {Ix(GridTab::Files), Ix(GridTab::Contacts)})
    if (roots_[t]) folders.merge(ShownFolders(*roots_[t]));
  treeWatch_.SetFolders(folders);
  RememberExpanded();
  for (const std::string& folder : treeWatch_.TakeChangedFolders()) {
    for (int t : {Ix(GridTab::Files), Ix(GridTab::Contacts)}) {
      if (!roots_[t]) continue;
      if (TreeNode* node = FindShownNode(*roots_[t], folder)) ReloadChildren(t, node);
    }
  }
}

bool DeskBrowser::InTrash(const std::string& folder) const {
  return !state_.locations.trash.empty() && folder.starts_with(state_.locations.trash);
}

std::vector<store::OpItem> DeskBrowser::SelectedItems() const {
  std::vector<store::OpItem> items;
  for (const auto& rec : store::SnapshotSelection(grid_.model().rows()))
    items.push_back(store::ItemFromSelection(rec, state_.locations.contacts));
  return items;
}

std::vector<store::OpItem> DeskBrowser::SelectedItemsWithParts() const {
  std::vector<store::OpItem> items;
  for (const auto& rec : SelectionWithHiddenParts(grid_.model().rows()))
    items.push_back(store::ItemFromSelection(rec, state_.locations.contacts));
  return items;
}

void DeskBrowser::CarryToAction(bool move) {
  auto items = SelectedItemsWithParts();
  if (items.empty() || tab_ != GridTab::Files) return;
  if (move && ShownRestricted()) {
    Warn(store::kCannotMoveFiles);
    return;
  }
  std::vector<std::string> sources, folders;
  for (const auto& it : items) {
    sources.push_back(it.folder);
    if (it.ext.empty()) folders.push_back(it.folder + it.name + "/");
  }
  const std::string target = prompts_->ChooseCarryFolder(
      move ? "Move to" : "Copy to", env_,
      [&](const TreeNode* n) { return CarryTargetRefusal(n, sources, folders, move); });
  if (target.empty()) return;
  // Attachments carried without their message keep its text as a sticker.
  store::MarkOrphanAttachments(grid_.model().rows(), items);
  for (auto& it : items) it.targetFolder = target;
  ops().RunOnSelection(move ? store::opMove : store::opCopy, items);
  AfterOperation(!folders.empty());
}

void DeskBrowser::AfterOperation(bool relistTree) {
  // Index saves that failed when a handle was released: the user must hear of them.
  for (const auto& status : state_.indexRegistry.TakeSaveErrors())
    if (!status.message.empty()) state_.messages.QueueMessage(MessageKind::Error, status.message);
  CheckTrash();
  if (relistTree && shown_ && shown_->childrenLoaded) ReloadChildren(shown_);
  Relist();
  state_.messages.ShowQueuedMessages();
}

void DeskBrowser::CheckTrash() {
  if (!roots_[0]) return;
  for (auto& c : roots_[0]->children) {
    if (c->image != niTrashFull && c->image != niTrashEmpty) continue;
    std::error_code ec;
    bool full = false, folders = false;
    for (auto it = std::filesystem::directory_iterator(c->path, ec); !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (store::IsIndexFileName(name) || (!name.empty() && name[0] == '.')) continue;
      full = true;
      // An expander only when there is a folder to show below the trash.
      std::error_code e2;
      if (!name.empty() && name[0] != '.' && !it->is_symlink(e2) && it->is_directory(e2)) {
        folders = true;
        break;
      }
    }
    const int image = full ? niTrashFull : niTrashEmpty;
    // Folders moved into the trash show under its node at once.
    const bool below = ShownBelow(c.get());
    const bool reload = c->childrenLoaded && !below && (folders || !c->children.empty());
    if (image == c->image && folders == c->hasSubfolders && !reload) continue;
    c->image = image;
    const bool wasQuiet = std::exchange(quiet_, true);
    if (!full)
      models_[0].Clear(c.get());
    else if (reload)
      models_[0].Load(c.get());
    c->hasSubfolders = folders;
    models_[0].NodeChanged(c.get());
    quiet_ = wasQuiet;
    if (below) {
      shown_ = nullptr;
      ShowNode(c.get());
    }
  }
}

void DeskBrowser::DeleteAction() {
  auto items = SelectedItemsWithParts();
  TreeNode* trash = nullptr;
  if (roots_[0])
    for (auto& c : roots_[0]->children)
      if (c->image == niTrashFull) trash = c.get();
  store::DeleteRequest request;
  // With the pointer on a row's sticker mark only that sticker goes.
  const int stickerRow = tab_ == GridTab::Files ? grid_.StickerMarkUnderPointer() : -1;
  request.onSticker = stickerRow >= 0;
  request.anySelected = !items.empty() || request.onSticker;
  request.filesDeletable = !(tab_ == GridTab::Tools || (tab_ == GridTab::Files && ShownRestricted()));
  request.trashFull = trash && tab_ == GridTab::Files;
  request.contactsTab = tab_ == GridTab::Contacts;
  request.insideTrash = InTrash(shownFolder_);
  request.count = items.size();
  const store::DeletePlan plan = store::PlanDelete(request);
  if (!plan.question.empty() && !prompts_->AskYesNo(plan.question)) return;
  switch (plan.action) {
    case store::DeleteAction::Refuse:
      Warn(plan.refusal);
      return;
    case store::DeleteAction::AskEmptyTrash: {
      if (!prompts_->AskYesNo(std::string(store::kEmptyTrashQuestion))) return;
      store::OpItem item;
      item.folder = state_.locations.documents;
      item.name = "TRASH";
      ops().RunDocOperation(plan.code, item);
      break;
    }
    case store::DeleteAction::DeleteFinal:
      ops().RunOnSelection(plan.code, items);
      break;
    case store::DeleteAction::RemoveSticker: {
      auto& rows = grid_.model().MutableRows();
      store::OpItem item = store::ItemFromSelection(store::MakeSelectionRecord(rows[stickerRow], stickerRow),
                                                    state_.locations.contacts);
      item.sticker.clear();
      if (ops().RunDocOperation(plan.code, item)) rows[stickerRow].sticker.clear();
      grid_.RepaintRows();
      state_.messages.ShowQueuedMessages();
      return;
    }
    case store::DeleteAction::MoveToTrash:
      // Attachments thrown away without their message keep its text as a sticker.
      store::MarkOrphanAttachments(grid_.model().rows(), items);
      for (auto& it : items) it.targetFolder = state_.locations.trash;
      ops().RunOnSelection(plan.code, items);
      break;
    default:
      return;
  }
  // A group row's folder went with it: the tree loses the node.
  AfterOperation(std::any_of(items.begin(), items.end(), [](const store::OpItem& it) {
    return it.ext.size() == 1 && it.ext[0] == kGroupMarkerExt;
  }));
}

void DeskBrowser::RenameAction() {
  auto items = SelectedItems();
  if (items.size() != 1) return;
  store::RenameRequest request;
  request.allowed = !(tab_ == GridTab::Tools || ShownRestricted());
  if (const std::string refusal = store::RenameRefusalFor(request); !refusal.empty()) {
    Warn(refusal);
    return;
  }
  store::OpItem& item = items.front();
  const std::string shown = store::EditableTitle(item);
  const auto title = prompts_->AskText("Plumadex", std::string(store::kRenameDialogTitle), shown);
  if (!title || Trim(*title).empty() || *title == shown) return;
  const std::string refusal = store::RenameRefusal(item.folder, item.name, *title, item.ext);
  if (!refusal.empty()) {
    Warn(refusal);
    return;
  }
  item.newTitle = store::EditedTitle(item, *title);
  ops().RunDocOperation(store::opRename, item);
  // A group row renames its folder: the tree shows the new name.
  AfterOperation(item.ext.size() == 1 && item.ext[0] == kGroupMarkerExt);
}

void DeskBrowser::aDuplicateExecute(std::optional<std::string> title) {
  auto items = SelectedItems();
  store::DuplicateRequest request;
  request.allowed = (tab_ == GridTab::Files || tab_ == GridTab::Contacts) && !ShownRestricted();
  request.selected = items.size();
  request.ordinaryFile = items.size() == 1 && !IsContactExt(items.front().ext) &&
                         store::IsRegularFile(items.front().Path());
  switch (store::PlanDuplicate(request)) {
    case store::DuplicateAction::Nothing: return;
    case store::DuplicateAction::Refuse:
      Warn(store::kCannotCreateFiles);
      return;
    case store::DuplicateAction::AskName: break;
  }
  const store::OpItem& item = items.front();
  if (!title) {
    // The name offered is free already ("notes (2)"); a taken name typed over it is asked about.
    const store::UniqueName free = store::UniqueFileName(item.folder, store::EditableTitle(item), item.ext);
    const auto text = prompts_->AskText(std::string(store::kNewDocumentTitle), std::string(store::kNewDocumentPrompt),
                                        free.ok ? free.title : store::EditableTitle(item));
    if (!text || Trim(*text).empty()) return;
    title = Trim(*text);
  }
  store::OpItem copy = store::DuplicateItem(item, *title);
  ops().RunDocOperation(store::opStoreCopy, copy);
  AfterOperation(false);
}

void DeskBrowser::CreateTreeNode(TreeNode* parent) {
  if (!parent || parent->path.empty() || parent->Restricted() || tab_ == GridTab::Tools) {
    Warn(store::kCannotCreateFiles);
    return;
  }
  const bool contacts = tab_ == GridTab::Contacts;
  const auto name = prompts_->AskText(contacts ? "New Address Group" : "New Folder",
                                      contacts ? "Enter name for new address group" : "Enter name for new folder", "");
  if (!name || Trim(*name).empty()) return;
  store::OpItem item;
  item.folder = parent->path;
  item.targetFolder = parent->path;
  item.title = Trim(*name);
  if (!ops().RunDocOperation(store::opCreateFolder, item)) {
    state_.messages.ShowQueuedMessages();
    return;
  }
  parent->expanded = true;
  ReloadChildren(parent);
}

void DeskBrowser::DeleteFolderNode(TreeNode* node) {
  store::DeleteRequest request;
  request.onFolder = true;
  request.folderDeletable = node && node->parent && NodeIsMovable(*node);
  request.contactsTab = tab_ == GridTab::Contacts;
  request.insideTrash = node && InTrash(node->path);
  if (node) request.folderTitle = node->caption;
  const store::DeletePlan plan = store::PlanDelete(request);
  if (!plan.question.empty() && !prompts_->AskYesNo(plan.question)) return;
  if (plan.action == store::DeleteAction::Refuse) {
    Warn(plan.refusal);
    return;
  }
  TreeNode* parent = node->parent;
  store::OpItem item;
  item.folder = ParentFolderOf(node->path);
  item.name = FolderNameOf(node->path);
  item.title = node->caption;
  if (plan.action == store::DeleteAction::MoveToTrash) item.targetFolder = state_.locations.trash;
  ops().RunDocOperation(plan.code, item);
  ReloadChildren(parent);
  CheckTrash();
  state_.messages.ShowQueuedMessages();
}

void DeskBrowser::RenameFolderNode(TreeNode* node) {
  store::RenameRequest request;
  request.onFolder = true;
  request.allowed = node && node->parent && NodeIsMovable(*node);
  if (const std::string refusal = store::RenameRefusalFor(request); !refusal.empty()) {
    Warn(refusal);
    return;
  }
  const auto title = prompts_->AskText("Plumadex", std::string(store::kRenameDialogTitle), node->caption);
  if (!title || Trim(*title).empty() || *title == node->caption) return;
  store::OpItem item;
  item.folder = ParentFolderOf(node->path);
  item.name = FolderNameOf(node->path);
  item.title = node->caption;
  item.newTitle = Trim(*title);
  const std::string refusal = store::RenameRefusal(item.folder, item.name, item.newTitle, "");
  if (!refusal.empty()) {
    Warn(refusal);
    return;
  }
  const std::string oldPath = node->path;
  if (!ops().RunDocOperation(store::opRename, item)) {
    state_.messages.ShowQueuedMessages();
    return;
  }
  const std::string newPath = item.folder + item.name + "/";
  positions_.MoveFolder(oldPath, newPath);
  TreeNode* parent = node->parent;
  const bool below = ShownBelow(parent) && shown_->path.starts_with(oldPath);
  const std::string shownPath = below ? newPath + shown_->path.substr(oldPath.size()) : std::string();
  if (below) shown_ = parent;  // the old node goes away with the reload
  const bool wasQuiet = std::exchange(quiet_, true);
  models_[Ix(tab_)].Reload(parent);
  quiet_ = wasQuiet;
  state_.messages.ShowQueuedMessages();
  if (below) {
    shown_ = nullptr;
    TreeNode* again = models_[Ix(tab_)].FindNode(shownPath, true);
    ShowNode(again ? again : parent);
  }
}

void DeskBrowser::ColourClick(int record) {
  if (record < 0 || static_cast<size_t>(record) >= grid_.model().size()) return;
  const int rowColour = store::ColourOfFlags(grid_.model().rows()[record].flags);
  const ColourClickDecision d = DecideColourClick(rowColour, state_.settings.LastColour());
  if (d.applyColour >= 0) {
    ApplyColour(d.applyColour);
    return;
  }
  const std::optional<int> chosen = prompts_->ChooseColour(d.lastColour);
  if (!chosen) return;
  const int colour = *chosen;
  state_.settings.SetLastColour(colour);
  const int apply = ColourAfterChooser(rowColour, true, colour);
  if (apply >= 0) ApplyColour(apply);
}

void DeskBrowser::ApplyColour(int colour) {
  auto items = SelectedItems();
  if (items.empty()) return;
  for (auto& it : items) it.flags = FlagsWithColour(it.flags, colour);
  ops().RunOnSelection(store::opWriteFlags, items);
  auto& rows = grid_.model().MutableRows();
  for (auto& r : rows)
    if (r.selected) r.flags = FlagsWithColour(r.flags, colour);
  const int sorting = grid_.CurrentSorting();
  if (sorting == 5 || sorting == -5) {
    grid_.model().SortAndFilter();
    grid_.UpdateRange();
  }
  grid_.RepaintRows();
  state_.messages.ShowQueuedMessages();
}

void DeskBrowser::WriteCollapse(int record, int flags) {
  const auto& rows = grid_.model().rows();
  if (record < 0 || static_cast<size_t>(record) >= rows.size()) return;
  store::OpItem item = store::ItemFromSelection(store::MakeSelectionRecord(rows[record], record), state_.locations.contacts);
  item.flags = flags;
  ops().RunDocOperation(store::opWriteFlags, item);
}

void DeskBrowser::WriteReadMark(const std::vector<int>& records, bool read) {
  std::vector<store::OpItem> items;
  std::vector<int> changed;
  {
    const auto& rows = grid_.model().rows();
    for (int record : records) {
      if (record < 0 || static_cast<size_t>(record) >= rows.size()) continue;
      const DocRecord& r = rows[record];
      if (r.IsContact() || r.IsLink() || r.name.empty()) continue;
      if (((r.flags & store::dfUnread) != 0) == !read) continue;
      store::OpItem item = store::ItemFromSelection(store::MakeSelectionRecord(r, record), state_.locations.contacts);
      item.flags = read ? (r.flags & ~store::dfUnread) : (r.flags | store::dfUnread);
      items.push_back(std::move(item));
      changed.push_back(record);
    }
  }
  if (items.empty()) return;
  std::set<std::string> folders;
  for (const auto& it : items) folders.insert(it.folder);
  if (items.size() == 1)
    ops().RunDocOperation(store::opWriteFlags, items.front());
  else
    ops().RunOnSelection(store::opWriteFlags, items);
  auto& rows = grid_.model().MutableRows();
  for (int record : changed) {
    if (static_cast<size_t>(record) >= rows.size()) continue;
    if (read)
      rows[record].flags &= ~store::dfUnread;
    else
      rows[record].flags |= store::dfUnread;
  }
  for (const auto& f : folders) RefreshCounts(f);
  grid_.RepaintRows();
  state_.messages.ShowQueuedMessages();
}

void DeskBrowser::SetReadMark(bool read) {
  std::vector<int> records;
  const auto& rows = grid_.model().rows();
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].selected) records.push_back(static_cast<int>(i));
  WriteReadMark(records, read);
}

void DeskBrowser::OpenRecord(int record) {
  const auto& rows = grid_.model().rows();
  if (record < 0 || static_cast<size_t>(record) >= rows.size()) return;
  const DocRecord& r = rows[record];
  const std::string folder = r.folder, name = r.name;
  // Whoever showed it (the message window, a program), the document has been read; the row
  // is looked up again, as opening may have listed the folder anew.
  auto markRead = [this, record, folder, name] {
    const auto& now = grid_.model().rows();
    if (static_cast<size_t>(record) < now.size() && now[record].folder == folder && now[record].name == name)
      WriteReadMark({record}, true);
  };
  if (openDocument && openDocument(r)) {
    markRead();
    return;
  }
  if (r.ext.size() == 1 && r.ext[0] == kGroupMarkerExt) {
    std::string name = r.name;
    if (!name.empty() && name.back() == '.') name.pop_back();
    if (TreeNode* n = models_[1].FindNode(store::WithSlash(r.folder) + name + "/", true)) ShowNode(n);
    return;
  }
  const std::string path = r.ext.size() == 1 && r.ext[0] == kFolderMarkerExt ? r.name : r.FilePath();
  if (path.empty()) return;
  const QFileInfo fi(QString::fromStdString(path));
  // Documents are opened by the desktop's default application; nothing is ever executed.
  if (!fi.exists() || path.ends_with(".desktop") || (fi.isFile() && fi.isExecutable())) return;
  if (!openWithDesktop) return;
  const bool file = fi.isFile();
  openWithDesktop(fi.absoluteFilePath().toStdString());
  if (file) markRead();
}

GridMenu DeskBrowser::GridMenuFor(int record) const {
  GridMenuInput in;
  in.tab = tab_;
  in.shownRestricted = ShownRestricted();
  in.shownHasFolder = shown_ && !shown_->path.empty();
  in.selected = grid_.model().SelectedCount();
  const auto& rows = grid_.model().rows();
  for (const auto& r : rows) {
    if (!r.selected || r.IsContact() || r.IsLink() || r.name.empty()) continue;
    ++((r.flags & store::dfUnread) ? in.selectedUnread : in.selectedRead);
  }
  if (state_.blockedSenders && record >= 0 && static_cast<size_t>(record) < rows.size()) {
    in.blockableSender = DeskMail::BlockableSender(rows[record]);
    in.senderBlocked = !in.blockableSender.empty() && state_.blockedSenders->IsBlocked(in.blockableSender);
  }
  return DecideGridMenu(in);
}

void DeskBrowser::BlockSenderAction(const std::string& sender) {
  if (!state_.blockedSenders || sender.empty()) return;
  if (state_.blockedSenders->IsBlocked(sender)) {
    state_.blockedSenders->Unblock({sender});
    return;
  }
  if (prompts_->AskOkCancel(DeskMail::BlockQuestion(sender))) state_.blockedSenders->Block(sender);
}

}  // namespace px::desk
