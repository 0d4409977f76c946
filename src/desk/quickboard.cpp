#include "desk/quickboard.h"

#include "foundation/text_case.h"
#include "platform/desktop_apps.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace px::desk {

namespace {

constexpr std::string_view kRowsKey = "Rows";
constexpr std::string_view kContentsKey = "Contents";
constexpr std::string_view kEscapedKey = "Escaped";
constexpr std::string_view kIconKey = "Icon";
constexpr std::string_view kCaptionKey = "Caption";

std::string NoSlash(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

bool EndsWithText(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && SameText(s.substr(s.size() - suffix.size()), suffix);
}

std::string LastName(const std::string& path) {
  const std::string p = NoSlash(path);
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string WithoutExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// path lies at or below folder (both compared without a trailing "/").
bool AtOrBelow(const std::string& path, const std::string& folder) {
  const std::string f = NoSlash(folder), p = NoSlash(path);
  return p == f || (p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == '/');
}

std::string MountPointUnescape(const std::string& s) {
  // /proc/mounts and fstab write blanks and tabs as octal escapes.
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && isdigit(static_cast<unsigned char>(s[i + 1]))) {
      out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 3), nullptr, 8)));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::vector<std::string> MountPointsOf(const char* file) {
  std::vector<std::string> out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string dev, dir;
    if (!(words >> dev >> dir) || dir.empty() || dir[0] != '/') continue;
    out.push_back(MountPointUnescape(dir));
  }
  return out;
}

}  // namespace

// ---------------- quickboard.ini ----------------

ContentsText SerialiseContents(const std::vector<std::string>& paths) {
  ContentsText out;
  size_t last = paths.size();
  while (last > 0 && paths[last - 1].empty()) --last;
  out.escaped = std::any_of(paths.begin(), paths.begin() + static_cast<long>(last),
                            [](const std::string& p) { return p.find('|') != std::string::npos; });
  for (size_t i = 0; i < last; ++i) {
    if (i) out.contents.push_back('|');
    if (!out.escaped) {
      out.contents += paths[i];
      continue;
    }
    for (char c : paths[i]) {
      if (c == '%') out.contents += "%25";
      else if (c == '|') out.contents += "%7C";
      else out.contents.push_back(c);
    }
  }
  return out;
}

std::vector<std::string> ParseContents(std::string_view contents, bool escaped) {
  std::vector<std::string> out;
  // Values are trimmed; an empty Contents has no slots.
  while (!contents.empty() && (contents.front() == ' ' || contents.front() == '\t')) contents.remove_prefix(1);
  while (!contents.empty() && (contents.back() == ' ' || contents.back() == '\t')) contents.remove_suffix(1);
  if (contents.empty()) return out;
  size_t start = 0;
  for (;;) {
    const size_t bar = contents.find('|', start);
    std::string_view piece = contents.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start);
    std::string path;
    if (!escaped) {
      path = std::string(piece);
    } else {
      for (size_t i = 0; i < piece.size(); ++i) {
        if (piece[i] == '%' && i + 2 < piece.size()) {
          const std::string hex(piece.substr(i + 1, 2));
          if (hex == "25" || hex == "7C" || hex == "7c") {
            path.push_back(hex == "25" ? '%' : '|');
            i += 2;
            continue;
          }
        }
        path.push_back(piece[i]);
      }
    }
    out.push_back(std::move(path));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  return out;
}

int ClampRows(int64_t rows) { return static_cast<int>(std::clamp<int64_t>(rows, 1, kQuickboardMaxRows)); }

bool IsSafeIconName(std::string_view icon) {
  if (icon.empty() || icon.size() > 255) return false;
  if (icon.front() == '.') return false;
  for (char c : icon)
    if (c == '/' || c == '\\' || c == '\0' || static_cast<unsigned char>(c) < 0x20) return false;
  return EndsWithText(icon, ".ico") || EndsWithText(icon, ".bmp") || EndsWithText(icon, ".png") ||
         EndsWithText(icon, ".svg");
}

