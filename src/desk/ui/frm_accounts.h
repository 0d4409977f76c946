#pragma once
// The accounts page as a window: the list of the user's own mail accounts on the left, the
// selected one's form on the right, with Add, Remove, Save and Test.
#include "desk/account_editor.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <thread>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace px::desk {

// Runs the account test; called on a worker thread, so it must not touch widgets. The window
// going stops the check through the switch (its client's Stop) and joins the worker.
using AccountChecker =
    std::function<transport::pop3::AccountCheck(const transport::ExternalAccount&, transport::StopSwitch&)>;
// Checks the outgoing server in the same way (log in and leave).
using SmtpChecker =
    std::function<transport::pop3::AccountCheck(const transport::SmtpServerSetting&, transport::StopSwitch&)>;

class TfrmAccounts : public QDialog {
public:
  TfrmAccounts(AccountEditor& editor, AccountChecker checker, std::function<void(const std::string&)> notify,
               QWidget* parent = nullptr);
  ~TfrmAccounts() override;

  QListWidget* lstAccount = nullptr;
  QLineEdit* edtName = nullptr;
  QLineEdit* edtServer = nullptr;
  QComboBox* cbSecurity = nullptr;
  QComboBox* cbProtocol = nullptr;
  QLineEdit* edtFolders = nullptr;
  QLabel* lblServer = nullptr;
  QLineEdit* edtUser = nullptr;
  QLineEdit* edtPassword = nullptr;
  QCheckBox* chkSavePassword = nullptr;
  QCheckBox* chkKeep = nullptr;
  QCheckBox* chkEnabled = nullptr;
  QLineEdit* edtSmtpServer = nullptr;
  QComboBox* cbSmtpSecurity = nullptr;
  QCheckBox* chkSmtpSameLogin = nullptr;
  QLineEdit* edtSmtpUser = nullptr;
  QLineEdit* edtSmtpPassword = nullptr;
  QPushButton* btnAdd = nullptr;
  QPushButton* btnRemove = nullptr;
  QPushButton* btnSave = nullptr;
  QPushButton* btnTest = nullptr;
  QLabel* lblResult = nullptr;

  void SetSmtpChecker(SmtpChecker checker) { smtpChecker_ = std::move(checker); }
  AccountForm Form() const;
  bool Testing() const { return testing_; }

  void btnAddClick();
  void btnRemoveClick();
  void btnSaveClick();
  void btnTestClick();

private:
  void reload(const std::string& select);
  void ShowAccount(int row);
  void SetForm(const AccountForm& f);

  AccountEditor& editor_;
  void UpdateSmtpLogin();
  // The captions and fields that depend on POP3 or IMAP.
  void UpdateProtocol();

  AccountChecker checker_;
  SmtpChecker smtpChecker_;
  std::function<void(const std::string&)> notify_;
  std::string editing_;  // the shown account's stored name; "" for a new one
  bool testing_ = false;
  std::shared_ptr<bool> alive_;
  // The check on its worker: stopped and joined when the window goes.
  std::shared_ptr<transport::StopSwitch> checkStop_;
  std::thread check_;
};

}  // namespace px::desk
