// The contact windows over their models: the editor keeps its edits when a save is refused,
// the Contacts dialog adds ticked addresses to a group and hands unknown ones to Add Contact.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "contacts/contact_book.h"
#include "contacts/contact_dialogs.h"
#include "contacts/groups.h"
#include "contacts/ui/frm_addr.h"
#include "contacts/ui/frm_addrs.h"
#include "contacts/ui/frm_shared_address.h"
#include "store/index_file.h"
#include "support/test_support.h"

namespace px::contacts::ui {
namespace {

TEST(ContactWindowsTest, EditorRefusalKeepsTheWindowOpenWithTheEdits) {
  TfrmAddr dlg(AddrRec{}, true, true);
  std::vector<std::string> warnings;
  dlg.warn = [&](const std::string& t) { warnings.push_back(t); };
  int saves = 0;
  dlg.onSave = [&](const AddrRec& rec) {
    ++saves;
    return ContactIsEmpty(rec) ? std::string(kEmptyContactRefusal) : std::string();
  };
  dlg.show();
  dlg.btnSave->click();
  EXPECT_EQ(saves, 1);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_TRUE(dlg.isVisible());

  // An address typed into the e-mail field but not yet added is kept by Save.
  dlg.btnAddEmail->click();
  EXPECT_TRUE(dlg.edtEmail->isVisible());
  dlg.edtEmail->setText(QStringLiteral("alice"));
  dlg.btnSave->click();
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(dlg.Result().primaryEmail, "alice");
}

TEST(ContactWindowsTest, EditorShowsThePrimaryAndTheEncryptionBox) {
  AddrRec rec;
  rec.firstName = "Jan";
  rec.primaryEmail = "jan@example.org";
  rec.otherEmails = "jan";
  rec.business.street1 = "Main St 1";
  TfrmAddr dlg(rec, false, true);
  dlg.show();
  ASSERT_EQ(dlg.lstEmailAddresses->count(), 2);
  EXPECT_EQ(dlg.lstEmailAddresses->item(0)->checkState(), Qt::Checked);
  EXPECT_FALSE(dlg.chkEncryption->isVisible());
  dlg.lstEmailAddresses->item(1)->setCheckState(Qt::Checked);
  EXPECT_EQ(dlg.lstEmailAddresses->item(0)->checkState(), Qt::Unchecked);
  EXPECT_EQ(dlg.lblPrimaryEmail->text(), QStringLiteral("Primary e-mail address: jan"));
  EXPECT_TRUE(dlg.chkEncryption->isVisible());
  dlg.chkEncryption->setChecked(true);

  EXPECT_EQ(dlg.edtAddress[0]->text(), QStringLiteral("Main St 1"));
  dlg.cbAddrType->setCurrentIndex(1);
  EXPECT_EQ(dlg.edtAddress[0]->text(), QString());
  dlg.cbAddrType->setCurrentIndex(0);
  EXPECT_EQ(dlg.edtAddress[0]->text(), QStringLiteral("Main St 1"));
  dlg.btnSave->click();
  EXPECT_TRUE(dlg.Result().encrypt);
  EXPECT_EQ(dlg.Result().otherEmails, "jan@example.org");
}

class ContactsDialogWindowTest : public ::testing::Test {
protected:
  test::TempHome home;
  std::string root = home.path("Contacts/");
  store::IniRegistry registry;
  AddressMap map;
  RandomSource random{3};
  ContactBook book;

