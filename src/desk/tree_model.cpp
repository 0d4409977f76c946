#include "desk/tree_model.h"

#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/index_file.h"

#include <QStandardPaths>
#include <QStorageInfo>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace px::desk {

namespace fs = std::filesystem;

namespace {

bool IsHiddenName(const std::string& name) {
  return name.empty() || name[0] == '.' || store::IsIndexFileName(name);
}

// Real subfolders only: hidden folders and symlinks are never shown as tree nodes, so no
// operation on a node can wander out of the tree through a link.
std::vector<std::string> SubfolderNames(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (IsHiddenName(name)) continue;
    std::error_code e2;
    if (it->is_symlink(e2) || !it->is_directory(e2)) continue;
    out.push_back(name);
  }
  return out;
}

bool HasSubfolder(const std::string& folder) {
  std::error_code ec;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (IsHiddenName(name)) continue;
    std::error_code e2;
    if (!it->is_symlink(e2) && it->is_directory(e2)) return true;
  }
  return false;
}

// The trash is full when it holds anything besides its own index.
bool FolderHasContent(const std::string& folder) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (!store::IsIndexFileName(it->path().filename().string())) return true;
  }
  return false;
}

bool IsDir(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

std::string LastComponent(const std::string& folder) {
  std::string f = folder;
  while (f.size() > 1 && f.back() == '/') f.pop_back();
  const size_t slash = f.rfind('/');
  return slash == std::string::npos ? f : f.substr(slash + 1);
}

std::unique_ptr<TreeNode> Node(std::string caption, std::string path, int image) {
  auto n = std::make_unique<TreeNode>();
  n->caption = std::move(caption);
  n->path = std::move(path);
  n->image = image;
  return n;
}

bool IsTrashPath(const std::string& path, const std::string& trash) {
  return !trash.empty() && path.starts_with(trash);
}

bool InsideTrash(const TreeNode& node) {
  for (const TreeNode* n = &node; n; n = n->parent)
    if (n->image == niTrashFull || n->image == niTrashEmpty) return true;
  return false;
}

// Subfolder nodes of a folder, captioned by the folder index's Title of "name." when present.
void AddFolderChildren(TreeNode& node, const TreeEnvironment& env) {
  const std::vector<std::string> names = SubfolderNames(node.path);
  if (names.empty()) return;
  std::unique_ptr<store::IniRegistry> own;
  store::IniRegistry* registry = env.registry;
  std::unique_ptr<store::TPXIniFile> index;
  const std::string indexPath = store::IndexPathOf(node.path);
  std::error_code ec;
  if (fs::exists(indexPath, ec)) {
    if (!registry) {
      own = std::make_unique<store::IniRegistry>();
      registry = own.get();
    }
    index = std::make_unique<store::TPXIniFile>(*registry, indexPath);
  }
  const int childImage = std::max(ChildImageOf(node.image), 0);
  for (const std::string& name : names) {
    const std::string path = node.path + name + "/";
    std::unique_ptr<TreeNode> child;
    if (node.image == niRoot && name == "TRASH") {
      const bool full = FolderHasContent(path);
      child = Node("TRASH", path, full ? niTrashFull : niTrashEmpty);
      child->hasSubfolders = full && HasSubfolder(path);
    } else {
      std::string caption;
      if (index) caption = index->ReadString(name + ".", "Title", "");
      child = Node(caption.empty() ? name : caption, path, childImage);
      child->hasSubfolders = HasSubfolder(path);
    }
    child->restricted = node.restricted;
    if (env.unreadOf) child->unread = env.unreadOf(path);
    node.AddChild(std::move(child));
  }
  if (index) (void)index->Release();  // only read
}

void AddMountChildren(TreeNode& node, const std::vector<MountItem>& items, int image) {
  for (const auto& item : items) {
    auto child = Node(item.caption, item.path, image);
    if (image == niNetwork) {
      // A network place lists its items like a tool node.
      child->path.clear();
      child->shellFolders = {item.path};
    } else {
      child->hasSubfolders = HasSubfolder(item.path);
    }
    child->restricted = node.restricted;
    node.AddChild(std::move(child));
  }
}

// Subfolders of tool nodes (desktop under Options, the applications menu) are tool nodes too.
void AddShellFolderChildren(TreeNode& node, int image) {
  for (const std::string& folder : node.shellFolders) {
    for (const std::string& name : SubfolderNames(folder)) {
      auto child = Node(name, "", image);
      child->shellFolders = {folder + name + "/"};
      child->hasSubfolders = HasSubfolder(folder + name + "/");
      child->restricted = true;
      node.AddChild(std::move(child));
    }
  }
}

std::string_view DriveKey(const std::string& caption) {
  const size_t pos = caption.find(":)");
  if (pos == std::string::npos || pos < 2) return caption;
  return std::string_view(caption).substr(pos - 2);
}

bool IsDriveImage(int image) { return image == niDrive || image == niDrive2 || image == niDrive3; }

}  // namespace

