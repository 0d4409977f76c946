#pragma once
// The desk's hand: what the user is carrying (picked-up rows, a folder, a sticker, ...), how a
// press becomes a carry, which cursor and drag picture go with it, and what a drop on a folder
// node, from another program or from the clipboard does. Widgets only forward events here.
#include "desk/grid_model.h"
#include "desk/tree_model.h"
#include "store/doc_record.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace px::desk {

enum class Hand {
  Empty,
  Documents,       // the selected grid rows
  Folder,          // the selected tree node
  Snapshot,        // documents taken over from another tab
  Opening,         // a document is being opened
  CustomiseIcons,  // Quickboard customise mode
  MoveIcons,       // Quickboard move mode
  Sticker,         // a sticker note
  ContactItem,     // a contact chosen from a menu
  MailSorting,     // the folder for a new sorting rule is being chosen
};

// The desk's cursors by number; the arrow, the no-drop and the busy cursor are the system's.
enum CarryCursor : int {
  ccArrow = 0,
  ccDrag = 1,
  ccMultiDrag = 2,
  ccDragFolder = 3,
  ccDragAddr = 4,
  ccDragSticker = 5,
  ccFont = 6,
  ccHand = 7,
  ccHand2 = 8,
  ccMailSort = 9,
  ccNoDrop = -1,
  ccBusy = -2,
};

inline constexpr int kPressDragDistance = 4;  // pixels the pointer moves before a press carries
inline constexpr int kAutoExpandMs = 500;     // hovering a collapsed node this long opens it
inline constexpr int kDropFeedbackMs = 200;   // the target node shows as selected before a drop
inline constexpr int kDragPictureRows = 10;   // rows drawn in the drag picture before "..."

inline constexpr std::string_view kBusyDropRefusal =
    "Sorry, but Plumadex is busy. Please drop it again when the current operation has finished.";
inline constexpr std::string_view kFoldersFromOutside =
    "Sorry, but only files can be placed here from another program. These folders were left out:";
inline constexpr std::string_view kNothingToRestore =
    "Sorry, but only documents in the trash bin can be restored.";

struct CursorInput {
  Hand hand = Hand::Empty;
  size_t count = 0;               // selected rows (Documents) or snapshot entries
  bool currentIsContact = false;  // the current item (or the snapshot's first entry)
  bool overQuickboard = false;
  bool slotPicked = false;        // MoveIcons with a picked slot
  bool busy = false;
};
int CarryCursorOf(const CursorInput& in);

struct DragPicture {
  bool shown = false;
  int offsetX = 0;  // of the picture's top left corner from the pointer
  int offsetY = 0;
};
DragPicture DragPictureOf(Hand hand, bool slotPicked = false);

// How many rows the picture draws (at most kDragPictureRows, never higher than the screen) and
// whether a "..." row follows them.
struct PictureRows {
  size_t rows = 0;
  bool ellipsis = false;
};
PictureRows DragPictureRows(size_t selected, int rowHeight, int screenHeight);

// How a drag of the hand's content (the system's drag and drop) ended.
enum class DragEnd {
  Cancelled,     // Escape, or let go where nothing takes it
  OtherProgram,  // another program took copies
  DeskGrid,      // let go over the desk's own grid
  DeskNode,      // let go over one of the desk's folder nodes: that drop runs next
};

class CarryHand {
public:
  Hand state() const { return state_; }
  bool Empty() const { return state_ == Hand::Empty; }
  // Holding something that a folder node takes.
  bool HoldsDroppable() const {
    return state_ == Hand::Documents || state_ == Hand::Folder || state_ == Hand::Snapshot ||
           state_ == Hand::Sticker;
  }

  void HoldDocuments(int currentRecord) {
    state_ = Hand::Documents;
    current_ = currentRecord;
  }
  void HoldFolder(std::string path) {
    state_ = Hand::Folder;
    folder_ = std::move(path);
  }
  void HoldSticker(std::string value, std::string charset) {
    state_ = Hand::Sticker;
    sticker_ = std::move(value);
    stickerCharset_ = std::move(charset);
  }
  // A tab switch with documents in hand: they are carried on as a snapshot.
  void TakeSnapshot(store::Selection selection, int currentRecord);
  // The new tab's listing holds some of the snapshot's documents: they are selected again and,
  // when the current item is among them, the hand holds documents again. Returns the records
  // to select.
  std::vector<size_t> Reselect(const store::DocRows& rows);
  // Cancelling, a completed drop or an emptied selection: the hand is empty again.
  void PutDown();
  // A drag that ended leaves nothing in hand: true when the hand is to be put down now; a drop
  // on a folder node runs first and DropOnNodeDone puts the hand down after it.
  bool DragEnded(DragEnd how);
  // The drop a drag ended on has run (or the node was gone): true when the hand is to be put
  // down, whatever the drop did.
  bool DropOnNodeDone();

