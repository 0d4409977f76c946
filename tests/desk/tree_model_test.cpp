// The folder trees: node kinds, sibling order, lazy loading, captions from the index, counts
// and marks, drop decisions and tab rules.
#include <gtest/gtest.h>
#include <filesystem>

#include "desk/tree_model.h"
#include "store/index_file.h"
#include "support/test_support.h"

#include <set>

namespace px::desk {
namespace {

using test::makeDirs;
using test::writeFile;

class TreeFixture : public ::testing::Test {
protected:
  void SetUp() override {
    docs = home.path("Documents/");
    makeDirs(docs + "Beta");
    makeDirs(docs + "alpha/Inner");
    makeDirs(docs + "TRASH");
    makeDirs(docs + ".hidden");
    makeDirs(home.path("data/Favorites/Links"));
    makeDirs(home.path("Desktop"));
    makeDirs(home.path("apps/sub"));
    makeDirs(home.path("mnt/usb/Photos"));
    writeFile(home.path("Desktop/notes.txt"), "n");
    writeFile(home.path("apps/editor.desktop"), "[Desktop Entry]\nName=Text Editor\nExec=x\n");
    writeFile(home.path("apps/zz.desktop"), "[Other]\nName=Wrong\n");
    writeFile(home.path("apps/readme.txt"), "not an entry");
    env.documentsFolder = docs;
    env.trashFolder = docs + "TRASH/";
    env.contactsFolder = home.path("data/Contacts/");
    env.desktopFolder = home.path("Desktop/");
    env.favoritesFolder = home.path("data/Favorites/");
    env.applicationFolders = {home.path("apps/")};
    env.registry = &registry;
    env.volumes = [this] { return std::vector<MountItem>{{"USB (/mnt/usb/)", home.path("mnt/usb/")}}; };
    env.networkPlaces = [] { return std::vector<MountItem>{}; };
    env.unreadOf = [this](const std::string& f) {
      store::UnreadCount c;
      if (f == docs + "alpha/") c = {2, 5};
      if (f == docs) c = {0, 5};
      return c;
    };
  }

  static std::vector<std::string> Captions(const TreeNode& n) {
    std::vector<std::string> out;
    for (const auto& c : n.children) out.push_back(c->caption);
    return out;
  }