int ChildImageOf(int image) {
  switch (image) {
    case niFolder: case niRoot: case niTrashFull: case niTrashEmpty: case niDesktop:
    case niDrive: case niDrive2: case niDrive3:
      return niFolder;
    case niDesktopTools: case niStartMenu:
      return niStartMenu;
    case niNewDocuments: return niNewDocuments;
    case niContacts: case niGroup: return niGroup;
    case niComputer: return niDrive;
    case niNetwork: return niNetwork;
    case niFavorites: case niFavoritesSub: return niFavoritesSub;
    default: return -1;
  }
}

int SortRankOf(int image) {
  switch (image) {
    case niRoot: case niContacts: return -10;
    case niTrashFull: case niTrashEmpty: return 10;
    case niOptions: return -3;
    case niDesktop: case niDesktopTools: return 8;
    case niNewDocuments: return 7;
    case niStartMenu: return 10;
    case niComputer: return 9;
    case niNetwork: return 10;
    case niFavorites: return 7;
    default: return 0;
  }
}

bool IsRestrictedImage(int image, bool bookmarks) {
  switch (image) {
    case niOptions: case niNewDocuments: case niStartMenu: case niComputer: case niNetwork:
      return true;
    case niFavorites: case niFavoritesSub:
      return bookmarks;
    default:
      return false;
  }
}

bool IsToolImage(int image) {
  return image == niOptions || image == niDesktopTools || image == niNewDocuments ||
         image == niStartMenu || image == niComputer || image == niNetwork;
}

bool AcceptsDropsImage(int image, bool bookmarks) {
  switch (image) {
    case niFolder: case niRoot: case niTrashFull: case niTrashEmpty: case niDesktop:
    case niContacts: case niGroup: case niDrive: case niDrive2:
      return true;
    case niFavorites: case niFavoritesSub:
      return !bookmarks;
    default:
      return false;
  }
}

bool ShowsMarksImage(int image) {
  return image == niFolder || image == niRoot || image == niTrashFull || image == niTrashEmpty ||
         image == niDesktop;
}

int TreeNode::Depth() const {
  int d = 0;
  for (const TreeNode* n = parent; n; n = n->parent) ++d;
  return d;
}

TreeNode* TreeNode::AddChild(std::unique_ptr<TreeNode> child) {
  child->parent = this;
  children.push_back(std::move(child));
  hasSubfolders = true;
  return children.back().get();
}

void ReloadTreeChildren(TreeNode& node, const TreeEnvironment& env) {
  std::vector<std::unique_ptr<TreeNode>> old = std::move(node.children);
  node.children.clear();
  LoadTreeChildren(node, env);
  for (auto& fresh : node.children) {
    for (auto& o : old) {
      if (!o || !o->expanded || !o->childrenLoaded || o->path.empty() || o->path != fresh->path ||
          o->image != fresh->image)
        continue;
      // What the parent knows anew (title, counts) goes onto the kept node.
      o->caption = fresh->caption;
      o->unread = fresh->unread;
      o->searchHits = fresh->searchHits;
      o->restricted = fresh->restricted;
      o->hasSubfolders = fresh->hasSubfolders || !o->children.empty();
      o->parent = &node;
      fresh = std::move(o);
      break;
    }
  }
}