  // The last press (screen coordinates); clears the press-drag flag.
  void Press(int x, int y);
  // A move with the left button held; true at the moment the pointer passes the press-drag
  // distance (the press starts carrying).
  bool MoveWithButton(int x, int y);
  bool PressDragging() const { return pressDrag_; }
  void ClearPressDrag() { pressDrag_ = false; }

  int currentRecord() const { return current_; }
  const std::string& folder() const { return folder_; }
  const std::string& sticker() const { return sticker_; }
  const std::string& StickerCharset() const { return stickerCharset_; }
  const store::Selection& snapshot() const { return snapshot_; }

private:
  Hand state_ = Hand::Empty;
  int current_ = -1;
  std::string folder_;
  std::string sticker_, stickerCharset_;
  store::Selection snapshot_;
  std::string snapshotCurrent_;  // folder + section of the current item
  int pressX_ = 0, pressY_ = 0;
  bool pressDrag_ = false;
  bool dropAfterDrag_ = false;
};

// A folder path's parent ("/a/b/" gives "/a/") and its last name ("b").
std::string ParentFolderOf(const std::string& folder);
std::string FolderNameOf(const std::string& folder);

// ---- picking up rows ----

// Selects or deselects a row; a parent whose children are collapsed takes them along.
void SelectWithHiddenChildren(GridModel& model, size_t record, bool on);

// A press on the name zone: an unselected row joins the selection and becomes current (the hand
// holds documents). Returns whether the row was selected already, in which case the release
// decides (ReleaseName).
bool PressName(GridModel& model, CarryHand& hand, size_t record);
// The release of a press on the name zone over the same row: a row that was selected already is
// removed unless the press carried; an emptied selection empties the hand.
void ReleaseName(GridModel& model, CarryHand& hand, size_t record, bool wasSelected, bool sameRow);
// Shift: the visible rows from the current one to the pressed one join the selection.
void ExtendSelection(GridModel& model, CarryHand& hand, size_t record);

// ---- drops ----

// The modifier keys over the drag default: Shift moves, Ctrl copies (as file managers do).
bool CarryMoves(bool defaultMove, bool ctrl, bool shift);

// What dropping the hand's content on a folder node does. busy: an operation, listing or
// transfer runs (the drop is refused, never queued).
DropDecision PlanCarryDrop(DropInput in, bool busy, bool ctrl, bool shift);

// Files from other programs (text/uri-list): the local paths among the URIs.
std::vector<std::string> LocalPathsOfUriList(std::string_view uriList);
// The text/uri-list of local paths (CR LF line ends).
std::string UriListOf(const std::vector<std::string>& paths);
// The file managers' clipboard form of copied or cut files ("copy"/"cut" and one URI a line).
std::string CopiedFilesText(const std::vector<std::string>& paths, bool cut);
// Reads the form above: the paths, and whether they were cut.
std::vector<std::string> PathsOfCopiedFiles(std::string_view text, bool* cut);

struct OutsideDropPlan {
  DropAction action = DropAction::Ignore;  // Copy (operation 2), Move (operation 7), Refuse
  std::string message;                     // the refusal, or the folders left out
  std::vector<std::string> files;          // regular files to store
  std::vector<std::string> copiedInstead;  // files of the desk's own folders: never taken away
};
// Files from another program dropped on a folder (the node, or the grid of the shown folder):
// copied by default and moved with Shift. Files the desk keeps itself (below managedRoot) are
// copied, never moved, so no index entry loses its file.
OutsideDropPlan PlanOutsideDrop(const TreeNode* target, const std::vector<std::string>& paths, bool busy,
                                bool shift, const std::vector<std::string>& managedRoots);

// ---- clipboard ----

// Ctrl+C / Ctrl+X between folders of the desk.
class DeskClipboard {
public:
  void Put(store::Selection items, bool cut) {
    items_ = std::move(items);
    cut_ = cut;
  }
  void Clear() {
    items_.clear();
    cut_ = false;
  }
  bool Empty() const { return items_.empty(); }
  bool Cut() const { return cut_; }
  const store::Selection& items() const { return items_; }
  std::vector<std::string> Paths() const;

private:
  store::Selection items_;
  bool cut_ = false;
};

struct PastePlan {
  DropAction action = DropAction::Ignore;  // Copy, Move, Duplicate (same folder), Refuse
  std::string message;
};
// Ctrl+V into the shown folder.
PastePlan PlanPaste(const DeskClipboard& clip, const TreeNode* target, bool busy, const std::string& trashFolder);

// ---- trash ----

// Where Restore puts a document of the trash: the folder it came from when that is known and
// still there, else the documents folder.
std::string RestoreTargetOf(const std::string& origin, const std::string& documentsFolder, bool originExists);

// ---- automatic expansion ----

class AutoExpand {
public:
  // The pointer carries something over node (null: over no node).
  void Hover(const TreeNode* node, int64_t nowMs);
  // The node to expand now, once per hover: collapsed and with (possible) children.
  const TreeNode* Due(int64_t nowMs);
  void Stop() { node_ = nullptr; }

private:
  const TreeNode* node_ = nullptr;
  int64_t since_ = 0;
  bool fired_ = false;
};

}  // namespace px::desk
