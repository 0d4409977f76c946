#pragma once
// The Quickboard: the launcher bar across the top of the desk. A grid of 1 to 6 rows of slots,
// each empty or holding one item (a document, folder, program, shortcut, contact, address group
// or new-document template), kept in `quickboard.ini` of the data root. This is the model: the
// slots, what kind of thing a path is, reading and writing the file, the modes of a click,
// drops on a slot, and the slots following documents and folders that move or go away. The
// bar on the screen (desk/ui/quickboard_view) only shows it.
#include "foundation/ini_file.h"
#include "foundation/types.h"
#include "store/op_services.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace px::desk {

inline constexpr int kQuickboardMaxRows = 6;
inline constexpr std::string_view kQuickboardSection = "$$.Plumadex";

// Images of the large-icon list that stand for a kind rather than a loaded icon.
inline constexpr int kImageNone = 0;
inline constexpr int kImageContact = 2;
inline constexpr int kImageGroup = 3;

enum class SlotKind { Empty, Template, Contact, Group, Folder, Document, Program, Shortcut };

struct QuickboardItem {
  std::string path;     // "" for an empty slot
  SlotKind kind = SlotKind::Empty;
  int image = kImageNone;
  std::string title;    // the hint ("~charset~title" for a document with a Charset)
  std::string label;    // the user's caption (`Caption`), "" when not customised
  std::string icon;     // the stored icon's file name inside the icons folder, "" for none
  std::string themeIcon;  // the desktop's icon name of a program (its .desktop Icon)
  // The target is on a medium that is not there now (unmounted, unreachable share): the slot
  // keeps it, greyed, and clicking it does nothing.
  bool unavailable = false;
  bool Empty() const { return path.empty(); }
};

// What the file system says about a path (a seam: tests give a fake).
enum class PathState { Missing, Folder, File, Unavailable };
struct PathFacts {
  PathState state = PathState::Missing;
  bool executable = false;
  bool symlink = false;
  std::string linkTarget;   // a symbolic link's target, made absolute
};
struct DesktopFacts {
  std::string name;  // Name=
  std::string icon;  // Icon=
  bool email = false;  // Categories hold Email
};

class QuickboardFs {
public:
  virtual ~QuickboardFs() = default;
  virtual PathFacts Stat(const std::string& path) const = 0;
  // The [Desktop Entry] of a .desktop file; nullopt when it cannot be read.
  virtual std::optional<DesktopFacts> DesktopEntryOf(const std::string& path) const = 0;
  // `Title` (and `Charset`) of a document or folder from its folder's index; "" when none.
  virtual std::string IndexTitle(const std::string& path, std::string* charset) const = 0;
  // Whether the contacts index has a section of that name.
  virtual bool ContactSection(const std::string& name) const = 0;
  virtual bool RemoveFile(const std::string& path) const = 0;
};

// The real file system: stat without following the last link, mount points from /proc/mounts
// and /etc/fstab, the folder indexes through the registry of the store.
class SystemQuickboardFs final : public QuickboardFs {
public:
  // indexTitle / contactSection read the indexes (the desk passes the registry's readers).
  SystemQuickboardFs(std::function<std::string(const std::string&, std::string*)> indexTitle,
                     std::function<bool(const std::string&)> contactSection);
  PathFacts Stat(const std::string& path) const override;
  std::optional<DesktopFacts> DesktopEntryOf(const std::string& path) const override;
  std::string IndexTitle(const std::string& path, std::string* charset) const override;
  bool ContactSection(const std::string& name) const override;
  bool RemoveFile(const std::string& path) const override;
  // A missing path below a place where media and shares are mounted (an fstab mount point that
  // is not mounted now, /media, /run/media, /mnt): it may come back.
  static bool OnAbsentMedium(const std::string& path, const std::vector<std::string>& fstabMounts,
                             const std::vector<std::string>& mounted);

private:
  std::function<std::string(const std::string&, std::string*)> indexTitle_;
  std::function<bool(const std::string&)> contactSection_;
  std::vector<std::string> fstab_, mounted_;
};

// A new-document template offered on the bar (path "." + extension).
struct QuickboardTemplate {
  std::string ext;      // with the dot: ".odt"
  std::string caption;  // "New " + type name + " (" + ext + ")"
};

// ---- quickboard.ini ----

// `Contents`: the slots' paths joined with "|", trailing empty slots dropped. A name with "|"
// (or "%") is written percent-escaped, and `Escaped=1` beside it says so; a file without that
// key is read in the old form, split at every "|".
struct ContentsText {
  std::string contents;
  bool escaped = false;
};
ContentsText SerialiseContents(const std::vector<std::string>& paths);
std::vector<std::string> ParseContents(std::string_view contents, bool escaped);
// `Rows` limited to 1..6 (0 reads as 1, 9 as 6; not a number: 2).
int ClampRows(int64_t rows);
// An `Icon` value is used only when it is a plain file name (no folder part, not hidden,
// ".ico", ".bmp", ".png" or ".svg"), so that nothing outside the icons folder is read or deleted.
bool IsSafeIconName(std::string_view icon);