std::set<std::string> ExpandedFolders(const TreeNode& root) {
  std::set<std::string> out;
  std::vector<const TreeNode*> todo{&root};
  while (!todo.empty()) {
    const TreeNode* n = todo.back();
    todo.pop_back();
    if (!n->expanded || !n->childrenLoaded) continue;
    if (!n->path.empty()) out.insert(n->path);
    for (const auto& c : n->children) todo.push_back(c.get());
  }
  return out;
}

TreeNode* FindExpandedNode(TreeNode& root, const std::string& folder) {
  if (!root.expanded || !root.childrenLoaded) return nullptr;
  if (root.path == folder) return &root;
  for (auto& c : root.children)
    if (folder.starts_with(c->path) || c->path.empty())
      if (TreeNode* n = FindExpandedNode(*c, folder)) return n;
  return nullptr;
}

std::set<std::string> ShownFolders(const TreeNode& root) {
  std::set<std::string> out;
  std::vector<const TreeNode*> todo{&root};
  while (!todo.empty()) {
    const TreeNode* n = todo.back();
    todo.pop_back();
    if (!n->path.empty()) out.insert(n->path);
    if (!n->expanded || !n->childrenLoaded) continue;
    for (const auto& c : n->children) todo.push_back(c.get());
  }
  return out;
}

TreeNode* FindShownNode(TreeNode& root, const std::string& folder) {
  if (root.path == folder) return &root;
  if (!root.expanded || !root.childrenLoaded) return nullptr;
  for (auto& c : root.children)
    if (folder.starts_with(c->path) || c->path.empty())
      if (TreeNode* n = FindShownNode(*c, folder)) return n;
  return nullptr;
}

bool TreeSiblingLess(const TreeNode& a, const TreeNode& b) {
  const int ra = SortRankOf(a.image), rb = SortRankOf(b.image);
  if (ra != rb) return ra < rb;
  const std::string_view ka = IsDriveImage(a.image) ? DriveKey(a.caption) : a.caption;
  const std::string_view kb = IsDriveImage(b.image) ? DriveKey(b.caption) : b.caption;
  return CompareText(ka, kb) < 0;
}

void SortTreeChildren(TreeNode& node) {
  std::stable_sort(node.children.begin(), node.children.end(),
                   [](const auto& a, const auto& b) { return TreeSiblingLess(*a, *b); });
}

void LoadTreeChildren(TreeNode& node, const TreeEnvironment& env) {
  node.children.clear();
  node.hasSubfolders = false;
  node.childrenLoaded = true;
  switch (node.image) {
    case niRoot: {
      node.AddChild(Node("My Computer", "", niComputer))->hasSubfolders = true;  // "Network" at least
      auto fav = Node("Favorites", IsDir(env.favoritesFolder) ? env.favoritesFolder : "", niFavorites);
      fav->hasSubfolders = !fav->path.empty() && HasSubfolder(fav->path);
      node.AddChild(std::move(fav));
      if (IsDir(env.desktopFolder)) {
        auto desk = Node("Desktop", env.desktopFolder, niDesktop);
        desk->shellFolders = {env.desktopFolder};
        desk->hasSubfolders = HasSubfolder(env.desktopFolder);
        if (env.unreadOf) desk->unread = env.unreadOf(env.desktopFolder);
        node.AddChild(std::move(desk));
      }
      AddFolderChildren(node, env);
      break;
    }
    case niOptions: {
      node.AddChild(Node("New documents", "", niNewDocuments));
      auto menu = Node("Start Menu", "", niStartMenu);
      for (const auto& f : env.applicationFolders) {
        if (!IsDir(f)) continue;
        menu->shellFolders.push_back(f);
        menu->hasSubfolders = menu->hasSubfolders || HasSubfolder(f);
      }
      menu->restricted = true;
      node.AddChild(std::move(menu));
      if (IsDir(env.desktopFolder)) {
        auto desk = Node("Desktop", "", niDesktopTools);
        desk->shellFolders = {env.desktopFolder};
        desk->hasSubfolders = HasSubfolder(env.desktopFolder);
        desk->restricted = true;
        node.AddChild(std::move(desk));
      }
      break;
    }
    case niComputer:
      node.AddChild(Node("Network", "", niNetwork));
      if (env.volumes) AddMountChildren(node, env.volumes(), niDrive);
      break;
    case niNetwork:
      if (node.shellFolders.empty() && env.networkPlaces)
        AddMountChildren(node, env.networkPlaces(), niNetwork);
      else
        AddShellFolderChildren(node, niNetwork);
      break;
    case niDesktopTools:
    case niStartMenu:
      AddShellFolderChildren(node, niStartMenu);
      break;
    case niNewDocuments:
      break;
    default:
      if (!node.path.empty()) AddFolderChildren(node, env);
      break;
  }
  SortTreeChildren(node);
}

