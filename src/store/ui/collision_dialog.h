#pragma once
// The name-collision dialog (TfrmRename): a file of the same name exists in the target folder;
// replace it, or use a different name (edited in the item's charset), optionally for all files
// of the operation.
#include "store/collision_choice.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QRadioButton;
class QWidget;

namespace px::store::ui {

class TfrmRename : public QDialog {
  Q_OBJECT
public:
  TfrmRename(const CollisionQuestion& q, QWidget* parent = nullptr);
  // The choice once the dialog was accepted (Skip when cancelled).
  CollisionAnswer Answer() const;

  QRadioButton* rbReplace = nullptr;
  QRadioButton* rbRename = nullptr;
  QLineEdit* edtName = nullptr;
  QCheckBox* cbApplyAll = nullptr;

private:
  CollisionQuestion question_;
};

// Asks through TfrmRename.
class DialogCollisionResolver final : public CollisionResolver {
public:
  explicit DialogCollisionResolver(QWidget* parent = nullptr) : parent_(parent) {}
  CollisionAnswer Ask(const CollisionQuestion& q) override;

private:
  QWidget* parent_;
};

}  // namespace px::store::ui
