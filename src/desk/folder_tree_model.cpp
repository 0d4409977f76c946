#include "desk/folder_tree_model.h"

#include <QPersistentModelIndex>

#include <vector>

namespace px::desk {

FolderTreeModel::FolderTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

void FolderTreeModel::SetRoot(TreeNode* root) {
  ++changing_;
  beginResetModel();
  root_ = root;
  endResetModel();
  --changing_;
  if (root_) WantExpanded(root_, true);
}

NodeLook FolderTreeModel::LookOf(const TreeNode& node) const {
  return LookOfNode(node, marks_.searching, marks_.hasNewMail, marks_.hasPending, marks_.newMailBelow,
                    marks_.pendingBelow);
}

int FolderTreeModel::RowOf(const TreeNode* node) const {
  const TreeNode* parent = node->parent;
  if (!parent) return node == root_ ? 0 : -1;
  const auto& siblings = parent->children;
  const int hint = node->rowHint;
  if (hint >= 0 && static_cast<size_t>(hint) < siblings.size() && siblings[hint].get() == node) return hint;
  for (size_t i = 0; i < siblings.size(); ++i) {
    if (siblings[i].get() == node) {
      node->rowHint = static_cast<int>(i);
      return node->rowHint;
    }
  }
  return -1;
}

QModelIndex FolderTreeModel::IndexOf(const TreeNode* node) const {
  if (!node || !root_) return {};
  // Only a node that hangs below our root, each step checked, gets an index.
  for (const TreeNode* p = node; p != root_; p = p->parent)
    if (!p->parent || RowOf(p) < 0) return {};
  return createIndex(RowOf(node), 0, const_cast<TreeNode*>(node));
}

TreeNode* FolderTreeModel::NodeOf(const QModelIndex& index) {
  return index.isValid() ? static_cast<TreeNode*>(index.internalPointer()) : nullptr;
}

bool FolderTreeModel::Contains(const TreeNode* node) const {
  if (!node || !root_) return false;
  std::vector<const TreeNode*> todo{root_};
  while (!todo.empty()) {
    const TreeNode* n = todo.back();
    todo.pop_back();
    if (n == node) return true;
    for (const auto& c : n->children) todo.push_back(c.get());
  }
  return false;
}

void FolderTreeModel::Restructure(TreeNode* node, const std::function<void(TreeNode&)>& change) {
  if (!node) return;
  const QModelIndex at = IndexOf(node);
  if (!at.isValid()) {
    // Not shown here: nobody holds an index into it.
    change(*node);
    return;
  }
  ++changing_;
  // The old rows leave while their nodes are alive; change may then free them.
  std::vector<std::unique_ptr<TreeNode>> held;
  if (!node->children.empty()) {
    beginRemoveRows(at, 0, static_cast<int>(node->children.size()) - 1);
    held = std::move(node->children);
    node->children.clear();
    endRemoveRows();
  }
  node->children = std::move(held);
  change(*node);
  std::vector<std::unique_ptr<TreeNode>> fresh = std::move(node->children);
  node->children.clear();
  if (!fresh.empty()) {
    beginInsertRows(at, 0, static_cast<int>(fresh.size()) - 1);
    node->children = std::move(fresh);
    for (size_t i = 0; i < node->children.size(); ++i) {
      node->children[i]->parent = node;
      node->children[i]->rowHint = static_cast<int>(i);
    }
    endInsertRows();
  }
  // The expander and the count follow the new children.
  emit dataChanged(at, at);
  --changing_;
  WantExpanded(node, !fetching_);
}

void FolderTreeModel::WantExpanded(TreeNode* node, bool self) {
  if (!node->childrenLoaded) return;
  if (self && node->expanded) emit ExpandWanted(IndexOf(node));
  for (auto& c : node->children) WantExpanded(c.get(), true);
}

void FolderTreeModel::Load(TreeNode* node) {
  if (!node || !env_) return;
  Restructure(node, [this](TreeNode& n) { LoadTreeChildren(n, *env_); });
}

void FolderTreeModel::Reload(TreeNode* node) {
  if (!node || !env_) return;
  Restructure(node, [this](TreeNode& n) { ReloadTreeChildren(n, *env_); });
}

void FolderTreeModel::Clear(TreeNode* node) {
  Restructure(node, [](TreeNode& n) {
    n.children.clear();
    n.childrenLoaded = false;
  });
}

void FolderTreeModel::NodeChanged(TreeNode* node) {
  const QModelIndex at = IndexOf(node);
  if (at.isValid()) emit dataChanged(at, at);
}

void FolderTreeModel::LooksChanged() {
  if (!root_) return;
  const QList<int> roles{Qt::DisplayRole, CountRole, MarkRole};
  const QModelIndex top = IndexOf(root_);
  emit dataChanged(top, top, roles);
  std::vector<TreeNode*> todo{root_};
  while (!todo.empty()) {
    TreeNode* n = todo.back();
    todo.pop_back();
    if (n->children.empty()) continue;
    const QModelIndex parent = IndexOf(n);
    emit dataChanged(index(0, 0, parent), index(static_cast<int>(n->children.size()) - 1, 0, parent), roles);
    for (auto& c : n->children) todo.push_back(c.get());
  }
}

void FolderTreeModel::RefreshUnread(const std::string& folder) {
  if (!root_ || !env_ || !env_->unreadOf) return;
  const QList<int> roles{CountRole, MarkRole};
  std::vector<TreeNode*> todo{root_};
  while (!todo.empty()) {
    TreeNode* n = todo.back();
    todo.pop_back();
    if (!n->path.empty() && folder.starts_with(n->path) && ShowsMarksImage(n->image)) {
      const store::UnreadCount before = n->unread;
      n->unread = env_->unreadOf(n->path);
      if (n->unread.own != before.own || n->unread.total != before.total) {
        const QModelIndex at = IndexOf(n);
        emit dataChanged(at, at, roles);
      }
    }
    for (auto& c : n->children) todo.push_back(c.get());
  }
}

TreeNode* FolderTreeModel::FindNode(const std::string& folder, bool load) {
  return root_ ? FindBelow(*root_, folder, load) : nullptr;
}

TreeNode* FolderTreeModel::FindBelow(TreeNode& from, const std::string& folder, bool load) {
  if (!from.path.empty() && from.path == folder) return &from;
  if (load && !from.childrenLoaded && from.hasSubfolders && !from.path.empty() && folder.starts_with(from.path))
    Load(&from);
  for (auto& c : from.children) {
    if (c->path.empty() || !folder.starts_with(c->path)) continue;
    if (TreeNode* found = FindBelow(*c, folder, load)) return found;
  }
  return nullptr;
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column != 0) return {};
  if (!parent.isValid()) return row == 0 && root_ ? createIndex(0, 0, root_) : QModelIndex();
  const TreeNode* p = NodeOf(parent);
  if (!p || static_cast<size_t>(row) >= p->children.size()) return {};
  TreeNode* c = p->children[row].get();
  c->rowHint = row;
  return createIndex(row, 0, c);
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
  const TreeNode* n = NodeOf(child);
  if (!n || n == root_ || !n->parent) return {};
  TreeNode* p = n->parent;
  const int row = RowOf(p);
  return row < 0 ? QModelIndex() : createIndex(row, 0, p);
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return root_ ? 1 : 0;
  if (parent.column() != 0) return 0;
  const TreeNode* n = NodeOf(parent);
  return n ? static_cast<int>(n->children.size()) : 0;
}

int FolderTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool FolderTreeModel::hasChildren(const QModelIndex& parent) const {
  if (!parent.isValid()) return root_ != nullptr;
  if (parent.column() != 0) return false;
  const TreeNode* n = NodeOf(parent);
  return n && (!n->children.empty() || (!n->childrenLoaded && n->hasSubfolders));
}

bool FolderTreeModel::canFetchMore(const QModelIndex& parent) const {
  const TreeNode* n = NodeOf(parent);
  return n && env_ && !n->childrenLoaded && n->hasSubfolders;
}

void FolderTreeModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  if (Changing()) {
    // Asked from inside another change's signals: rows may not change until that one is over.
    QMetaObject::invokeMethod(this, [this, later = QPersistentModelIndex(parent)] {
      if (later.isValid()) fetchMore(later);
    }, Qt::QueuedConnection);
    return;
  }
  fetching_ = true;
  Load(NodeOf(parent));
  fetching_ = false;
}

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
  const TreeNode* n = NodeOf(index);
  if (!n) return {};
  switch (role) {
    case Qt::DisplayRole: return QString::fromStdString(n->caption);
    case NodeRole: return QVariant::fromValue(reinterpret_cast<quintptr>(n));
    case ImageRole: return n->image;
    case CountRole: return QString::fromStdString(LookOf(*n).count);
    case MarkRole: return static_cast<int>(LookOf(*n).mark);
    default: return {};
  }
}

Qt::ItemFlags FolderTreeModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

}  // namespace px::desk