  test::TempHome home;
  std::string docs;
  store::IniRegistry registry;
  TreeEnvironment env;
};

TEST_F(TreeFixture, FilesRootChildrenInOrder) {
  auto root = MakeFilesRoot(env);
  EXPECT_EQ(root->caption, "Documents");
  EXPECT_EQ(root->image, niRoot);
  EXPECT_TRUE(root->expanded);
  EXPECT_EQ(Captions(*root),
            (std::vector<std::string>{"alpha", "Beta", "Favorites", "Desktop", "My Computer", "TRASH"}));
  const TreeNode& trash = *root->children.back();
  EXPECT_EQ(trash.image, niTrashEmpty);
  EXPECT_FALSE(trash.hasSubfolders);
  EXPECT_EQ(root->children[0]->path, docs + "alpha/");
  EXPECT_TRUE(root->children[0]->hasSubfolders);
  EXPECT_FALSE(root->children[0]->childrenLoaded);  // loaded on first expansion
  EXPECT_FALSE(root->children[1]->hasSubfolders);
  EXPECT_EQ(root->children[0]->unread.total, 5);
}

TEST_F(TreeFixture, TrashIsFullWithAnyContentAndTitlesComeFromTheIndex) {
  writeFile(docs + "TRASH/old.doc", "x");
  {
    store::TPXIniFile ini(registry, store::IndexPathOf(docs));
    ini.WriteString("Beta.", "Title", "Projects 2026");
    EXPECT_TRUE(ini.Release().ok());
  }
  auto root = MakeFilesRoot(env);
  EXPECT_EQ(Captions(*root)[1], "Projects 2026");
  EXPECT_EQ(root->children.back()->image, niTrashFull);
}

TEST_F(TreeFixture, LazyLoadingAndFindTreeNode) {
  auto root = MakeFilesRoot(env);
  TreeNode* inner = FindTreeNode(*root, docs + "alpha/Inner/", nullptr);
  EXPECT_EQ(inner, nullptr);  // not loaded yet and not asked to load
  inner = FindTreeNode(*root, docs + "alpha/Inner/", &env);
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->caption, "Inner");
  EXPECT_EQ(inner->parent->caption, "alpha");
  EXPECT_EQ(inner->Depth(), 2);
  EXPECT_EQ(FindTreeNode(*root, docs + "alphabet/", &env), nullptr);
}

TEST_F(TreeFixture, ReloadingANodeKeepsItsOpenChildren) {
  auto root = MakeFilesRoot(env);
  TreeNode* alpha = FindTreeNode(*root, docs + "alpha/", &env);
  ASSERT_NE(alpha, nullptr);
  LoadTreeChildren(*alpha, env);
  alpha->expanded = true;
  TreeNode* beta = FindTreeNode(*root, docs + "Beta/", &env);
  ASSERT_NE(beta, nullptr);
  EXPECT_EQ(ExpandedFolders(*root), (std::set<std::string>{docs, docs + "alpha/"}));
  EXPECT_EQ(FindExpandedNode(*root, docs + "alpha/"), alpha);
  EXPECT_EQ(FindExpandedNode(*root, docs + "Beta/"), nullptr);  // collapsed

  makeDirs(docs + "Gamma");
  ReloadTreeChildren(*root, env);
  EXPECT_EQ(Captions(*root),
            (std::vector<std::string>{"alpha", "Beta", "Gamma", "Favorites", "Desktop", "My Computer", "TRASH"}));
  // The open node is the same one, still open with its children; the others are new.
  EXPECT_EQ(root->children[0].get(), alpha);
  EXPECT_TRUE(alpha->expanded);
  EXPECT_EQ(alpha->parent, root.get());
  ASSERT_EQ(alpha->children.size(), 1u);
  EXPECT_EQ(alpha->children[0]->caption, "Inner");
  EXPECT_EQ(alpha->unread.total, 5);

  // A folder removed outside goes, open or not.
  std::filesystem::remove_all(docs + "alpha");
  ReloadTreeChildren(*root, env);
  EXPECT_EQ(Captions(*root),
            (std::vector<std::string>{"Beta", "Gamma", "Favorites", "Desktop", "My Computer", "TRASH"}));
}

TEST_F(TreeFixture, SpecialRoots) {
  auto root = MakeFilesRoot(env);
  TreeNode* computer = nullptr;
  TreeNode* fav = nullptr;
  for (auto& c : root->children) {
    if (c->image == niComputer) computer = c.get();
    if (c->image == niFavorites) fav = c.get();
  }
  ASSERT_TRUE(computer && fav);
  EXPECT_TRUE(computer->Restricted());
  LoadTreeChildren(*computer, env);
  EXPECT_EQ(Captions(*computer), (std::vector<std::string>{"USB (/mnt/usb/)", "Network"}));
  EXPECT_EQ(computer->children[0]->image, niDrive);
  EXPECT_TRUE(computer->children[0]->hasSubfolders);
  TreeNode& network = *computer->children[1];
  LoadTreeChildren(network, env);
  EXPECT_TRUE(network.children.empty());  // no network places mounted
  EXPECT_TRUE(ShellItemsOf(network, env).empty());
  ASSERT_EQ(ShellItemsOf(*computer, env).size(), 1u);

  LoadTreeChildren(*fav, env);
  ASSERT_EQ(fav->children.size(), 1u);
  EXPECT_EQ(fav->children[0]->image, niFavoritesSub);
  EXPECT_FALSE(fav->Restricted());
  EXPECT_TRUE(fav->Restricted(/*bookmarks=*/true));

  auto tools = MakeToolsRoot(env);
  EXPECT_EQ(Captions(*tools), (std::vector<std::string>{"New documents", "Desktop", "Start Menu"}));
  const TreeNode& menu = *tools->children[2];
  auto items = ShellItemsOf(menu, env);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].title, "Text Editor");
  EXPECT_EQ(items[1].title, "zz");  // no Name in a [Desktop Entry] group: the file name
  const TreeNode& desktop = *tools->children[1];
  items = ShellItemsOf(desktop, env);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].path, home.path("Desktop/notes.txt"));
  EXPECT_EQ(OptionPages().size(), 8u);
}

TEST(TreeKinds, SiblingOrderUsesRanksThenCaptionsAndDriveLetters) {
  TreeNode parent;
  auto add = [&](std::string caption, int image) {
    auto n = std::make_unique<TreeNode>();
    n->caption = std::move(caption);
    n->image = image;
    parent.AddChild(std::move(n));
  };
  add("TRASH", niTrashFull);
  add("zeta", niFolder);
  add("Work (C:)", niDrive);
  add("Backup (D:)", niDrive2);
  add("Alpha", niFolder);
  SortTreeChildren(parent);
  std::vector<std::string> order;
  for (auto& c : parent.children) order.push_back(c->caption);
  // Drives compare from "(X:)", so C comes before D whatever their names.
  EXPECT_EQ(order, (std::vector<std::string>{"Work (C:)", "Backup (D:)", "Alpha", "zeta", "TRASH"}));
}

