#pragma once
// The name-collision dialog (TfrmRename): a thin window over CollisionPrompt. Its three buttons
// answer at once; the check box repeats the answer for the rest of the operation.
#include "dialogs/collision_prompt.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace px::dialogs::ui {

class TfrmRename : public QDialog {
  Q_OBJECT
public:
  explicit TfrmRename(const store::CollisionQuestion& q, QWidget* parent = nullptr);
  // The answer once the dialog has closed (Skip when it was dismissed).
  store::CollisionAnswer Answer() const { return answer_; }

  QLabel* lblName = nullptr;
  QLineEdit* edtName = nullptr;
  QCheckBox* chkAll = nullptr;  // null unless the operation has several documents
  QPushButton* btnReplace = nullptr;
  QPushButton* btnKeepBoth = nullptr;
  QPushButton* btnSkip = nullptr;

private:
  void Choose(store::CollisionAction action);

  CollisionPrompt prompt_;
  store::CollisionAnswer answer_;
};

// Asks through TfrmRename, over parent.
class DialogCollisionResolver final : public store::CollisionResolver {
public:
  explicit DialogCollisionResolver(QWidget* parent = nullptr) : parent_(parent) {}
  store::CollisionAnswer Ask(const store::CollisionQuestion& q) override;

private:
  QWidget* parent_;
};

}  // namespace px::dialogs::ui
