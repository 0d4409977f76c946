#pragma once
// "Import to Plumadex": the list of what can be imported (found in the usual places, or named
// through "Browse..."), ticked or not; the accounts of a ticked source below it; then the run,
// with its progress and Cancel. A thin view over ImportModel.
#include <QDialog>

#include <functional>

#include "import/import_model.h"

class QLabel;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QPushButton;
class QWidget;

namespace px::import::ui {

class TfrmImport : public QDialog {
  Q_OBJECT
public:
  TfrmImport(ImportModel& model, ImportContext context, QWidget* parent = nullptr);

  // Asks for the file or folder of a kind of source; "" when the user gives up. Tests and the
  // desk may replace it (the default is a file dialog).
  std::function<QString(const std::string& kind, bool folder, const QString& caption)> choosePath;

  QListWidget* lstImport = nullptr;
  QListWidget* lstAccounts = nullptr;
  QLabel* lblSelect = nullptr;
  QLabel* lblInfo = nullptr;
  QLabel* lblAccounts = nullptr;
  QLabel* lblWorking = nullptr;
  QLabel* lblCount = nullptr;
  QProgressBar* pbDone = nullptr;
  QPushButton* btnBrowse = nullptr;
  QPushButton* btnSelect = nullptr;
  QPushButton* btnUnselect = nullptr;
  QPushButton* btnImport = nullptr;
  QPushButton* btnCancel = nullptr;

  // Adds a source the way "Browse..." does, for a kind (see ImportModel::BrowseKinds).
  void Browse(const std::string& kind);

protected:
  void reject() override;
  void closeEvent(QCloseEvent* e) override;

private:
  void Fill();
  void UpdateButtons();
  void StartImport();
  void ShowProgress(const QString& working, quint64 count);

  ImportModel& model_;
  ImportContext context_;
  QWidget* choosing_ = nullptr;
  QWidget* working_ = nullptr;
  bool filling_ = false;
};

}  // namespace px::import::ui