// ---------------- kinds of paths ----------------

Classified ClassifyPath(const std::string& path, const std::string& contactsFolder, const QuickboardFs& fs) {
  Classified c;
  if (path.empty()) {
    c.keep = false;
    return c;
  }
  // Contacts and groups: a section of the contacts index.
  if (!contactsFolder.empty() && path.size() > contactsFolder.size() &&
      path.compare(0, contactsFolder.size(), contactsFolder) == 0 &&
      path.find('/', contactsFolder.size()) == std::string::npos) {
    const std::string section = path.substr(contactsFolder.size());
    if (!fs.ContactSection(section)) {
      c.keep = false;
      return c;
    }
    const bool group = section.back() == '.';
    c.kind = group ? SlotKind::Group : SlotKind::Contact;
    c.image = group ? kImageGroup : kImageContact;
    std::string charset;
    c.title = fs.IndexTitle(path, &charset);
    if (c.title.empty()) c.title = group ? section.substr(0, section.size() - 1) : WithoutExtension(section);
    return c;
  }
  const PathFacts facts = fs.Stat(path);
  const std::string name = LastName(path);
  switch (facts.state) {
    case PathState::Missing: c.keep = false; return c;
    case PathState::Unavailable:
      c.unavailable = true;
      c.kind = path.back() == '/' ? SlotKind::Folder : SlotKind::Document;
      c.title = name;
      return c;
    case PathState::Folder: {
      c.kind = SlotKind::Folder;
      std::string charset;
      c.title = fs.IndexTitle(path, &charset);
      if (c.title.empty()) c.title = name;
      c.themeIcon = "folder";
      return c;
    }
    case PathState::File: break;
  }
  if (EndsWithText(name, ".desktop")) {
    if (auto entry = fs.DesktopEntryOf(facts.symlink ? facts.linkTarget : path)) {
      c.kind = SlotKind::Program;
      c.title = entry->name.empty() ? WithoutExtension(name) : entry->name;
      c.themeIcon = entry->icon;
      return c;
    }
  }
  c.kind = facts.symlink ? SlotKind::Shortcut : facts.executable ? SlotKind::Program : SlotKind::Document;
  std::string charset;
  std::string title = fs.IndexTitle(path, &charset);
  if (title.empty()) {
    c.title = WithoutExtension(name);
  } else {
    c.title = charset.empty() ? title : "~" + charset + "~" + title;
  }
  return c;
}

// ---------------- the real file system ----------------

SystemQuickboardFs::SystemQuickboardFs(std::function<std::string(const std::string&, std::string*)> indexTitle,
                                       std::function<bool(const std::string&)> contactSection)
    : indexTitle_(std::move(indexTitle)), contactSection_(std::move(contactSection)) {
  fstab_ = MountPointsOf("/etc/fstab");
  mounted_ = MountPointsOf("/proc/mounts");
}

bool SystemQuickboardFs::OnAbsentMedium(const std::string& path, const std::vector<std::string>& fstabMounts,
                                        const std::vector<std::string>& mounted) {
  auto isMounted = [&](const std::string& m) { return std::find(mounted.begin(), mounted.end(), m) != mounted.end(); };
  for (const std::string& m : fstabMounts)
    if (m != "/" && AtOrBelow(path, m) && !isMounted(m)) return true;
  for (std::string_view root : {"/media/", "/run/media/", "/mnt/"}) {
    if (path.compare(0, root.size(), root) != 0) continue;
    // Mounted below that place: the medium is there and the file is gone.
    for (const std::string& m : mounted)
      if (m.size() > root.size() && AtOrBelow(path, m) && AtOrBelow(m, std::string(root))) return false;
    return true;
  }
  return false;
}

