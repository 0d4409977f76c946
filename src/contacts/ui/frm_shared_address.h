#pragma once
// "Address already in Contacts": asked during an import for a card whose address a contact
// already has. Merge, Keep both or Skip (Escape), with a box that gives the same answer to the
// rest of the import's cards.
#include <QDialog>

#include "contacts/contact_import.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace px::contacts::ui {

class TfrmSharedAddress : public QDialog {
  Q_OBJECT
public:
  TfrmSharedAddress(const SharedAddressQuestion& question, bool firstNameFirst, QWidget* parent = nullptr);

  SharedAddressAnswer Answer() const;

  // Shows the dialog modally for the question and returns the answer (Skip when closed).
  static SharedAddressAnswer Ask(const SharedAddressQuestion& question, bool firstNameFirst, QWidget* parent);

  QLabel* lblQuestion = nullptr;
  QLabel* lblExisting = nullptr;
  QLabel* lblIncoming = nullptr;
  QPushButton* btnMerge = nullptr;
  QPushButton* btnKeepBoth = nullptr;
  QPushButton* btnSkip = nullptr;
  QCheckBox* chkForAll = nullptr;

private:
  SharedAddressChoice choice_ = SharedAddressChoice::Skip;
};

}  // namespace px::contacts::ui
