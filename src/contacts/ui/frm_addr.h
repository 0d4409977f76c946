#pragma once
// "Contact Information": the window in which the user creates or edits one contact. It edits
// the model's working copy; Save hands the record to the caller, who stores it or says why not
// (the window then stays open with the user's edits).
#include <QDialog>

#include <array>
#include <functional>
#include <string>

#include "contacts/contact_editor.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace px::contacts::ui {

class TfrmAddr : public QDialog {
  Q_OBJECT
public:
  TfrmAddr(AddrRec rec, bool firstNameFirst, bool encryptionAvailable, QWidget* parent = nullptr);

  // Stores the saved record; returns "" when it was stored, else the refusal or error to show.
  std::function<std::string(const AddrRec&)> onSave;
  // Shows a refusal (a warning box unless replaced, e.g. by tests).
  std::function<void(const std::string&)> warn;
  // Opens the home page (the desktop's handler unless replaced).
  std::function<void(const std::string&)> openUrl;

  ContactEditor& Model() { return model_; }
  // The record as saved (valid after Save closed the window).
  const AddrRec& Result() const { return result_; }

  // Controls, for the tests.
  QLineEdit* edtFirstName = nullptr;
  QLineEdit* edtLastName = nullptr;
  QLineEdit* edtOrg = nullptr;
  QLineEdit* edtPosition = nullptr;
  QLineEdit* edtURL = nullptr;
  QPushButton* btnGo = nullptr;
  QListWidget* lstEmailAddresses = nullptr;
  QLineEdit* edtEmail = nullptr;
  QPushButton* btnAddEmail = nullptr;
  QPushButton* btnEditEmail = nullptr;
  QPushButton* btnRemoveEmail = nullptr;
  QPushButton* btnSaveEmail = nullptr;
  QLabel* lblPrimaryEmail = nullptr;
  QCheckBox* chkEncryption = nullptr;
  QComboBox* cbAddrType = nullptr;
  std::array<QLineEdit*, 6> edtAddress{};
  std::array<QComboBox*, 5> cbPhoneKind{};
  std::array<QLineEdit*, 5> edtPhone{};
  QPlainTextEdit* edtNotes = nullptr;
  QPushButton* btnSave = nullptr;
  QPushButton* btnCancel = nullptr;

  void btnSaveClick();

private:
  void FillEmails();
  void FillAddress();
  void FillPhone(int row);
  void EmailSaveClick();
  void UpdateEmailSave();
  ContactEditor model_;
  AddrRec result_;
  bool filling_ = false;
  int editing_ = -1;  // the e-mail entry being edited, -1 for a new one
};

}  // namespace px::contacts::ui