PathFacts SystemQuickboardFs::Stat(const std::string& path) const {
  PathFacts f;
  const std::string p = NoSlash(path);
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0) {
    const int err = errno;
    f.state = (err == ENOENT || err == ENOTDIR) && !OnAbsentMedium(p, fstab_, mounted_) ? PathState::Missing
                                                                                       : PathState::Unavailable;
    return f;
  }
  if (S_ISLNK(st.st_mode)) {
    f.symlink = true;
    const QString target = QFileInfo(QString::fromStdString(p)).symLinkTarget();
    f.linkTarget = target.toStdString();
    struct stat t {};
    if (::stat(p.c_str(), &t) != 0) {
      const int err = errno;
      f.state = (err == ENOENT || err == ENOTDIR) && !OnAbsentMedium(f.linkTarget, fstab_, mounted_)
                    ? PathState::Missing
                    : PathState::Unavailable;
      return f;
    }
    st = t;
  }
  f.state = S_ISDIR(st.st_mode) ? PathState::Folder : PathState::File;
  f.executable = S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0;
  return f;
}

std::optional<DesktopFacts> SystemQuickboardFs::DesktopEntryOf(const std::string& path) const {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray text = file.read(256 * 1024);
  auto entry = platform::ParseDesktopEntry(std::string_view(text.constData(), static_cast<size_t>(text.size())));
  if (!entry) return std::nullopt;
  DesktopFacts d;
  d.name = entry->name;
  d.icon = entry->icon;
  // Categories are not kept by the parser: look for the word itself.
  const int at = text.indexOf("\nCategories=");
  if (at >= 0) {
    const int end = text.indexOf('\n', at + 1);
    const QByteArray cats = text.mid(at + 12, end < 0 ? -1 : end - at - 12);
    for (const QByteArray& c : cats.split(';'))
      if (c.trimmed() == "Email") d.email = true;
  }
  return d;
}

std::string SystemQuickboardFs::IndexTitle(const std::string& path, std::string* charset) const {
  return indexTitle_ ? indexTitle_(path, charset) : std::string();
}

bool SystemQuickboardFs::ContactSection(const std::string& name) const {
  return contactSection_ && contactSection_(name);
}

