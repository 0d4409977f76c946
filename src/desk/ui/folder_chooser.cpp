#include "desk/ui/folder_chooser.h"

#include "desk/folder_tree_model.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QSortFilterProxyModel>
#include <QTreeView>
#include <QVBoxLayout>

namespace px::desk {
namespace {

// Shell nodes (the computer, the favourites' links) are no place for documents.
class ListedFolders : public QSortFilterProxyModel {
public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    const TreeNode* n = FolderTreeModel::NodeOf(sourceModel()->index(row, 0, parent));
    return n && (!n->parent || (!n->path.empty() && n->image != niFavorites && n->image != niFavoritesSub));
  }
};

}  // namespace

std::string ChooseCarryFolder(QWidget* parent, const QString& caption, const TreeEnvironment& env,
                              const std::function<std::string(const TreeNode*)>& refusal) {
  std::unique_ptr<TreeNode> root = MakeFilesRoot(env);
  root->expanded = true;
  QDialog dlg(parent);
  dlg.setWindowTitle(caption);
  auto* lay = new QVBoxLayout(&dlg);
  // Subfolders are read when their node is opened.
  FolderTreeModel model;
  model.SetEnvironment(&env);
  ListedFolders listed;
  listed.setSourceModel(&model);
  auto* tree = new QTreeView(&dlg);
  tree->setObjectName(QStringLiteral("tvwFolders"));
  tree->setHeaderHidden(true);
  tree->setModel(&listed);
  lay->addWidget(tree);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  lay->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  QObject::connect(tree, &QTreeView::doubleClicked, &dlg, [&dlg](const QModelIndex&) { dlg.accept(); });
  QObject::connect(&model, &FolderTreeModel::ExpandWanted, tree,
                   [tree, &listed](const QModelIndex& index) { tree->expand(listed.mapFromSource(index)); });
  model.SetRoot(root.get());
  tree->setCurrentIndex(listed.index(0, 0));
  dlg.resize(QSize(320, 400).expandedTo(dlg.sizeHint()));
  int result = QDialog::Rejected;
  std::string chosenPath;
  while ((result = dlg.exec()) == QDialog::Accepted) {
    const TreeNode* chosen = FolderTreeModel::NodeOf(listed.mapToSource(tree->currentIndex()));
    const std::string why = refusal ? refusal(chosen) : std::string();
    if (why.empty() && chosen) {
      chosenPath = chosen->path;
      break;
    }
    QMessageBox::warning(&dlg, QStringLiteral("Plumadex"), QString::fromStdString(why));
  }
  // The views let go of the nodes before the root is freed.
  tree->setModel(nullptr);
  model.SetRoot(nullptr);
  return chosenPath;
}

}  // namespace px::desk
