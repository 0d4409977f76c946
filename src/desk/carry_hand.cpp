#include "desk/carry_hand.h"

#include "desk/carry_targets.h"
#include "store/doc_record.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace px::desk {

namespace {

bool Below(const std::string& path, const std::string& folder) {
  return !folder.empty() && path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0;
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(pos, end - pos));
    while (!line.empty() && (line.back() == '\r' || line.back() == '\0')) line.pop_back();
    out.push_back(std::move(line));
    if (end == text.size()) break;
    pos = end + 1;
  }
  return out;
}

std::string LocalPathOfUri(const std::string& line) {
  if (line.empty() || line[0] == '#') return {};
  const QUrl url(QString::fromUtf8(line.data(), static_cast<int>(line.size())), QUrl::StrictMode);
  if (!url.isValid() || !url.isLocalFile()) return {};
  // Another machine's file is no local path, whatever its name says.
  if (!url.host().isEmpty() && url.host() != QLatin1String("localhost")) return {};
  // Non-UTF-8 bytes in a name arrive percent-encoded: keep them as bytes.
  const QByteArray raw = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
  if (raw.isEmpty() || raw[0] != '/') return {};
  return raw.toStdString();
}

std::string UriOfPath(const std::string& path) {
  // Every byte outside the unreserved set is percent-encoded, so names with blanks, "%" or
  // bytes that are not UTF-8 travel unchanged.
  static const char* const hex = "0123456789ABCDEF";
  std::string out = "file://";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

}  // namespace

int CarryCursorOf(const CursorInput& in) {
  if (in.busy) return ccBusy;
  switch (in.hand) {
    case Hand::Documents:
    case Hand::Snapshot:
      if (in.currentIsContact) return ccDragAddr;
      return in.count > 1 ? ccMultiDrag : ccDrag;
    case Hand::Folder: return ccDragFolder;
    case Hand::CustomiseIcons: return in.overQuickboard ? ccFont : ccNoDrop;
    case Hand::MoveIcons:
      if (!in.overQuickboard) return ccNoDrop;
      return in.slotPicked ? ccHand2 : ccHand;
    case Hand::Sticker: return ccDragSticker;
    case Hand::MailSorting: return ccMailSort;
    default: return ccArrow;
  }
}

DragPicture DragPictureOf(Hand hand, bool slotPicked) {
  switch (hand) {
    case Hand::Documents:
    case Hand::Snapshot:  // carried on to another tab: still seen in hand
    case Hand::MailSorting: return {true, -32, 16};
    case Hand::Folder: return {true, -8, 16};
    case Hand::MoveIcons: return {slotPicked, 0, 0};  // where the button was grabbed
    default: return {};
  }
}

PictureRows DragPictureRows(size_t selected, int rowHeight, int screenHeight) {
  PictureRows r;
  if (selected == 0 || rowHeight <= 0) return r;
  size_t fit = screenHeight > 0 ? static_cast<size_t>(screenHeight / rowHeight) : kDragPictureRows + 1;
  if (fit == 0) fit = 1;
  r.rows = std::min(selected, static_cast<size_t>(kDragPictureRows));
  r.ellipsis = selected > kDragPictureRows;
  // Never higher than the screen: the "..." row stays, the rows before it give way.
  while (r.rows + (r.ellipsis ? 1 : 0) > fit && r.rows > 1) {
    --r.rows;
    r.ellipsis = true;
  }
  return r;
}

// ---- hand ----

void CarryHand::TakeSnapshot(store::Selection selection, int currentRecord) {
  snapshot_ = std::move(selection);
  snapshotCurrent_.clear();
  for (const auto& s : snapshot_)
    if (static_cast<int>(s.row) == currentRecord) snapshotCurrent_ = s.folder + s.prefix + s.name;
  state_ = Hand::Snapshot;
  current_ = -1;
}

std::vector<size_t> CarryHand::Reselect(const store::DocRows& rows) {
  std::vector<size_t> out;
  if (state_ != Hand::Snapshot) return out;
  for (size_t i = 0; i < rows.size(); ++i) {
    for (const auto& s : snapshot_) {
      if (rows[i].folder == s.folder && rows[i].name == s.name && rows[i].prefix == s.prefix) {
        out.push_back(i);
        if (s.folder + s.prefix + s.name == snapshotCurrent_) {
          state_ = Hand::Documents;
          current_ = static_cast<int>(i);
        }
        break;
      }
    }
  }
  return out;
}

void CarryHand::PutDown() {
  state_ = Hand::Empty;
  current_ = -1;
  folder_.clear();
  sticker_.clear();
  stickerCharset_.clear();
  snapshot_.clear();
  snapshotCurrent_.clear();
  pressDrag_ = false;
}

bool CarryHand::DragEnded(DragEnd how) {
  pressDrag_ = false;
  if (how == DragEnd::DeskNode) {
    dropAfterDrag_ = true;
    return false;
  }
  dropAfterDrag_ = false;
  return true;
}