bool SystemQuickboardFs::RemoveFile(const std::string& path) const {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

// ---------------- the model ----------------

Quickboard::Quickboard(Env env) : env_(std::move(env)), ini_(env_.iniPath) {}

void Quickboard::Report(const FileStatus& s) {
  if (!s.ok() && saveFailed) saveFailed(s);
}

void Quickboard::Changed() {
  if (changed) changed();
}

std::string Quickboard::IconPath(const std::string& icon) const {
  return IsSafeIconName(icon) ? env_.iconsFolder + icon : std::string();
}

QuickboardItem Quickboard::MakeItem(const std::string& path) const { return MakeItemFor(env_, path); }

QuickboardItem Quickboard::MakeItemFor(const Env& env, const std::string& path) {
  QuickboardItem item;
  if (path.empty()) return item;
  if (path.front() == '.' && path.find('/') == std::string::npos) {
    const QuickboardTemplate* t = nullptr;
    for (const QuickboardTemplate& x : env.templates)
      if (SameText(x.ext, path)) t = &x;
    if (!t) return item;
    item.path = path;
    item.kind = SlotKind::Template;
    item.title = t->caption;
    item.themeIcon = "document-new";
    return item;
  }
  if (!env.fs) return item;
  const Classified c = ClassifyPath(path, env.contactsFolder, *env.fs);
  if (!c.keep) return item;
  item.path = path;
  item.kind = c.kind;
  item.title = c.title;
  item.image = c.image;
  item.themeIcon = c.themeIcon;
  item.unavailable = c.unavailable;
  return item;
}

std::vector<QuickboardItem> Quickboard::MakeItems(const Env& env, const std::vector<std::string>& paths) {
  std::vector<QuickboardItem> items;
  items.reserve(paths.size());
  for (const std::string& path : paths) {
    // Any error while looking at one item empties that slot; the next goes on.
    try {
      items.push_back(MakeItemFor(env, path));
    } catch (...) {
      items.emplace_back();
    }
  }
  return items;
}

std::vector<std::string> Quickboard::ReadPaths() {
  (void)ini_.Reload();
  rows_ = ClampRows(ini_.ReadInteger(kQuickboardSection, kRowsKey, 2));
  const bool escaped = ini_.ReadBool(kQuickboardSection, kEscapedKey, false);
  return ParseContents(ini_.ReadString(kQuickboardSection, kContentsKey, ""), escaped);
}

FileStatus Quickboard::Apply(const std::vector<std::string>& paths, std::vector<QuickboardItem> items) {
  items_.clear();
  bool dropped = false;
  for (size_t i = 0; i < paths.size(); ++i) {
    QuickboardItem item = i < items.size() ? std::move(items[i]) : QuickboardItem{};
    if (item.Empty() && !paths[i].empty()) {
      // Gone for good: the slot empties and its section and icon go.
      (void)RemoveItemSection(paths[i]);
      dropped = true;
    } else if (!item.Empty()) {
      const std::string icon = ini_.ReadString(item.path, kIconKey, "");
      if (IsSafeIconName(icon)) item.icon = icon;
      item.label = ini_.ReadString(item.path, kCaptionKey, "");
    }
    items_.push_back(std::move(item));
  }
  SetColumns(columns_);
  FileStatus s;
  if (dropped) s = SaveContents();
  Changed();
  return s;
}

FileStatus Quickboard::Load() {
  const std::vector<std::string> paths = ReadPaths();
  return Apply(paths, MakeItems(env_, paths));
}

FileStatus Quickboard::SaveContents() {
  std::vector<std::string> paths;
  for (const QuickboardItem& i : items_) paths.push_back(i.path);
  const ContentsText text = SerialiseContents(paths);
  ini_.WriteString(kQuickboardSection, kContentsKey, text.contents);
  if (text.escaped) ini_.WriteString(kQuickboardSection, kEscapedKey, "1");
  else ini_.DeleteKey(kQuickboardSection, kEscapedKey);
  FileStatus s = ini_.UpdateFile();
  Report(s);
  return s;
}

FileStatus Quickboard::SaveRows() {
  ini_.WriteInteger(kQuickboardSection, kRowsKey, rows_);
  FileStatus s = ini_.UpdateFile();
  Report(s);
  return s;
}

FileStatus Quickboard::SaveItem(int slot) {
  const QuickboardItem* item = Item(slot);
  if (!item || item->Empty()) return {};
  if (item->icon.empty()) ini_.DeleteKey(item->path, kIconKey);
  else ini_.WriteString(item->path, kIconKey, item->icon);
  if (item->label.empty()) ini_.DeleteKey(item->path, kCaptionKey);
  else ini_.WriteString(item->path, kCaptionKey, item->label);
  FileStatus s = ini_.UpdateFile();
  Report(s);
  return s;
}

FileStatus Quickboard::RemoveItemSection(const std::string& path) {
  if (path.empty() || SameText(path, kQuickboardSection)) return {};
  const std::string icon = ini_.ReadString(path, kIconKey, "");
  const std::string file = IconPath(icon);
  if (!file.empty() && env_.fs) env_.fs->RemoveFile(file);
  if (!ini_.SectionExists(path)) return {};
  ini_.EraseSection(path);
  FileStatus s = ini_.UpdateFile();
  Report(s);
  return s;
}

void Quickboard::SetColumns(int columns) {
  columns_ = std::max(1, columns);
  const size_t want = static_cast<size_t>(columns_) * kQuickboardMaxRows;
  if (items_.size() < want) items_.resize(want);
}

bool Quickboard::SetRows(int rows) {
  const int r = ClampRows(rows);
  if (r == rows_ || r != rows) return false;
  rows_ = r;
  (void)SaveRows();
  Changed();
  return true;
}

const QuickboardItem* Quickboard::Item(int slot) const {
  return slot >= 0 && static_cast<size_t>(slot) < items_.size() ? &items_[static_cast<size_t>(slot)] : nullptr;
}

int Quickboard::SlotOf(const std::string& path) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (!items_[i].path.empty() && NoSlash(items_[i].path) == NoSlash(path)) return static_cast<int>(i);
  return -1;
}

