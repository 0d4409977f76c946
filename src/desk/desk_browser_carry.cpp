// The browser's side of carrying: the drops of the hand, files from other programs, Ctrl+V and
// Restore. Each asks its plan (desk/carry_hand) and runs the same operations as the menus; the
// trees follow a folder that moved.
#include "desk/desk_browser.h"

#include "contacts/address_map.h"
#include "desk/carry_targets.h"
#include "desk/desk_state.h"
#include "desk/opening.h"
#include "foundation/atomic_file.h"
#include "foundation/address.h"
#include "foundation/ini_file.h"
#include "foundation/strings.h"
#include "store/desk_actions.h"
#include "store/doc_operations.h"
#include "store/folder_files.h"

#include <QFileInfo>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

namespace px::desk {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

void Taken(const DeskBrowser::DropTaken& taken) {
  if (taken) taken();
}

}  // namespace

bool DeskBrowser::Busy() const {
  return state_.busy || ListingRunning() || (busyElsewhere && busyElsewhere());
}

TreeNode* DeskBrowser::NodeOfPath(const std::string& path) const {
  if (path.empty()) return nullptr;
  // The tab shown first: a folder may show in more than one tree.
  for (int t : {Ix(tab_), 0, 1})
    if (t < 2 && roots_[t])
      if (TreeNode* n = FindTreeNode(*roots_[t], path, nullptr)) return n;
  return nullptr;
}

DeskBrowser::CarryOutcome DeskBrowser::DropCarried(CarryHand hand, TreeNode* node, bool ctrl, bool shift,
                                                   const DropTaken& taken) {
  CarryOutcome out;
  if (!node) return out;
  DropInput in;
  in.tab = tab_;
  in.target = node;
  in.targetIsShown = node == shown_;
  in.copyMoveIsMove = DragMoves();
  in.trashFolder = state_.locations.trash;
  in.contactsFolder = state_.locations.contacts;
  in.fromFilesTab = tab_ == GridTab::Files;
  switch (hand.state()) {
    case Hand::Documents:
    case Hand::Snapshot: {
      const GridModel& m = grid_.model();
      in.what = tab_ == GridTab::Contacts ? DragKind::Contacts : DragKind::Documents;
      in.count = static_cast<int>(m.SelectedCount());
      in.sourceFolder = shownFolder_;
      if (hand.state() == Hand::Snapshot && m.SelectedCount() == 0) return out;  // nothing of it is here
      break;
    }
    case Hand::Folder:
      in.what = DragKind::Folder;
      in.sourceFolder = hand.folder();
      break;
    case Hand::Sticker: in.what = DragKind::Stickers; break;
    default: return out;
  }
  const DropDecision d = PlanCarryDrop(in, Busy(), ctrl, shift);
  out.action = d.action;
  switch (d.action) {
    case DropAction::Refuse: Warn(d.message); break;
    case DropAction::Copy:
    case DropAction::Move:
    case DropAction::AddGroupMembers:
      if (hand.state() == Hand::Folder)
        CarryFolder(hand.folder(), node, d.action == DropAction::Move, taken);
      else
        CarryDocuments(node, d.action == DropAction::Move, taken);
      break;
    case DropAction::Duplicate: DuplicateCarried(taken); break;
    case DropAction::MakeSticker: out.heldRecord = StickerToDocument(hand, node, taken); break;
    case DropAction::SendToGroup: {
      const std::vector<std::string> files = CarriedFiles(hand);
      Taken(taken);
      if (sendToGroup && !files.empty()) sendToGroup(files, node->path);
      break;
    }
    default: break;  // dropped where it already is: nothing happens
  }
  return out;
}

void DeskBrowser::CarryDocuments(TreeNode* node, bool move, const DropTaken& taken) {
  auto items = SelectedItemsWithParts();
  if (items.empty()) return;
  // Attachments carried without their message keep its text as a sticker.
  store::MarkOrphanAttachments(grid_.model().rows(), items);
  bool folders = false;
  for (auto& it : items) {
    it.targetFolder = node->path;
    folders = folders || it.ext.empty();
  }
  ops().RunOnSelection(move ? store::opMove : store::opCopy, items);
  if (folders && node->childrenLoaded) models_[Ix(tab_)].Load(node);
  Taken(taken);
  AfterOperation(folders);
}