std::unique_ptr<TreeNode> MakeFilesRoot(const TreeEnvironment& env) {
  auto root = Node(LastComponent(env.documentsFolder), env.documentsFolder, niRoot);
  if (env.unreadOf) root->unread = env.unreadOf(env.documentsFolder);
  LoadTreeChildren(*root, env);
  root->expanded = true;
  return root;
}

std::unique_ptr<TreeNode> MakeContactsRoot(const TreeEnvironment& env) {
  auto root = Node("My Contacts", env.contactsFolder, niContacts);
  root->hasSubfolders = HasSubfolder(env.contactsFolder);
  return root;
}

std::unique_ptr<TreeNode> MakeToolsRoot(const TreeEnvironment& env) {
  auto root = Node("Options", "", niOptions);
  root->restricted = false;  // restricted by its kind
  LoadTreeChildren(*root, env);
  root->expanded = true;
  return root;
}

TreeNode* FindTreeNode(TreeNode& root, const std::string& folder, const TreeEnvironment* load) {
  if (!root.path.empty() && root.path == folder) return &root;
  if (!root.childrenLoaded && load && root.hasSubfolders && !root.path.empty() &&
      folder.starts_with(root.path))
    LoadTreeChildren(root, *load);
  for (auto& c : root.children) {
    if (c->path.empty() || !folder.starts_with(c->path)) continue;
    if (TreeNode* found = FindTreeNode(*c, folder, load)) return found;
  }
  return nullptr;
}

void RefreshUnreadCounts(TreeNode& root, const std::string& folder, const TreeEnvironment& env) {
  if (!env.unreadOf) return;
  if (!root.path.empty() && folder.starts_with(root.path) && ShowsMarksImage(root.image))
    root.unread = env.unreadOf(root.path);
  for (auto& c : root.children) RefreshUnreadCounts(*c, folder, env);
}

NodeLook LookOfNode(const TreeNode& node, bool searching,
                    const std::function<bool(const std::string&)>& hasNewMail,
                    const std::function<bool(const std::string&)>& hasPending,
                    const std::function<bool(const std::string&)>& newMailBelow,
                    const std::function<bool(const std::string&)>& pendingBelow) {
  NodeLook look;
  int64_t n = node.expanded ? node.unread.own : node.unread.total;
  if (searching && node.searchHits >= 0) n = node.searchHits;
  if (n > 0) look.count = " [" + std::to_string(n) + "] ";
  if (!ShowsMarksImage(node.image) || node.path.empty()) return look;
  bool mail = false, pending = false;
  if (node.expanded) {
    mail = hasNewMail && hasNewMail(node.path);
    pending = hasPending && hasPending(node.path);
  } else {
    mail = newMailBelow && newMailBelow(node.path);
    pending = pendingBelow && pendingBelow(node.path);
  }
  if (InsideTrash(node)) pending = false;
  if (mail && pending)
    look.mark = NodeMark::NewMailAndPending;
  else if (pending)
    look.mark = NodeMark::Pending;
  else if (mail)
    look.mark = NodeMark::NewMail;
  return look;
}