TEST(TreeKinds, PermissionsByImage) {
  for (int img : {niOptions, niNewDocuments, niStartMenu, niComputer, niNetwork})
    EXPECT_TRUE(IsRestrictedImage(img)) << img;
  for (int img : {niFolder, niRoot, niTrashFull, niDesktop, niContacts, niGroup, niDrive})
    EXPECT_FALSE(IsRestrictedImage(img)) << img;
  for (int img : {niOptions, niDesktopTools, niNewDocuments, niStartMenu, niComputer, niNetwork})
    EXPECT_TRUE(IsToolImage(img)) << img;
  EXPECT_FALSE(IsToolImage(niDesktop));
  EXPECT_TRUE(AcceptsDropsImage(niFavorites));
  EXPECT_FALSE(AcceptsDropsImage(niFavorites, true));
  EXPECT_FALSE(AcceptsDropsImage(niDrive3));
}

TEST(TreeLook, CountsAndMarks) {
  TreeNode trash;
  trash.image = niTrashFull;
  trash.path = "/d/TRASH/";
  TreeNode node;
  node.path = "/d/TRASH/a/";
  node.image = niFolder;
  node.unread = {3, 70000};  // a total beyond 16 bits stays whole
  std::set<std::string> newMail = {"/d/TRASH/a/b/"};
  auto has = [&](const std::string& f) { return newMail.count(f) > 0; };
  auto below = [&](const std::string& f) {
    auto it = newMail.lower_bound(f);
    return it != newMail.end() && it->starts_with(f);
  };
  auto yes = [](const std::string&) { return true; };

  // Collapsed: the total and the marks of the folders below.
  NodeLook l = LookOfNode(node, false, has, yes, below, yes);
  EXPECT_EQ(l.count, " [70000] ");
  EXPECT_EQ(l.mark, NodeMark::NewMailAndPending);
  // Inside the trash, pending mail is not marked.
  node.parent = &trash;
  l = LookOfNode(node, false, has, yes, below, yes);
  EXPECT_EQ(l.mark, NodeMark::NewMail);
  node.parent = nullptr;
  // Expanded: only the folder's own count and marks.
  node.expanded = true;
  l = LookOfNode(node, false, has, yes, below, yes);
  EXPECT_EQ(l.count, " [3] ");
  EXPECT_EQ(l.mark, NodeMark::Pending);
  // During a search the number is the hit count.
  node.searchHits = 12;
  EXPECT_EQ(LookOfNode(node, true, has, yes, below, yes).count, " [12] ");
  node.searchHits = -1;
  node.unread = {0, 0};
  EXPECT_EQ(LookOfNode(node, false, nullptr, nullptr, nullptr, nullptr).count, "");
  // Tool nodes carry no marks.
  TreeNode computer;
  computer.image = niComputer;
  EXPECT_EQ(LookOfNode(computer, false, yes, yes, yes, yes).mark, NodeMark::None);
}