void Quickboard::Swap(int a, int b) {
  if (!Item(a) || !Item(b) || a == b) return;
  std::swap(items_[static_cast<size_t>(a)], items_[static_cast<size_t>(b)]);
  (void)SaveContents();
  Changed();
}

void Quickboard::Remove(int slot) {
  const QuickboardItem* item = Item(slot);
  if (!item || item->Empty()) return;
  const std::string path = item->path;
  items_[static_cast<size_t>(slot)] = {};
  // The section stays while another slot shows the same path.
  if (SlotOf(path) < 0) (void)RemoveItemSection(path);
  (void)SaveContents();
  Changed();
}

void Quickboard::Place(int slot, QuickboardItem item) {
  if (slot < 0) return;
  if (static_cast<size_t>(slot) >= items_.size()) items_.resize(static_cast<size_t>(slot) + 1);
  items_[static_cast<size_t>(slot)] = std::move(item);
  (void)SaveContents();
  (void)SaveItem(slot);
  Changed();
}

void Quickboard::Customise(int slot, const std::string& label, const std::string& iconFile) {
  const QuickboardItem* item = Item(slot);
  if (!item || item->Empty()) return;
  QuickboardItem& it = items_[static_cast<size_t>(slot)];
  if (iconFile != it.icon) {
    const std::string old = IconPath(it.icon);
    if (!old.empty() && env_.fs) env_.fs->RemoveFile(old);
    it.icon = IsSafeIconName(iconFile) ? iconFile : std::string();
  }
  it.label = label;
  (void)SaveItem(slot);
  Changed();
}

void Quickboard::SetMode(QuickboardMode mode) {
  mode_ = mode;
  picked_ = -1;
  Changed();
}

SlotClick Quickboard::Click(int slot) {
  SlotClick c;
  c.slot = slot;
  const QuickboardItem* item = Item(slot);
  if (!item) return c;
  switch (mode_) {
    case QuickboardMode::Normal:
      if (item->Empty() || item->unavailable) return c;
      c.action = SlotClick::Open;
      c.path = item->path;
      return c;
    case QuickboardMode::Move:
      if (picked_ < 0) {
        if (item->Empty()) return c;
        picked_ = slot;
        c.action = SlotClick::Picked;
        Changed();
        return c;
      }
      if (picked_ == slot) {
        SetMode(QuickboardMode::Normal);
        c.action = SlotClick::EndMode;
        return c;
      }
      c.other = picked_;
      picked_ = -1;
      Swap(c.other, slot);
      c.action = SlotClick::Swapped;
      return c;
    case QuickboardMode::Customise:
      if (item->Empty()) return c;
      c.action = SlotClick::Customise;
      c.path = item->path;
      return c;
    case QuickboardMode::MailSort:
      if (item->kind != SlotKind::Folder || item->unavailable) return c;
      SetMode(QuickboardMode::Normal);
      c.action = SlotClick::SortRule;
      c.path = item->path;
      return c;
  }
  return c;
}