bool CarryHand::DropOnNodeDone() {
  if (!dropAfterDrag_) return false;
  dropAfterDrag_ = false;
  return true;
}

void CarryHand::Press(int x, int y) {
  pressX_ = x;
  pressY_ = y;
  pressDrag_ = false;
}

bool CarryHand::MoveWithButton(int x, int y) {
  if (pressDrag_) return false;
  if (std::abs(x - pressX_) > kPressDragDistance || std::abs(y - pressY_) > kPressDragDistance) {
    pressDrag_ = true;
    return true;
  }
  return false;
}

// ---- picking up rows ----

void SelectWithHiddenChildren(GridModel& model, size_t record, bool on) {
  auto& rows = model.MutableRows();
  if (record >= rows.size()) return;
  rows[record].selected = on;
  if (!(rows[record].searchState & store::rsHasChildren)) return;
  for (size_t j = record + 1; j < rows.size() && (rows[j].searchState & store::rsChild); ++j)
    if (rows[j].searchState & store::rsCollapsedChild) rows[j].selected = on;
}

bool PressName(GridModel& model, CarryHand& hand, size_t record) {
  if (record >= model.size()) return false;
  const bool was = model.rows()[record].selected;
  if (!was) SelectWithHiddenChildren(model, record, true);
  hand.HoldDocuments(static_cast<int>(record));
  return was;
}

void ReleaseName(GridModel& model, CarryHand& hand, size_t record, bool wasSelected, bool sameRow) {
  if (record >= model.size()) return;
  if (wasSelected && sameRow && !hand.PressDragging()) {
    SelectWithHiddenChildren(model, record, false);
    if (model.SelectedCount() == 0) {
      hand.PutDown();
    } else if (hand.currentRecord() == static_cast<int>(record)) {
      // Another selected row becomes current.
      const auto& rows = model.rows();
      for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].selected) {
          hand.HoldDocuments(static_cast<int>(i));
          break;
        }
    }
  }
}

void ExtendSelection(GridModel& model, CarryHand& hand, size_t record) {
  if (record >= model.size()) return;
  const int cur = hand.currentRecord();
  const int from = cur >= 0 ? model.VisibleOfRecord(static_cast<size_t>(cur)) : -1;
  const int to = model.VisibleOfRecord(record);
  if (from >= 0 && to >= 0 && from != to) {
    const int step = to > from ? 1 : -1;
    for (int v = from + step; v != to; v += step)
      SelectWithHiddenChildren(model, model.RecordOfVisible(static_cast<size_t>(v)), true);
  }
  SelectWithHiddenChildren(model, record, true);
  hand.HoldDocuments(static_cast<int>(record));
}

// ---- drops ----

bool CarryMoves(bool defaultMove, bool ctrl, bool shift) {
  if (shift && !ctrl) return true;
  if (ctrl && !shift) return false;
  return defaultMove;
}

DropDecision PlanCarryDrop(DropInput in, bool busy, bool ctrl, bool shift) {
  DropDecision d;
  if (!in.target || in.what == DragKind::None || in.tab == GridTab::Tools) return d;
  if (busy) {
    d.action = DropAction::Refuse;
    d.message = std::string(kBusyDropRefusal);
    return d;
  }
  // A folder put back on its own parent stays where it is.
  if (in.what == DragKind::Folder && !in.sourceFolder.empty() && ParentFolderOf(in.sourceFolder) == in.target->path)
    return d;
  in.copyMoveIsMove = CarryMoves(in.copyMoveIsMove, ctrl, shift);
  d = DecideDrop(in);
  // A sticker note dropped on any folder that takes files becomes a text document there.
  if (in.what == DragKind::Stickers && d.action == DropAction::Ignore && !in.target->path.empty() &&
      AcceptsDropsImage(in.target->image, in.bookmarks) && !in.target->Restricted(in.bookmarks) &&
      in.target->image != niContacts && in.target->image != niGroup)
    d.action = DropAction::MakeSticker;
  return d;
}

std::vector<std::string> LocalPathsOfUriList(std::string_view uriList) {
  std::vector<std::string> out;
  for (const auto& line : Lines(uriList)) {
    std::string p = LocalPathOfUri(line);
    if (p.empty()) continue;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(std::move(p));
  }
  return out;
}

std::string UriListOf(const std::vector<std::string>& paths) {
  std::string out;
  for (const auto& p : paths) out += UriOfPath(p) + "\r\n";
  return out;
}

std::string CopiedFilesText(const std::vector<std::string>& paths, bool cut) {
  std::string out = cut ? "cut" : "copy";
  for (const auto& p : paths) out += "\n" + UriOfPath(p);
  return out;
}

std::vector<std::string> PathsOfCopiedFiles(std::string_view text, bool* cut) {
  const auto lines = Lines(text);
  if (cut) *cut = !lines.empty() && lines.front() == "cut";
  if (lines.empty() || (lines.front() != "cut" && lines.front() != "copy")) return LocalPathsOfUriList(text);
  std::string rest;
  for (size_t i = 1; i < lines.size(); ++i) rest += lines[i] + "\n";
  return LocalPathsOfUriList(rest);
}

