#include "desk/ui/folder_chooser.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace px::desk {
namespace {

constexpr int kNodeRole = Qt::UserRole + 1;

TreeNode* NodeOf(QTreeWidgetItem* item) {
  return item ? static_cast<TreeNode*>(item->data(0, kNodeRole).value<void*>()) : nullptr;
}

// Shell nodes (the computer, the favourites' links) are no place for documents.
bool Listed(const TreeNode& n) { return !n.path.empty() && n.image != niFavorites && n.image != niFavoritesSub; }

void AddChildren(QTreeWidgetItem* item, TreeNode& node) {
  for (auto& c : node.children) {
    if (!Listed(*c)) continue;
    auto* child = new QTreeWidgetItem(item, {QString::fromStdString(c->caption)});
    child->setData(0, kNodeRole, QVariant::fromValue<void*>(c.get()));
    if (c->hasSubfolders) child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  }
}

}  // namespace

std::string ChooseCarryFolder(QWidget* parent, const QString& caption, const TreeEnvironment& env,
                              const std::function<std::string(const TreeNode*)>& refusal) {
  std::unique_ptr<TreeNode> root = MakeFilesRoot(env);
  QDialog dlg(parent);
  dlg.setWindowTitle(caption);
  auto* lay = new QVBoxLayout(&dlg);
  auto* tree = new QTreeWidget(&dlg);
  tree->setObjectName(QStringLiteral("tvwFolders"));
  tree->setHeaderHidden(true);
  lay->addWidget(tree);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  lay->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  QObject::connect(tree, &QTreeWidget::itemDoubleClicked, &dlg, [&dlg](QTreeWidgetItem*, int) { dlg.accept(); });

  auto* top = new QTreeWidgetItem(tree, {QString::fromStdString(root->caption)});
  top->setData(0, kNodeRole, QVariant::fromValue<void*>(root.get()));
  AddChildren(top, *root);
  top->setExpanded(true);
  tree->setCurrentItem(top);
  // Subfolders are read when their node is opened.
  QObject::connect(tree, &QTreeWidget::itemExpanded, &dlg, [&env](QTreeWidgetItem* item) {
    TreeNode* n = NodeOf(item);
    if (!n || n->childrenLoaded) return;
    LoadTreeChildren(*n, env);
    AddChildren(item, *n);
    if (item->childCount() == 0) item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
  });
  dlg.resize(320, 400);
  while (dlg.exec() == QDialog::Accepted) {
    const TreeNode* chosen = NodeOf(tree->currentItem());
    const std::string why = refusal ? refusal(chosen) : std::string();
    if (why.empty() && chosen) return chosen->path;
    QMessageBox::warning(&dlg, QStringLiteral("Plumadex"), QString::fromStdString(why));
  }
  return {};
}

}  // namespace px::desk