  void SetUp() override {
    test::makeDirs(root);
    book.contactsFolder = root;
    book.registry = &registry;
    book.map = &map;
    book.random = &random;
  }
};

TEST_F(ContactsDialogWindowTest, AddToAGroupAndTheActionColumn) {
  AddrRec jan;
  jan.firstName = "Jan";
  jan.lastName = "Vries";
  jan.primaryEmail = "jan@example.org";
  ASSERT_TRUE(SaveContact(book, jan, "", root).saved);
  GroupInfo g = CreateGroup(root, registry, "Friends");
  ContactsDialogModel model({"\"Ann Bell\" <ann@example.org>, \"Jan V\" <jan@example.org>, bo@example.org"}, map, "", true);
  TfrmAddrs2 dlg(std::move(model), book, true);
  std::vector<std::string> informed;
  dlg.inform = [&](const std::string& t) { informed.push_back(t); };
  ASSERT_EQ(dlg.lstAddrs->topLevelItemCount(), 3);
  EXPECT_EQ(dlg.lstAddrs->topLevelItem(1)->text(1), QStringLiteral("\"Jan Vries\" <jan@example.org>"));
  EXPECT_EQ(dlg.lstAddrs->topLevelItem(1)->text(2), QStringLiteral("Edit"));
  EXPECT_EQ(dlg.lstAddrs->topLevelItem(0)->text(2), QStringLiteral("Add"));
  ASSERT_EQ(dlg.tvContacts->topLevelItemCount(), 1);
  QTreeWidgetItem* rootNode = dlg.tvContacts->topLevelItem(0);
  EXPECT_EQ(rootNode->text(0), QStringLiteral("My Contacts"));
  EXPECT_EQ(dlg.tvContacts->currentItem(), rootNode);
  ASSERT_EQ(rootNode->childCount(), 1);

  // bo: unticked; Ann to the group.
  dlg.lstAddrs->topLevelItem(2)->setCheckState(0, Qt::Unchecked);
  dlg.btnUnselectAll->click();
  EXPECT_FALSE(dlg.btnAddTo->isEnabled());
  dlg.lstAddrs->topLevelItem(0)->setCheckState(0, Qt::Checked);
  EXPECT_TRUE(dlg.btnAddTo->isEnabled());
  dlg.tvContacts->setCurrentItem(rootNode->child(0));
  dlg.btnAddTo->click();
  ASSERT_EQ(informed.size(), 1u);
  EXPECT_EQ(informed[0], "Selected contacts have been added to the group \"Friends\"");
  EXPECT_EQ(GroupMembers(root, registry, "Friends", true), StringList{"\"Ann Bell\" <ann@example.org>"});
  EXPECT_TRUE(dlg.ContactsChanged());
  EXPECT_TRUE(dlg.ContactsViewStale());

  // The unknown bo: "Add Contact" says it was added to Jan.
  const int bo = 2;
  EXPECT_EQ(dlg.lstAddrs->topLevelItem(bo)->text(2), QStringLiteral("Add"));
  dlg.askAddContact = [&](const std::string& text) {
    const auto entries = ExistingContactEntries(map, true);
    EXPECT_TRUE(AddToExistingContact(book, entries.back(), text).saved);
    return AddContactOutcome::AddedToExisting;
  };
  dlg.actionClick(bo);
  bool found = false;
  for (int i = 0; i < dlg.lstAddrs->topLevelItemCount(); ++i)
    if (dlg.lstAddrs->topLevelItem(i)->text(1) == QStringLiteral("\"Jan Vries\" <bo@example.org>")) {
      found = true;
      EXPECT_EQ(dlg.lstAddrs->topLevelItem(i)->text(2), QStringLiteral("Edit"));
    }
  EXPECT_TRUE(found);

  // "Edit" on a known row opens the editor over the contact's card.
  std::string editedFirst;
  dlg.editContact = [&](AddrRec rec, const std::function<std::string(const AddrRec&)>& onSave) {
    editedFirst = rec.firstName;
    rec.position = "Captain";
    return onSave(rec).empty();
  };
  dlg.actionClick(1);
  EXPECT_EQ(editedFirst, "Jan");
  LoadedContact back = LoadContact(book, map.Find("jan@example.org")->section);
  EXPECT_EQ(back.rec.position, "Captain");
}

TEST(ContactWindowsTest, AddContactPreselectsTheSameNameAndAddsThere) {
  TfrmAddrs3 dlg("\"Jan Vries\" <new@example.org>", {"Ann Bell <ann@example.org>", "Jan Vries <jan@example.org>"});
  std::string added;
  dlg.onAdd = [&](const std::string& entry) {
    added = entry;
    return std::string();
  };
  dlg.show();
  EXPECT_TRUE(dlg.btnCreateNew->isVisible());
  EXPECT_FALSE(dlg.lstContact->isVisible());
  dlg.btnAddToExisting->click();
  EXPECT_FALSE(dlg.btnCreateNew->isVisible());
  EXPECT_TRUE(dlg.lstContact->isVisible());
  EXPECT_EQ(dlg.lstContact->currentRow(), 1);
  EXPECT_TRUE(dlg.btnAdd->isEnabled());
  dlg.btnAdd->click();
  EXPECT_EQ(added, "Jan Vries <jan@example.org>");
  EXPECT_EQ(dlg.Outcome(), AddContactOutcome::AddedToExisting);

  TfrmAddrs3 other("x@example.org", {"Ann Bell <ann@example.org>"});
  other.show();
  other.btnAddToExisting->click();
  EXPECT_FALSE(other.btnAdd->isEnabled());
  other.btnCancel2->click();
  EXPECT_EQ(other.Outcome(), AddContactOutcome::Nothing);
  TfrmAddrs3 create("x@example.org", {});
  create.show();
  create.btnCreateNew->click();
  EXPECT_EQ(create.Outcome(), AddContactOutcome::CreateNew);
}

TEST(ContactWindowsTest, SharedAddressQuestionShowsBothAndAnswers) {
  SharedAddressQuestion q;
  q.incoming.firstName = "John";
  q.incoming.lastName = "Public";
  q.incoming.primaryEmail = "janet@example.com";
  q.incoming.phones[pkOther] = "+1 555 0142";
  q.existing.firstName = "Janet";
  q.existing.lastName = "Jackson";
  q.existing.primaryEmail = "janet@example.com";
  q.existingDisplay = "Janet Jackson";
  q.address = "janet@example.com";
  q.remaining = 2;
  TfrmSharedAddress dlg(q, true);
  dlg.show();
  EXPECT_TRUE(dlg.lblQuestion->text().contains(QStringLiteral("\"Janet Jackson\"")));
  EXPECT_TRUE(dlg.lblIncoming->text().contains(QStringLiteral("Other: +1 555 0142")));
  EXPECT_TRUE(dlg.chkForAll->isVisible());
  dlg.chkForAll->setChecked(true);
  dlg.btnKeepBoth->click();
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.Answer().choice, SharedAddressChoice::KeepBoth);
  EXPECT_TRUE(dlg.Answer().forAll);

  // The last card has nothing to answer for; Escape skips it.
  q.remaining = 0;
  // A card of names and addresses only still shows every address.
  q.incoming.phones[pkOther].clear();
  q.incoming.primaryEmail = "jqp@example.net";
  q.incoming.otherEmails = "janet@example.com";
  TfrmSharedAddress last(q, true);
  last.show();
  EXPECT_TRUE(last.lblIncoming->text().contains(QStringLiteral("jqp@example.net\n   janet@example.com")))
      << last.lblIncoming->text().toStdString();
  EXPECT_FALSE(last.chkForAll->isVisible());
  last.reject();
  EXPECT_EQ(last.Answer().choice, SharedAddressChoice::Skip);
  EXPECT_FALSE(last.Answer().forAll);
}

}  // namespace
}  // namespace px::contacts::ui