void DeskBrowser::CarryFolder(const std::string& path, TreeNode* node, bool move, const DropTaken& taken) {
  TreeNode* source = NodeOfPath(path);
  if (!source || !source->parent || !NodeIsMovable(*source)) {
    Taken(taken);
    return;
  }
  store::OpItem item;
  item.folder = ParentFolderOf(path);
  item.name = FolderNameOf(path);
  item.title = source->caption;
  item.targetFolder = node->path;
  TreeNode* oldParent = source->parent;
  const std::string targetPath = node->path;
  const bool shownInside = shown_ && shown_->path.starts_with(path);
  Taken(taken);
  if (!ops().RunDocOperation(move ? store::opMove : store::opCopy, item)) {
    state_.messages.ShowQueuedMessages();
    return;
  }
  FollowMovedFolder(move ? oldParent : nullptr, targetPath, item.folder + item.name + "/", move && shownInside);
  CheckTrash();
  state_.messages.ShowQueuedMessages();
}

void DeskBrowser::FollowMovedFolder(TreeNode* oldParent, const std::string& targetPath, const std::string& movedPath,
                                    bool shownInside) {
  // The folder leaves its old parent and shows under the target.
  if (shownInside) ForgetShownNode();
  FolderTreeModel& model = models_[Ix(tab_)];
  if (oldParent) model.Load(oldParent);
  if (TreeNode* target = NodeOfPath(targetPath)) {
    target->expanded = true;
    model.Load(target);
    if (shownInside) {
      TreeNode* again = model.FindNode(movedPath, true);
      ShowNode(again ? again : target);
    }
  }
  if (!shown_) ShowNode(roots_[Ix(tab_)].get());
}

void DeskBrowser::DuplicateCarried(const DropTaken& taken) {
  auto items = SelectedItems();
  if (items.size() != 1) return;
  const store::OpItem& it = items.front();
  if (it.ext.empty() || IsContactExt(it.ext)) return;
  // The menu's Duplicate: beside the row the user sees (a link's copy where the link shows), the
  // name offered again when it is taken.
  store::OpItem copy = store::DuplicateItem(it, store::EditableTitle(it));
  ops().RunDocOperation(store::opStoreCopy, copy);
  Taken(taken);
  AfterOperation(false);
}

int DeskBrowser::StickerToDocument(const CarryHand& hand, TreeNode* node, const DropTaken& taken) {
  const std::string text = StickerTextForEditing(hand.sticker());
  const std::string charset = hand.StickerCharset();
  const std::string target = node->path;
  Taken(taken);
  const auto title = prompts_->AskText(std::string(store::kNewDocumentTitle), std::string(store::kNewDocumentPrompt), "Sticker");
  if (!title || Trim(*title).empty()) return -1;
  // The note is written to a scratch file and stored from there as a new document.
  const std::string scratchFolder = state_.locations.tempFolder.empty() ? state_.locations.documents : state_.locations.tempFolder;
  const std::string scratch = scratchFolder + "(Temporary Sticker File).txt";
  std::error_code ec;
  std::filesystem::create_directories(scratchFolder, ec);
  if (!SaveFileAtomic(scratch, text, false).ok()) {
    state_.messages.QueueMessage(MessageKind::Error, "Cannot create " + scratch);
    state_.messages.ShowQueuedMessages();
    return -1;
  }
  store::OpItem item;
  item.sourceFile = scratch;
  item.targetFolder = target;
  item.title = Trim(*title);
  item.name = "(Temporary Sticker File).txt";
  item.ext = "txt";
  item.charset = charset;
  if (!ops().RunDocOperation(store::opStoreMove, item)) ::unlink(scratch.c_str());
  AfterOperation(false);
  // The new document is selected where it is shown.
  if (item.targetFolder != shownFolder_ && item.folder != shownFolder_) return -1;
  GridModel& m = grid_.model();
  const int r = m.FindRecord(item.folder, item.Section());
  if (r < 0) return -1;
  m.SelectOnly(static_cast<size_t>(r));
  grid_.SelectionTouched();
  return r;
}

void DeskBrowser::WriteStickerOn(int record, const std::string& sticker) {
  const auto& rows = grid_.model().rows();
  if (record < 0 || static_cast<size_t>(record) >= rows.size()) return;
  store::OpItem item = store::ItemFromSelection(store::MakeSelectionRecord(rows[record], record), state_.locations.contacts);
  item.sticker = sticker;
  ops().RunDocOperation(store::opWriteSticker, item);
  AfterOperation(false);
}