DropPlan Quickboard::PlanDrop(int slot, const SlotDrop& drop) const {
  DropPlan plan;
  const QuickboardItem* target = Item(slot);
  if (!target || drop.paths.empty() || mode_ != QuickboardMode::Normal) return plan;
  if (!target->Empty()) {
    // Documents on a program open there.
    if (drop.kind == SlotDrop::Documents && !target->unavailable &&
        (target->kind == SlotKind::Program || target->kind == SlotKind::Shortcut)) {
      plan.action = DropPlan::OpenWith;
      plan.program = target->path;
      plan.files = drop.paths;
    }
    return plan;
  }
  std::string path = drop.paths.front();
  switch (drop.kind) {
    case SlotDrop::Documents:
      break;
    case SlotDrop::Folder:
      if (drop.fromContactsTree) {
        // A group of the contacts tree is its section: the folder's name and ".".
        std::string name = LastName(path);
        path = env_.contactsFolder + name + ".";
      }
      break;
    case SlotDrop::Contacts:
      break;
    case SlotDrop::Tool: {
      QuickboardItem t = MakeItem(path);
      if (t.Empty()) return plan;
      if (!drop.caption.empty() && t.kind != SlotKind::Template) t.title = drop.caption;
      plan.action = DropPlan::Place;
      plan.item = std::move(t);
      return plan;
    }
  }
  QuickboardItem item = MakeItem(path);
  if (item.Empty()) return plan;
  if (drop.messages && drop.kind == SlotDrop::Documents) item.themeIcon = "mail-message";
  plan.action = DropPlan::Place;
  plan.item = std::move(item);
  return plan;
}

// ---------------- following documents and folders ----------------

void Quickboard::PathMoved(const std::string& oldPath, const std::string& newPath, bool folder) {
  // Into the trash is away from the bar: the slots empty as for a delete.
  if (!env_.trashFolder.empty() && AtOrBelow(newPath, env_.trashFolder)) {
    PathRemoved(oldPath, folder);
    return;
  }
  bool any = false;
  for (size_t i = 0; i < items_.size(); ++i) {
    QuickboardItem& it = items_[i];
    if (it.path.empty() || it.kind == SlotKind::Template) continue;
    std::string moved;
    if (NoSlash(it.path) == NoSlash(oldPath)) {
      moved = it.path.back() == '/' ? NoSlash(newPath) + "/" : NoSlash(newPath);
    } else if (folder && AtOrBelow(it.path, oldPath)) {
      moved = NoSlash(newPath) + it.path.substr(NoSlash(oldPath).size());
    } else {
      continue;
    }
    // The item's own section goes with it.
    const std::string icon = ini_.ReadString(it.path, kIconKey, "");
    const std::string caption = ini_.ReadString(it.path, kCaptionKey, "");
    ini_.EraseSection(it.path);
    if (!icon.empty()) ini_.WriteString(moved, kIconKey, icon);
    if (!caption.empty()) ini_.WriteString(moved, kCaptionKey, caption);
    QuickboardItem fresh = MakeItem(moved);
    if (fresh.Empty()) {
      // Moved somewhere the model cannot see (yet): keep the path and name.
      fresh = it;
      fresh.path = moved;
      fresh.title = LastName(moved);
    }
    fresh.icon = it.icon;
    fresh.label = it.label;
    it = std::move(fresh);
    any = true;
  }
  if (!any) return;
  (void)SaveContents();
  Changed();
}

void Quickboard::PathRemoved(const std::string& path, bool folder) {
  bool any = false;
  for (QuickboardItem& it : items_) {
    if (it.path.empty() || it.kind == SlotKind::Template) continue;
    if (!(NoSlash(it.path) == NoSlash(path) || (folder && AtOrBelow(it.path, path)))) continue;
    const std::string old = it.path;
    it = {};
    (void)RemoveItemSection(old);
    any = true;
  }
  if (!any) return;
  (void)SaveContents();
  Changed();
}

void Quickboard::CaptionChanged(const std::string& path, const std::string& title) {
  bool any = false;
  for (QuickboardItem& it : items_) {
    if (it.path.empty() || NoSlash(it.path) != NoSlash(path)) continue;
    it.title = title;
    any = true;
  }
  if (any) Changed();
}

}  // namespace px::desk
