#pragma once
// TfrmMailSort, the Mail Sorting window: a thin view over MailSortModel. The rules are listed
// in the order they are tried, ticked when enabled; the chosen rule shows its action, its
// combination and its conditions. "Test..." lists what the rule would take from a folder.
// Closing saves the rule file.
#include <QDialog>

#include <memory>
#include <string>

#include "incoming/mail_sort_model.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace px::store {
class IniRegistry;
}

namespace px::incoming {

class TfrmMailSort : public QDialog {
  Q_OBJECT
public:
  TfrmMailSort(MailSortRules& rules, store::IniRegistry& registry, std::string documentsFolder,
               std::string trashFolder, QWidget* parent = nullptr);
  ~TfrmMailSort() override;

  MailSortModel& model() { return model_; }
  // Chooses the rule of that name (the last one when several have it).
  void SelectRule(const std::string& name);
  // The folder "Test..." uses; tests set it instead of the folder chooser.
  std::function<std::string()> chooseFolder;

  QListWidget* lstRules = nullptr;
  QListWidget* lstConditions = nullptr;
  QListWidget* lstTest = nullptr;
  QPushButton *btnNew = nullptr, *btnDelete = nullptr, *btnRename = nullptr, *btnUp = nullptr,
              *btnDown = nullptr, *btnClose = nullptr, *btnTest = nullptr;
  QPushButton *btnAddCondition = nullptr, *btnDeleteCondition = nullptr, *btnSaveCondition = nullptr;
  QComboBox* cbAction = nullptr;
  QLineEdit* edtFolder = nullptr;
  QPushButton* btnFolder = nullptr;
  QRadioButton *rbOr = nullptr, *rbAnd = nullptr;
  QCheckBox* cbField[7] = {};
  QComboBox* cbRelation = nullptr;
  QLineEdit* edtValue = nullptr;
  QLineEdit* edtName = nullptr;

private:
  void fillRules(int select);
  void showRule();
  void showCondition();
  void actionChanged();
  void saveCondition();
  void testRule();
  int row() const;
  SortCondition editedCondition() const;

  MailSortModel model_;
  store::IniRegistry& registry_;
  std::string documents_;
  bool filling_ = false;
};

}  // namespace px::incoming