// The kind and title a path has, as a slot shows it (templates are looked up by the caller).
struct Classified {
  SlotKind kind = SlotKind::Empty;
  std::string title;
  int image = kImageNone;
  std::string themeIcon;
  bool unavailable = false;
  bool keep = true;  // false: the target is gone for good
};
Classified ClassifyPath(const std::string& path, const std::string& contactsFolder, const QuickboardFs& fs);

enum class QuickboardMode { Normal, Move, Customise, MailSort };

// What a click on a slot asks the desk to do.
struct SlotClick {
  enum Action { Nothing, Open, Picked, Swapped, EndMode, Customise, SortRule } action = Nothing;
  int slot = -1;
  int other = -1;      // Swapped: the slot picked before
  std::string path;    // Open / SortRule: the item's path
};

// What is dropped on a slot (Part of carrying: the hand's contents or a drag from elsewhere).
struct SlotDrop {
  enum Kind { Documents, Folder, Contacts, Tool } kind = Documents;
  std::vector<std::string> paths;   // documents: full paths; folder: the folder path; contacts:
                                    // contacts folder + section name
  bool fromContactsTree = false;    // a folder dragged within the contacts tree: a group
  std::string caption;              // tools: the item's caption
  bool messages = false;            // documents that are mail messages
};
struct DropPlan {
  enum Action { Refuse, Place, OpenWith, Swap } action = Refuse;
  QuickboardItem item;              // Place: the new item
  std::string program;              // OpenWith: the program slot's path
  std::vector<std::string> files;   // OpenWith: the documents
};

class Quickboard final : public store::QuickboardLinks {
public:
  struct Env {
    std::string iniPath;          // quickboard.ini
    std::string iconsFolder;      // ends in "/"
    std::string contactsFolder;   // ends in "/"
    std::string trashFolder;      // ends in "/": what moves there is gone from the bar
    const QuickboardFs* fs = nullptr;
    std::vector<QuickboardTemplate> templates;
  };
  explicit Quickboard(Env env);

  // Reads `Rows` and `Contents` and makes each slot's item; items whose target is gone are
  // dropped from the file (their icon file deleted). Returns the status of that save.
  FileStatus Load();
  // The same in three steps, so that the look at every target runs on a worker: ReadPaths and
  // Apply on the thread that owns the model, MakeItems anywhere (it only reads).
  std::vector<std::string> ReadPaths();
  static std::vector<QuickboardItem> MakeItems(const Env& env, const std::vector<std::string>& paths);
  FileStatus Apply(const std::vector<std::string>& paths, std::vector<QuickboardItem> items);
  FileStatus SaveContents();
  FileStatus SaveRows();
  // Writes `Icon` and `Caption` of a slot's item (an empty caption removes the key).
  FileStatus SaveItem(int slot);
  // Deletes the item's icon file and erases its section.
  FileStatus RemoveItemSection(const std::string& path);

  // Slots: columns x 6 (at least the items read); the shown rows are the first `Rows()` rows.
  void SetColumns(int columns);
  int Columns() const { return columns_; }
  int Rows() const { return rows_; }
  // Returns false when already at the limit.
  bool SetRows(int rows);
  const std::vector<QuickboardItem>& Items() const { return items_; }
  const QuickboardItem* Item(int slot) const;
  int SlotOf(const std::string& path) const;
  // Slots shown now: Columns() x Rows().
  int ShownSlots() const { return columns_ * rows_; }

  void Swap(int a, int b);
  // Empties the slot, removes its section and icon file, saves `Contents`.
  void Remove(int slot);
  // Puts an item into a slot (replacing what was there) and saves.
  void Place(int slot, QuickboardItem item);
  // A fresh item for a path (kind, title, image), as loading makes it; an empty item when the
  // target does not exist.
  QuickboardItem MakeItem(const std::string& path) const;
  static QuickboardItem MakeItemFor(const Env& env, const std::string& path);
  // The user's caption and stored icon of a slot (customise), saved at once. A new icon file
  // replaces the old one, which is deleted.
  void Customise(int slot, const std::string& label, const std::string& iconFile);

  // Modes and clicks.
  QuickboardMode Mode() const { return mode_; }
  void SetMode(QuickboardMode mode);
  int PickedSlot() const { return picked_; }
  SlotClick Click(int slot);

  // A drop on a slot.
  DropPlan PlanDrop(int slot, const SlotDrop& drop) const;

  // Following documents and folders (the document operations call these).
  void PathMoved(const std::string& oldPath, const std::string& newPath, bool folder) override;
  void PathRemoved(const std::string& path, bool folder) override;
  void CaptionChanged(const std::string& path, const std::string& title) override;

  // Told after every change of the items or rows (the bar re-lays out).
  std::function<void()> changed;
  // Save errors go here (the desk queues them).
  std::function<void(const FileStatus&)> saveFailed;

  const Env& env() const { return env_; }
  TPXIniBase& Ini() { return ini_; }

private:
  void Report(const FileStatus& s);
  void Changed();
  std::string IconPath(const std::string& icon) const;

  Env env_;
  TPXIniBase ini_;
  std::vector<QuickboardItem> items_;
  int columns_ = 1;
  int rows_ = 2;
  QuickboardMode mode_ = QuickboardMode::Normal;
  int picked_ = -1;
};

}  // namespace px::desk