DropDecision DecideDrop(const DropInput& in) {
  DropDecision d;
  const TreeNode* t = in.target;
  if (!t || in.what == DragKind::None || in.tab == GridTab::Tools) return d;
  if ((in.what == DragKind::Folder || in.what == DragKind::Documents) && in.targetIsShown) return d;
  if (in.what == DragKind::Folder && in.tab == GridTab::Contacts) return d;
  if (in.what == DragKind::MailSort) {
    if (t->image == niFolder && !t->Restricted(in.bookmarks)) {
      d.action = DropAction::AddSortRule;
    } else {
      d.action = DropAction::Refuse;
      d.message = "Sorry, but you cannot sort mail into this folder.";
    }
    return d;
  }
  if (!AcceptsDropsImage(t->image, in.bookmarks) || t->Restricted(in.bookmarks)) {
    d.action = DropAction::Refuse;
    d.message = "Sorry, but you cannot place anything into this folder.";
    return d;
  }
  // A folder cannot go into itself or below itself.
  if (in.what == DragKind::Folder && !in.sourceFolder.empty() && t->path.starts_with(in.sourceFolder))
    return d;
  if (t->image == niContacts && (in.what == DragKind::Contacts || in.what == DragKind::Stickers))
    return d;
  if (t->image == niGroup) {
    if (in.what == DragKind::Contacts) {
      d.action = DropAction::AddGroupMembers;
      return d;
    }
    if ((in.what == DragKind::Documents || in.what == DragKind::Stickers) && in.fromFilesTab) {
      d.action = DropAction::SendToGroup;
      return d;
    }
  }
  if (in.what == DragKind::Stickers) {
    if (in.targetIsShown) d.action = DropAction::MakeSticker;
    return d;
  }
  if (in.what == DragKind::Documents && in.count == 1 && in.sourceFolder == t->path) {
    if (!in.copyMoveIsMove) d.action = DropAction::Duplicate;
    return d;
  }
  bool move = in.copyMoveIsMove;
  if ((!in.contactsFolder.empty() && (t->path == in.contactsFolder || in.sourceFolder == in.contactsFolder)))
    move = false;
  if (IsTrashPath(t->path, in.trashFolder) || IsTrashPath(in.sourceFolder, in.trashFolder)) move = true;
  d.action = move ? DropAction::Move : DropAction::Copy;
  return d;
}

bool EffectiveMoveDefault(bool copyMoveIsMove, const TreeNode& node, bool bookmarks) {
  if (!copyMoveIsMove) return false;
  if (node.Restricted(bookmarks)) return false;
  return !(node.image == niDesktop || node.image == niDesktopTools || node.image == niFavorites ||
           node.image == niFavoritesSub);
}

bool TabChangeAllowed(bool busy, HandState hand, GridTab currentTab) {
  if (busy) return false;
  if (currentTab == GridTab::Tools) return hand == HandState::Empty;
  return hand == HandState::Empty || hand == HandState::Documents || hand == HandState::Snapshot;
}

TabLook TabLookOf(GridTab tab) {
  TabLook l;
  l.header = tab == GridTab::Files ? 0 : tab == GridTab::Contacts ? 1 : -1;
  l.optionsButton = tab == GridTab::Tools ? "<<  Options" : "Options  >>";
  l.searchEnabled = tab == GridTab::Files;
  l.activityVisible = tab != GridTab::Tools;
  l.activityEnabled = tab == GridTab::Files;
  l.hintDelayMs = tab == GridTab::Contacts ? 1 : 500;
  return l;
}

std::string DesktopEntryName(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  bool inEntry = false;
  size_t read = 0;
  while (read < 65536 && std::getline(in, line)) {
    read += line.size() + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (inEntry && line.starts_with("Name=")) {
      std::string name = Trim(line.substr(5));
      if (!name.empty()) return name;
    }
  }
  std::string file = LastComponent(path);
  const size_t dot = file.rfind('.');
  return dot == std::string::npos || dot == 0 ? file : file.substr(0, dot);
}

