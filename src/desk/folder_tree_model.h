#pragma once
// One folder tree (files, contacts or tools) as an item model over its TreeNode root. Children
// are read from disk when a view first expands a node (fetchMore); every later change of a
// node's children goes through this model, so views and persistent indexes never see a node
// that has been freed.
#include "desk/tree_model.h"

#include <QAbstractItemModel>

#include <functional>
#include <string>

namespace px::desk {

class FolderTreeModel : public QAbstractItemModel {
  Q_OBJECT
public:
  enum Role {
    NodeRole = Qt::UserRole + 1,  // the TreeNode* (as quintptr)
    ImageRole,                    // the node's image index (the view picks the icon)
    CountRole,                    // " [n] " or empty
    MarkRole,                     // int of NodeMark
  };

  // What decides a node's mark: new mail and pending mail in a folder and below it (paths as
  // stored), and whether a search's hit counts replace the unread counts.
  struct Marks {
    std::function<bool(const std::string&)> hasNewMail;
    std::function<bool(const std::string&)> hasPending;
    std::function<bool(const std::string&)> newMailBelow;
    std::function<bool(const std::string&)> pendingBelow;
    bool searching = false;
  };

  explicit FolderTreeModel(QObject* parent = nullptr);

  // The tree shown; the owner keeps the root alive while it is set (nullptr: nothing shown).
  void SetRoot(TreeNode* root);
  TreeNode* Root() const { return root_; }
  // Where children are read from (must outlive the model or be reset).
  void SetEnvironment(const TreeEnvironment* env) { env_ = env; }
  void SetMarks(Marks marks) { marks_ = std::move(marks); }
  NodeLook LookOf(const TreeNode& node) const;

  QModelIndex IndexOf(const TreeNode* node) const;
  static TreeNode* NodeOf(const QModelIndex& index);
  // Whether node is one of the loaded nodes (never dereferences it: safe with a stale pointer).
  bool Contains(const TreeNode* node) const;

  // Reads the node's children anew (LoadTreeChildren).
  void Load(TreeNode* node);
  // The same, keeping expanded children with their subtrees (ReloadTreeChildren).
  void Reload(TreeNode* node);
  // Forgets the node's children; they are read again on the next expansion.
  void Clear(TreeNode* node);
  // Any other change of the node's children: change runs between the removal of the old rows
  // and the insertion of the new ones, with the old children in place.
  void Restructure(TreeNode* node, const std::function<void(TreeNode&)>& change);
  // The node's caption, image, count or has-subfolders flag changed.
  void NodeChanged(TreeNode* node);
  // Counts and marks may have changed anywhere (the unread or new-mail lists moved).
  void LooksChanged();
  // The unread counts of folder and the folders above it are read again (RefreshUnreadCounts).
  void RefreshUnread(const std::string& folder);
  // The node showing folder below the root; loads children on the way down when load is set.
  TreeNode* FindNode(const std::string& folder, bool load);
  // True while children are being replaced (views ignore the selection moves this causes).
  bool Changing() const { return changing_ > 0; }

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
  // A node that was open before its rows were replaced: the view opens it again.
  void ExpandWanted(const QModelIndex& index);

private:
  int RowOf(const TreeNode* node) const;
  TreeNode* FindBelow(TreeNode& from, const std::string& folder, bool load);
  // Asks the views to open the expanded nodes of node's subtree (node itself when self).
  void WantExpanded(TreeNode* node, bool self);

  TreeNode* root_ = nullptr;
  const TreeEnvironment* env_ = nullptr;
  Marks marks_;
  int changing_ = 0;
  bool fetching_ = false;  // a view is opening the node: it needs no asking
};

}  // namespace px::desk