std::vector<std::string> DeskBrowser::CarriedFiles(const CarryHand& hand) const {
  std::vector<std::string> files;
  if (hand.state() == Hand::Snapshot) {
    for (const auto& rec : hand.snapshot()) {
      const store::OpItem it = store::ItemFromSelection(rec, state_.locations.contacts);
      if (!it.ext.empty() && !IsContactExt(it.ext)) files.push_back(it.Path());
    }
    return files;
  }
  for (const auto& it : SelectedItemsWithParts())
    if (!it.ext.empty()) files.push_back(it.Path());
  return files;
}

bool DeskBrowser::GiveToContactRow(const store::DocRecord& row, const std::vector<std::string>& files,
                                   const DropTaken& taken) {
  if (files.empty()) return false;
  if (row.ext.size() == 1 && row.ext[0] == kGroupMarkerExt) {
    // A group row is named after its section, the folder's name with "." after it.
    std::string name = row.name;
    if (!name.empty() && name.back() == '.') name.pop_back();
    const std::string folder = store::WithSlash(row.folder) + name + "/";
    Taken(taken);
    if (sendToGroup) sendToGroup(files, folder);
    return true;
  }
  if (!row.IsContact() || row.address.empty()) return false;
  // Contact rows carry "Last, First" (a lone first name as ", First").
  std::string title = Trim(row.title);
  if (!title.empty() && title.front() == ',') title = Trim(title.substr(1));
  const std::string to =
      FormatAddressElement(contacts::ContactDisplayName(title, state_.settings.FirstNameFirst()), row.address);
  Taken(taken);
  if (sendToPerson) sendToPerson(files, to);
  return true;
}

void DeskBrowser::GiveToAddress(const CarryHand& hand, const std::string& to, const DropTaken& taken) {
  if (!sendToPerson) return;
  const std::vector<std::string> files = CarriedFiles(hand);
  Taken(taken);
  sendToPerson(files, to);
}

void DeskBrowser::StoreFiles(const std::vector<std::string>& files, const std::string& folder, bool move) {
  if (files.empty()) return;
  std::vector<store::OpItem> items;
  for (const auto& f : files) {
    const QFileInfo fi(Q(f));
    store::OpItem it;
    it.sourceFile = f;
    it.targetFolder = folder;
    it.name = fi.fileName().toStdString();
    it.ext = fi.suffix().toStdString();
    it.title = fi.suffix().isEmpty() ? it.name : fi.completeBaseName().toStdString();
    it.askOnCollision = true;
    items.push_back(std::move(it));
  }
  ops().RunOnSelection(move ? store::opStoreMove : store::opStoreCopy, items);
}

void DeskBrowser::DropFiles(const TreeNode* node, const std::vector<std::string>& paths, bool shift) {
  if (!node) node = shown_;
  if (node && importCards && (node->image == niContacts || node->image == niGroup)) {
    std::vector<std::string> cards;
    for (const auto& p : paths)
      if (QFileInfo(Q(p)).suffix().compare(QLatin1String("vcf"), Qt::CaseInsensitive) == 0) cards.push_back(p);
    if (!cards.empty()) {
      importCards(cards, node->path);
      return;
    }
  }
  const OutsideDropPlan plan =
      PlanOutsideDrop(node, paths, Busy(), shift, {state_.locations.documents, state_.locations.dataRoot});
  if (plan.action == DropAction::Copy || plan.action == DropAction::Move) {
    std::vector<std::string> take, copy;
    for (const auto& f : plan.files)
      (std::find(plan.copiedInstead.begin(), plan.copiedInstead.end(), f) != plan.copiedInstead.end() ? copy : take)
          .push_back(f);
    StoreFiles(take, node->path, plan.action == DropAction::Move);
    StoreFiles(copy, node->path, false);
    if (!plan.message.empty()) state_.messages.QueueMessage(MessageKind::Warning, plan.message);
    AfterOperation(false);
    return;
  }
  if (!plan.message.empty()) Warn(plan.message);
}