std::vector<ShellItem> ShellItemsOf(const TreeNode& node, const TreeEnvironment& env) {
  std::vector<ShellItem> items;
  if (node.image == niComputer) {
    if (env.volumes)
      for (const auto& v : env.volumes()) items.push_back({v.caption, v.path});
  } else if (node.image == niNetwork && node.shellFolders.empty()) {
    if (env.networkPlaces)
      for (const auto& v : env.networkPlaces()) items.push_back({v.caption, v.path});
  } else {
    const bool menu = node.image == niStartMenu;
    for (const std::string& folder : node.shellFolders) {
      std::error_code ec;
      fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
      for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (IsHiddenName(name)) continue;
        std::error_code e2;
        if (it->is_directory(e2)) continue;
        const std::string path = folder + name;
        const bool entry = name.ends_with(".desktop");
        if (menu && !entry) continue;
        items.push_back({entry ? DesktopEntryName(path) : name, path});
      }
    }
  }
  std::sort(items.begin(), items.end(), [](const ShellItem& a, const ShellItem& b) {
    const int c = CompareText(a.title, b.title);
    return c != 0 ? c < 0 : a.path < b.path;
  });
  return items;
}

const std::vector<std::pair<std::string, int>>& OptionPages() {
  static const std::vector<std::pair<std::string, int>> pages = {
      {"Personal settings", 16},
      {"Appearance", 17},
      {"Plumadex mail configuration", 18},
      {"External e-mail configuration", 19},
      {"E-mail blocking", 20},
      {"Encryption", 22},
      {"Import mail and contacts from other applications", 15},
      {"Configuration Wizard", 24},
  };
  return pages;
}

namespace {

std::string Slash(const QString& s) {
  std::string p = s.toStdString();
  if (!p.empty() && p.back() != '/') p += '/';
  return p;
}

bool IsNetworkFs(const QByteArray& type) {
  static const char* const kTypes[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs",
                                       "sshfs", "davfs", "fuse.davfs2", "9p", "afs", "ncpfs"};
  for (const char* t : kTypes)
    if (type == t) return true;
  return false;
}

std::string MountCaption(const QStorageInfo& v) {
  const std::string root = Slash(v.rootPath());
  const std::string name = v.name().toStdString();
  if (root == "/") return name.empty() ? "System (/)" : name + " (/)";
  return name.empty() ? LastComponent(root) + " (" + root + ")" : name + " (" + root + ")";
}

}  // namespace

TreeEnvironment SystemTreeEnvironment(const std::string& documentsFolder,
                                      const std::string& trashFolder,
                                      const std::string& contactsFolder,
                                      const std::string& dataRoot) {
  TreeEnvironment env;
  env.documentsFolder = documentsFolder;
  env.trashFolder = trashFolder;
  env.contactsFolder = contactsFolder;
  env.favoritesFolder = dataRoot.empty() ? "" : dataRoot + "Favorites/";
  // A private home (tests, trials) keeps its own desktop so nothing touches the real one.
  if (const char* home = std::getenv("PLUMADEX_HOME"); home && *home) {
    env.desktopFolder = Slash(QString::fromUtf8(home)) + "Desktop/";
  } else {
    env.desktopFolder = Slash(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
  }
  // The applications menu is only read.
  for (const QString& f : QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation))
    env.applicationFolders.push_back(Slash(f));
  env.volumes = [] {
    std::vector<MountItem> out;
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
      if (!v.isValid() || !v.isReady() || IsNetworkFs(v.fileSystemType())) continue;
      const QByteArray dev = v.device();
      if (v.rootPath() != "/" && !dev.startsWith("/dev/")) continue;  // pseudo file systems
      if (v.rootPath().startsWith("/boot") || v.rootPath().startsWith("/snap/")) continue;
      out.push_back({MountCaption(v), Slash(v.rootPath())});
    }
    return out;
  };
  env.networkPlaces = [] {
    std::vector<MountItem> out;
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes())
      if (v.isValid() && IsNetworkFs(v.fileSystemType())) out.push_back({MountCaption(v), Slash(v.rootPath())});
    return out;
  };
  return env;
}

}  // namespace px::desk
