#pragma once
// The two dialogs through which addresses found in messages become contacts: "Contacts"
// (TfrmAddrs2) lists the addresses and adds the ticked ones to the contacts or a group; "Add
// Contact" (TfrmAddrs3) asks whether one address becomes a new contact or a further address of
// an existing contact.
#include <QDialog>

#include <functional>
#include <string>
#include <vector>

#include "contacts/contact_dialogs.h"

class QLabel;
class QListWidget;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace px::contacts::ui {

class TfrmAddrs3 : public QDialog {
  Q_OBJECT
public:
  // entries: the existing contacts as "Name <address>" (ExistingContactEntries).
  TfrmAddrs3(const std::string& addressText, std::vector<std::string> entries, QWidget* parent = nullptr);

  // "Add": stores the address with the chosen entry's contact; "" when done, else the error.
  std::function<std::string(const std::string& entry)> onAdd;
  std::function<void(const std::string&)> warn;

  AddContactOutcome Outcome() const { return outcome_; }

  QLabel* lblAddress = nullptr;
  QPushButton* btnCreateNew = nullptr;
  QPushButton* btnAddToExisting = nullptr;
  QPushButton* btnCancel = nullptr;
  QLabel* lblWillBeAdded = nullptr;
  QListWidget* lstContact = nullptr;
  QPushButton* btnAdd = nullptr;
  QPushButton* btnCancel2 = nullptr;

private:
  void ShowSecondPage();
  std::string addressText_;
  std::vector<std::string> entries_;
  AddContactOutcome outcome_ = AddContactOutcome::Nothing;
};

class TfrmAddrs2 : public QDialog {
  Q_OBJECT
public:
  TfrmAddrs2(ContactsDialogModel model, ContactBook book, bool contactsTabShown, QWidget* parent = nullptr);

  // Collaborators; each has a working default that opens the real window.
  std::function<void(const std::string&)> inform;   // the message after "Add ->"
  std::function<void(const std::string&)> warn;
  std::function<std::string()> askGroupName;        // "" when cancelled
  // "Add Contact" for an unknown address: its outcome.
  std::function<AddContactOutcome(const std::string& addressText)> askAddContact;
  // The contact editor over rec; onSave stores it ("" done, else the refusal). True when saved.
  std::function<bool(AddrRec rec, const std::function<std::string(const AddrRec&)>& onSave)> editContact;

  // What the opener must do afterwards.
  bool ContactsChanged() const { return model_.ContactsChanged(); }
  bool ContactsViewStale() const { return stale_; }

  const ContactsDialogModel& Model() const { return model_; }

  QTreeWidget* lstAddrs = nullptr;
  QTreeWidget* tvContacts = nullptr;
  QPushButton* btnAddTo = nullptr;
  QPushButton* btnClose = nullptr;
  QPushButton* btnCreateGroup = nullptr;
  QPushButton* btnSelectAll = nullptr;
  QPushButton* btnUnselectAll = nullptr;

  void btnAddToClick();
  void btnCreateGroupClick();
  // A press in the Action column of a row.
  void actionClick(int row);

private:
  void FillRows();
  void FillGroups(const std::string& select);
  void changed();
  std::string targetFolder() const;
  std::string targetCaption() const;
  ContactsDialogModel model_;
  ContactBook book_;
  bool contactsTab_ = false;
  bool stale_ = false;
  bool filling_ = false;
};

}  // namespace px::contacts::ui
