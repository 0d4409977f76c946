// Saving contacts from the editor and the dialogs: refusals, duplicates, link entries, the
// always-encrypt list, adding addresses to existing contacts and importing dropped cards.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "contacts/contact_book.h"
#include "contacts/contact_dialogs.h"
#include "contacts/contact_folder.h"
#include "contacts/groups.h"
#include "store/doc_record.h"
#include "store/index_file.h"
#include "support/test_support.h"

namespace px::contacts {
namespace {

class ContactBookTest : public ::testing::Test {
protected:
  test::TempHome home;
  std::string root = home.path("Contacts/");
  store::IniRegistry registry;
  AddressMap map;
  RandomSource random{7};
  StringList encrypt;
  ContactBook book;

  void SetUp() override {
    test::makeDirs(root);
    book.contactsFolder = root;
    book.registry = &registry;
    book.map = &map;
    book.random = &random;
    book.firstNameFirst = true;
    book.alwaysEncrypt = &encrypt;
  }

  std::string Key(const std::string& folder, const std::string& section, const std::string& key) {
    store::TPXIniFile index(registry, store::IndexPathOf(folder));
    return index.ReadString(section, key, "<none>");
  }

  static AddrRec Person(std::string first, std::string last, std::string email, std::string others = {}) {
    AddrRec r;
    r.firstName = std::move(first);
    r.lastName = std::move(last);
    r.primaryEmail = std::move(email);
    r.otherEmails = std::move(others);
    return r;
  }
};

TEST_F(ContactBookTest, NewContactGetsCardEntryAndMapEntry) {
  SaveResult r = SaveContact(book, Person("Jan", "Vries", "Jan@Example.org", "j2@example.org"), "", root);
  ASSERT_TRUE(r.saved) << r.error << r.refusal;
  EXPECT_TRUE(std::filesystem::exists(root + r.name));
  EXPECT_EQ(Key(root, r.name, "Title"), "Vries, Jan");
  EXPECT_EQ(Key(root, r.name, "Address"), "Jan@Example.org");
  EXPECT_EQ(Key(root, r.name, "Addresses"), "j2@example.org");
  EXPECT_EQ(Key(root, r.name, "Flags"), "0");
  EXPECT_NE(Key(root, r.name, "Time"), "<none>");
  ASSERT_NE(map.Find("jan@example.org"), nullptr);
  EXPECT_EQ(map.Find("j2@example.org")->section, r.name);
  LoadedContact back = LoadContact(book, r.name);
  ASSERT_TRUE(back.ok);
  EXPECT_EQ(back.rec.lastName, "Vries");
}

TEST_F(ContactBookTest, EmptyContactIsRefusedAndNothingIsWritten) {
  AddrRec blank;
  blank.phones[pkMobile] = "0612345678";  // a phone alone is not enough
  blank.notes = "note";
  SaveResult r = SaveContact(book, blank, "", root);
  EXPECT_FALSE(r.saved);
  EXPECT_EQ(r.refusal, kEmptyContactRefusal);
  EXPECT_FALSE(std::filesystem::exists(store::IndexPathOf(root)));
  AddrRec org;
  org.organisation = "Acme";
  r = SaveContact(book, org, "", root);
  ASSERT_TRUE(r.saved);
  EXPECT_EQ(Key(root, r.name, "Title"), "Acme");
}

TEST_F(ContactBookTest, DuplicateAddressesAreRefusedForNewAndUpdatedContacts) {
  SaveResult jan = SaveContact(book, Person("Jan", "Vries", "jan@example.org"), "", root);
  SaveResult kim = SaveContact(book, Person("Kim", "Lee", "kim@example.org"), "", root);
  ASSERT_TRUE(jan.saved && kim.saved);
  const std::string refusal =
      "Sorry, but such an address is already present in contact list:\r\"Jan Vries\" <jan@example.org>";
  struct Case {
    AddrRec rec;
    std::string self;
    bool refused;
  } cases[] = {
      {Person("X", "Y", "\"Someone\" <JAN@example.ORG>"), "", true},
      {Person("X", "Y", "x@example.org", "jan@example.org"), "", true},
      {Person("Kim", "Lee", "jan@example.org"), kim.name, true},   // an update too
      {Person("Jan", "Vries", "jan@example.org", "jv@example.org"), jan.name, false},  // its own address
  };
  for (auto& c : cases) {
    SaveResult r = SaveContact(book, c.rec, c.self, root);
    EXPECT_EQ(!r.saved, c.refused) << c.rec.primaryEmail;
    if (c.refused) {
      EXPECT_EQ(r.refusal, refusal);
    }
  }
  EXPECT_EQ(Key(root, kim.name, "Address"), "kim@example.org");
}

TEST_F(ContactBookTest, EncryptionFollowsTheServiceAddressAndTheList) {
  AddrRec alice = Person("Alice", "A", "alice@plumadex.net");
  alice.encrypt = true;
  SaveResult r = SaveContact(book, alice, "", root);
  ASSERT_TRUE(r.saved);
  EXPECT_EQ(Key(root, r.name, "Address"), "alice");
  EXPECT_EQ(Key(root, r.name, "Flags"), std::to_string(store::dfEncrypted));
  EXPECT_EQ(encrypt, StringList{"alice"});
  // Changed to an outside address: the flag and the list entry go.
  alice.primaryEmail = "alice@example.org";
  r = SaveContact(book, alice, r.name, root);
  ASSERT_TRUE(r.saved);
  EXPECT_EQ(Key(root, r.name, "Flags"), "0");
  EXPECT_TRUE(encrypt.empty());
}

TEST_F(ContactBookTest, ContactMadeInAGroupIsLinkedThere) {
  GroupInfo g = CreateGroup(root, registry, "Friends");
  SaveResult r = SaveContact(book, Person("Jan", "Vries", "jan@example.org"), "", g.folder);
  ASSERT_TRUE(r.saved);
  EXPECT_TRUE(std::filesystem::exists(root + r.name));
  EXPECT_EQ(GroupMembers(root, registry, "Friends (GROUP)", true), StringList{"\"Jan Vries\" <jan@example.org>"});
}

TEST_F(ContactBookTest, AddressJoinsTheOtherEmailsOfAnExistingContact) {
  SaveResult r = SaveContact(book, Person("Jan", "Vries", "jan@example.org", "j2@example.org"), "", root);
  ASSERT_TRUE(r.saved);
  auto entries = ExistingContactEntries(map, true);
  ASSERT_EQ(entries, std::vector<std::string>{"Jan Vries <jan@example.org>"});
  EXPECT_EQ(PreselectedEntry(entries, "\"jan vries\" <new@example.org>"), 0);
  EXPECT_EQ(PreselectedEntry(entries, "\"Other\" <new@example.org>"), -1);
  SaveResult a = AddToExistingContact(book, entries[0], "\"Jan Vries\" <New@Example.org>");
  ASSERT_TRUE(a.saved) << a.error << a.refusal;
  EXPECT_EQ(Key(root, r.name, "Address"), "jan@example.org");
  EXPECT_EQ(Key(root, r.name, "Addresses"), "j2@example.org, New@Example.org");
  ASSERT_NE(map.Find("new@example.org"), nullptr);
  EXPECT_FALSE(map.Find("new@example.org")->isPrimary);
}

TEST_F(ContactBookTest, DroppedCardFilesBecomeContactsOnceEach) {
  const std::string drop = home.path("two.vcf");
  test::writeFile(drop,
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Vries;Jan\r\nEMAIL;TYPE=INTERNET,PREF:jan@example.org\r\nEND:VCARD\r\n"
                  "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Kim Lee\r\nN:Lee;Kim;;;\r\nEMAIL:kim@example.org\r\nEND:VCARD\r\n");
  DropImportResult r = ImportDroppedCards(book, {drop, home.path("missing.vcf")});
  EXPECT_EQ(r.imported, 2);
  EXPECT_EQ(r.errors.size(), 1u);
  ASSERT_NE(map.Find("kim@example.org"), nullptr);
  EXPECT_EQ(map.Find("kim@example.org")->displayName, "Kim Lee");
  r = ImportDroppedCards(book, {drop});
  EXPECT_EQ(r.imported, 0);
  EXPECT_EQ(r.known, 2);
  EXPECT_NE(r.Summary().find("2 cards were left out"), std::string::npos);
}

TEST_F(ContactBookTest, AttachmentCopiesNeverShareAName) {
  test::writeFile(root + "a.vcf", "BEGIN:VCARD\r\nEND:VCARD\r\n");
  RandomSource same{1};
  RandomSource same2{1};
  const std::string one = ContactAttachmentCopy(root + "a.vcf", home.root(), same);
  const std::string two = ContactAttachmentCopy(root + "a.vcf", home.root(), same2);  // same seed, same moment
  ASSERT_FALSE(one.empty());
  ASSERT_FALSE(two.empty());
  EXPECT_NE(one, two);
  EXPECT_EQ(test::readFile(two), "BEGIN:VCARD\r\nEND:VCARD\r\n");
}

class ContactsDialogTest : public ContactBookTest {};

TEST_F(ContactsDialogTest, RowsListEachAddressOnceWithoutGroupsOrTheUser) {
  ASSERT_TRUE(SaveContact(book, Person("Jan", "Vries", "jan@example.org"), "", root).saved);
  ContactsDialogModel m({"zed@example.org, \"Zed\" <zed@example.org>, me@plumadex.net, Friends (GROUP)",
                         "\"J. V.\" <JAN@example.org>; zed@example.org, \"Ann Bell\" <ann@example.org>"},
                        map, "me", true);
  ASSERT_EQ(m.Rows().size(), 3u);
  EXPECT_EQ(m.Rows()[0].text, "\"Ann Bell\" <ann@example.org>");
  EXPECT_FALSE(m.Rows()[0].known);
  EXPECT_TRUE(m.Rows()[0].ticked);
  EXPECT_EQ(m.Rows()[1].text, "\"Jan Vries\" <jan@example.org>");
  EXPECT_TRUE(m.Rows()[1].known);
  EXPECT_FALSE(m.Rows()[1].ticked);
  EXPECT_EQ(m.Rows()[2].text, "\"Zed\" <zed@example.org>");
  EXPECT_TRUE(m.AddEnabled());
  m.TickAll(false);
  EXPECT_FALSE(m.AddEnabled());
}

TEST_F(ContactsDialogTest, AddingToAGroupMakesContactsAndLinks) {
  ASSERT_TRUE(SaveContact(book, Person("Jan", "Vries", "jan@example.org"), "", root).saved);
  GroupInfo g = CreateGroup(root, registry, "Friends");
  ContactsDialogModel m({"\"Ann Bell\" <ann@example.org>, \"Bo Dee\" <bo@example.org>, jan@example.org"}, map, "", true);
  m.SetTicked(2, true);  // Jan is known: only linked
  std::vector<std::string> errors;
  EXPECT_EQ(m.AddTicked(book, g.folder, "Friends", &errors),
            "Selected contacts have been added to the group \"Friends\"");
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(m.ContactsChanged());
  EXPECT_EQ(GroupMembers(root, registry, "Friends", true),
            (StringList{"\"Jan Vries\" <jan@example.org>", "\"Ann Bell\" <ann@example.org>", "\"Bo Dee\" <bo@example.org>"}));
  for (const auto& row : m.Rows()) EXPECT_TRUE(row.known) << row.text;
  ASSERT_NE(map.Find("bo@example.org"), nullptr);
  EXPECT_EQ(Key(root, map.Find("bo@example.org")->section, "Title"), "Dee, Bo");
  // With "My Contacts" as target no link entry is written.
  ContactsDialogModel m2({"cy@example.org"}, map, "", true);
  EXPECT_EQ(m2.AddTicked(book, root, "My Contacts"), "Selected contacts have been added to My Contacts");
  store::TPXIniFile index(registry, store::IndexPathOf(root));
  StringList sections;
  index.ReadSections(sections);
  for (const auto& s : sections) EXPECT_NE(s.rfind("$$$AB.", 0), 0u) << s;
}

TEST_F(ContactsDialogTest, RecordForAnAddressTakesItsNameApart) {
  AddrRec r = RecordForAddress("\"Vries, Jan\" <jan@plumadex.net>");
  EXPECT_EQ(r.firstName, "Jan");
  EXPECT_EQ(r.lastName, "Vries");
  EXPECT_EQ(r.primaryEmail, "jan");
  r = RecordForAddress("bob@example.org");
  EXPECT_EQ(r.firstName, "");
  EXPECT_EQ(r.primaryEmail, "bob@example.org");
}

}  // namespace
}  // namespace px::contacts