TEST(TreeDrop, Decisions) {
  TreeNode folder;
  folder.image = niFolder;
  folder.path = "/d/Work/";
  TreeNode trash;
  trash.image = niTrashEmpty;
  trash.path = "/d/TRASH/";
  TreeNode computer;
  computer.image = niComputer;
  TreeNode group;
  group.image = niGroup;
  group.path = "/data/Contacts/Friends/";
  TreeNode contacts;
  contacts.image = niContacts;
  contacts.path = "/data/Contacts/";
  TreeNode restrictedFolder;
  restrictedFolder.path = folder.path;
  restrictedFolder.restricted = true;

  auto drop = [](const TreeNode& t, DragKind what, bool move, std::string source, int count = 2,
                 GridTab tab = GridTab::Files, bool shown = false) {
    DropInput in;
    in.tab = tab;
    in.what = what;
    in.target = &t;
    in.targetIsShown = shown;
    in.copyMoveIsMove = move;
    in.sourceFolder = std::move(source);
    in.count = count;
    in.trashFolder = "/d/TRASH/";
    in.contactsFolder = "/data/Contacts/";
    return DecideDrop(in);
  };
  using A = DropAction;
  EXPECT_EQ(drop(folder, DragKind::None, false, "/d/").action, A::Ignore);
  EXPECT_EQ(drop(folder, DragKind::Documents, false, "/d/", 2, GridTab::Tools).action, A::Ignore);  // tools tab
  EXPECT_EQ(drop(folder, DragKind::Documents, false, "/d/", 2, GridTab::Files, true).action, A::Ignore);
  EXPECT_EQ(drop(folder, DragKind::Documents, false, "/d/").action, A::Copy);
  EXPECT_EQ(drop(folder, DragKind::Documents, true, "/d/").action, A::Move);
  // From the trash: always move, even with the copy default.
  EXPECT_EQ(drop(folder, DragKind::Documents, false, "/d/TRASH/").action, A::Move);
  EXPECT_EQ(drop(trash, DragKind::Documents, false, "/d/").action, A::Move);
  // From the contacts root: always copy.
  EXPECT_EQ(drop(folder, DragKind::Contacts, true, "/data/Contacts/").action, A::Copy);
  EXPECT_EQ(drop(contacts, DragKind::Contacts, true, "/data/Contacts/Friends/").action, A::Ignore);
  EXPECT_EQ(drop(contacts, DragKind::Documents, true, "/d/").action, A::Copy);
  // Groups.
  EXPECT_EQ(drop(group, DragKind::Contacts, true, "/data/Contacts/", 1, GridTab::Contacts).action, A::AddGroupMembers);
  EXPECT_EQ(drop(group, DragKind::Documents, false, "/d/").action, A::SendToGroup);
  // One document on its own folder.
  EXPECT_EQ(drop(folder, DragKind::Documents, false, "/d/Work/", 1).action, A::Duplicate);
  EXPECT_EQ(drop(folder, DragKind::Documents, true, "/d/Work/", 1).action, A::Ignore);
  // Refusals.
  auto r = drop(computer, DragKind::Documents, false, "/d/");
  EXPECT_EQ(r.action, A::Refuse);
  EXPECT_EQ(r.message, "Sorry, but you cannot place anything into this folder.");
  EXPECT_EQ(drop(restrictedFolder, DragKind::Documents, false, "/d/").action, A::Refuse);
  // Mail sorting.
  EXPECT_EQ(drop(folder, DragKind::MailSort, false, "").action, A::AddSortRule);
  r = drop(trash, DragKind::MailSort, false, "");
  EXPECT_EQ(r.action, A::Refuse);
  EXPECT_EQ(r.message, "Sorry, but you cannot sort mail into this folder.");
  // Folders: never into themselves or below; ignored on the contacts tab.
  EXPECT_EQ(drop(folder, DragKind::Folder, true, "/d/").action, A::Ignore);
  EXPECT_EQ(drop(folder, DragKind::Folder, true, "/d/Other/").action, A::Move);
  EXPECT_EQ(drop(group, DragKind::Folder, true, "/d/Other/", 0, GridTab::Contacts).action, A::Ignore);
  // Stickers become sticker documents only on the shown folder.
  EXPECT_EQ(drop(folder, DragKind::Stickers, false, "/d/", 1, GridTab::Files, true).action, A::MakeSticker);
  EXPECT_EQ(drop(folder, DragKind::Stickers, false, "/d/", 1).action, A::Ignore);
}

TEST(TreeTabs, SwitchRulesAndLook) {
  EXPECT_FALSE(TabChangeAllowed(true, HandState::Empty, GridTab::Files));
  EXPECT_TRUE(TabChangeAllowed(false, HandState::Documents, GridTab::Files));
  EXPECT_TRUE(TabChangeAllowed(false, HandState::Snapshot, GridTab::Contacts));
  EXPECT_FALSE(TabChangeAllowed(false, HandState::Other, GridTab::Files));
  EXPECT_FALSE(TabChangeAllowed(false, HandState::Documents, GridTab::Tools));
  EXPECT_TRUE(TabChangeAllowed(false, HandState::Empty, GridTab::Tools));
  EXPECT_EQ(TabLookOf(GridTab::Tools).optionsButton, "<<  Options");
  EXPECT_EQ(TabLookOf(GridTab::Files).optionsButton, "Options  >>");
  EXPECT_EQ(TabLookOf(GridTab::Contacts).hintDelayMs, 1);
  EXPECT_TRUE(TabLookOf(GridTab::Files).searchEnabled);
  EXPECT_FALSE(TabLookOf(GridTab::Contacts).searchEnabled);
  EXPECT_FALSE(TabLookOf(GridTab::Tools).activityVisible);

  TreeNode desk;
  desk.image = niDesktop;
  EXPECT_FALSE(EffectiveMoveDefault(true, desk));
  TreeNode folder;
  EXPECT_TRUE(EffectiveMoveDefault(true, folder));
  folder.restricted = true;
  EXPECT_FALSE(EffectiveMoveDefault(true, folder));
}

}  // namespace
}  // namespace px::desk