OutsideDropPlan PlanOutsideDrop(const TreeNode* target, const std::vector<std::string>& paths, bool busy,
                                bool shift, const std::vector<std::string>& managedRoots) {
  OutsideDropPlan plan;
  if (paths.empty()) return plan;
  if (busy) {
    plan.action = DropAction::Refuse;
    plan.message = std::string(kBusyDropRefusal);
    return plan;
  }
  const std::string refusal = CarryTargetRefusal(target, {}, {}, false);
  if (!refusal.empty()) {
    plan.action = DropAction::Refuse;
    plan.message = refusal;
    return plan;
  }
  std::vector<std::string> folders;
  for (const auto& p : paths) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) continue;  // gone meanwhile: nothing to store
    if (S_ISDIR(st.st_mode)) {
      folders.push_back(p);
      continue;
    }
    if (!S_ISREG(st.st_mode)) continue;  // links, devices and pipes are never stored
    if (ParentFolderOf(p) == target->path) continue;  // already there
    bool managed = false;
    for (const auto& root : managedRoots) managed = managed || Below(p, root);
    if (managed && shift) plan.copiedInstead.push_back(p);
    plan.files.push_back(p);
  }
  if (!folders.empty()) {
    plan.message = std::string(kFoldersFromOutside);
    for (const auto& f : folders) plan.message += "\r" + f;
  }
  if (plan.files.empty()) {
    plan.action = folders.empty() ? DropAction::Ignore : DropAction::Refuse;
    return plan;
  }
  plan.action = shift ? DropAction::Move : DropAction::Copy;
  return plan;
}

// ---- clipboard ----

std::vector<std::string> DeskClipboard::Paths() const {
  std::vector<std::string> out;
  for (const auto& s : items_) {
    std::string p = s.folder + s.name;
    if (!s.target.empty()) {
      store::DocRecord r;
      r.target = s.target;
      p = r.FilePath();
    }
    if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(std::move(p));
  }
  return out;
}

PastePlan PlanPaste(const DeskClipboard& clip, const TreeNode* target, bool busy, const std::string& trashFolder) {
  PastePlan plan;
  if (clip.Empty() || !target) return plan;
  if (busy) {
    plan.action = DropAction::Refuse;
    plan.message = std::string(kBusyDropRefusal);
    return plan;
  }
  std::vector<std::string> sources, folders;
  bool allHere = true;
  for (const auto& s : clip.items()) {
    sources.push_back(s.folder);
    if (s.ext.empty()) folders.push_back(s.folder + s.name + "/");
    allHere = allHere && s.folder == target->path;
  }
  if (const std::string refusal = CarryTargetRefusal(target, sources, folders, false); !refusal.empty()) {
    plan.action = DropAction::Refuse;
    plan.message = refusal;
    return plan;
  }
  if (allHere) {
    // Cut and pasted where it was: nothing moves. Copied and pasted there: a second copy.
    plan.action = clip.Cut() || !folders.empty() ? DropAction::Ignore : DropAction::Duplicate;
    return plan;
  }
  bool move = clip.Cut();
  for (const auto& s : sources) move = move || Below(s, trashFolder);
  move = move || Below(target->path, trashFolder);
  plan.action = move ? DropAction::Move : DropAction::Copy;
  return plan;
}

// ---- trash ----

std::string RestoreTargetOf(const std::string& origin, const std::string& documentsFolder, bool originExists) {
  if (!origin.empty() && originExists) return origin.back() == '/' ? origin : origin + "/";
  return documentsFolder;
}

// ---- automatic expansion ----

void AutoExpand::Hover(const TreeNode* node, int64_t nowMs) {
  if (node == node_) return;
  node_ = node;
  since_ = nowMs;
  fired_ = false;
}

const TreeNode* AutoExpand::Due(int64_t nowMs) {
  if (!node_ || fired_ || nowMs - since_ < kAutoExpandMs) return nullptr;
  if (node_->expanded) return nullptr;
  const bool mayHaveChildren = node_->childrenLoaded ? !node_->children.empty() : node_->hasSubfolders;
  if (!mayHaveChildren) return nullptr;
  fired_ = true;
  return node_;
}

std::string ParentFolderOf(const std::string& folder) {
  std::string f = folder;
  if (!f.empty() && f.back() == '/') f.pop_back();
  const size_t slash = f.rfind('/');
  return slash == std::string::npos ? std::string() : f.substr(0, slash + 1);
}

std::string FolderNameOf(const std::string& folder) {
  std::string f = folder;
  if (!f.empty() && f.back() == '/') f.pop_back();
  const size_t slash = f.rfind('/');
  return slash == std::string::npos ? f : f.substr(slash + 1);
}

}  // namespace px::desk