DeskBrowser::PasteOutcome DeskBrowser::Paste(DeskClipboard& clip) {
  PasteOutcome out;
  TreeNode* target = shown_;
  if (!target || tab_ == GridTab::Tools) return out;
  const PastePlan plan = PlanPaste(clip, target, Busy(), state_.locations.trash);
  if (plan.action == DropAction::Refuse) {
    Warn(plan.message);
    return out;
  }
  std::vector<store::OpItem> items;
  for (const auto& rec : clip.items()) items.push_back(store::ItemFromSelection(rec, state_.locations.contacts));
  if (plan.action == DropAction::Duplicate) {
    // Pasted where it was copied: the menu's Duplicate of each document, beside its row.
    std::vector<store::OpItem> copies;
    for (const auto& it : items)
      if (!it.ext.empty()) copies.push_back(store::DuplicateItem(it, store::EditableTitle(it)));
    ops().RunOnSelection(store::opStoreCopy, copies);
  } else if (plan.action == DropAction::Copy || plan.action == DropAction::Move) {
    bool folders = false;
    for (auto& it : items) {
      it.targetFolder = target->path;
      folders = folders || it.ext.empty();
    }
    const std::string targetPath = target->path;
    ops().RunOnSelection(plan.action == DropAction::Move ? store::opMove : store::opCopy, items);
    if (clip.Cut()) {
      clip.Clear();
      out.cutTaken = true;
    }
    if (folders) {
      // Folders moved away leave their old parents; the target shows them.
      for (int t = 0; t < 2; ++t)
        if (roots_[t]) {
          roots_[t]->expanded = true;
          models_[t].Load(roots_[t].get());
        }
      ForgetShownNode();
      TreeNode* again = models_[Ix(tab_)].FindNode(targetPath, true);
      ShowNode(again ? again : roots_[Ix(tab_)].get());
    }
  } else {
    return out;
  }
  out.ran = true;
  grid_.model().ClearSelection();
  grid_.SelectionTouched();
  AfterOperation(false);
  return out;
}

bool DeskBrowser::RestoreAvailable() const {
  const std::string& trash = state_.locations.trash;
  return !trash.empty() && tab_ == GridTab::Files && shownFolder_.starts_with(trash) && grid_.model().SelectedCount() > 0;
}

bool DeskBrowser::RestoreSelection() {
  if (!RestoreAvailable()) {
    Warn(kNothingToRestore);
    return false;
  }
  if (Busy()) {
    Warn(kBusyDropRefusal);
    return false;
  }
  auto items = SelectedItemsWithParts();
  const std::string& trash = state_.locations.trash;
  std::map<std::string, std::vector<store::OpItem>> byTarget;
  for (auto& it : items) {
    const std::string origin =
        it.folder == trash ? store::TrashOriginOf(state_.indexRegistry, trash, it.Section()) : std::string();
    std::error_code ec;
    const bool exists = !origin.empty() && std::filesystem::is_directory(origin, ec) && !origin.starts_with(trash);
    it.targetFolder = RestoreTargetOf(origin, state_.locations.documents, exists);
    byTarget[it.targetFolder].push_back(it);
  }
  for (auto& [target, group] : byTarget) ops().RunOnSelection(store::opMove, group);
  grid_.model().ClearSelection();
  grid_.SelectionTouched();
  AfterOperation(false);
  return true;
}

void DeskBrowser::RestoreFolder(TreeNode* node) {
  const std::string& trash = state_.locations.trash;
  if (!node || ParentFolderOf(node->path) != trash) return;
  if (Busy()) {
    Warn(kBusyDropRefusal);
    return;
  }
  store::OpItem item;
  item.folder = trash;
  item.name = FolderNameOf(node->path);
  item.title = node->caption;
  const std::string origin = store::TrashOriginOf(state_.indexRegistry, trash, item.name + ".");
  std::error_code ec;
  const bool exists = !origin.empty() && std::filesystem::is_directory(origin, ec) && !origin.starts_with(trash);
  item.targetFolder = RestoreTargetOf(origin, state_.locations.documents, exists);
  const bool shownInside = shown_ && shown_->path.starts_with(node->path);
  TreeNode* trashNode = node->parent;
  if (!ops().RunDocOperation(store::opMove, item)) {
    state_.messages.ShowQueuedMessages();
    return;
  }
  if (shownInside) ForgetShownNode();
  FolderTreeModel& model = models_[0];
  model.Load(trashNode);
  if (TreeNode* home = NodeOfPath(item.targetFolder)) {
    home->expanded = true;
    model.Load(home);
  }
  if (!shown_) ShowNode(trashNode);
  CheckTrash();
  state_.messages.ShowQueuedMessages();
}

}  // namespace px::desk
