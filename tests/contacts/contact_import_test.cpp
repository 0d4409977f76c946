// Importing card files into the Contacts folder: several cards a file, and a card whose address
// a contact (or an earlier card) already has, merged, kept beside it or skipped as asked.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "contacts/contact_book.h"
#include "contacts/contact_folder.h"
#include "contacts/contact_import.h"
#include "store/index_file.h"
#include "support/test_paths.h"
#include "support/test_support.h"

namespace px::contacts {
namespace {

class ContactImportTest : public ::testing::Test {
protected:
  test::TempHome home;
  std::string root = home.path("Contacts/");
  std::string rolodex = std::string(PX_TEST_DATA) + "/vcards/rolodex.vcf";
  store::IniRegistry registry;
  AddressMap map;
  RandomSource random{11};
  ContactBook book;
  std::vector<SharedAddressQuestion> asked;

  void SetUp() override {
    test::makeDirs(root);
    book.contactsFolder = root;
    book.registry = &registry;
    book.map = &map;
    book.random = &random;
  }
  // Janet is in Contacts already, with a phone of her own.
  std::string JanetInContacts() {
    AddrRec janet;
    janet.firstName = "Janet";
    janet.lastName = "Jackson";
    janet.primaryEmail = "janet@example.com";
    janet.phones[pkMobile] = "+1 555 0199";
    janet.notes = "Sister";
    SaveResult s = SaveContact(book, janet, "", root);
    EXPECT_TRUE(s.saved) << s.error << s.refusal;
    return s.name;
  }
  SharedAddressResolver Answer(SharedAddressChoice choice) {
    return [this, choice](const SharedAddressQuestion& q) {
      asked.push_back(q);
      return choice;
    };
  }
  std::string Key(const std::string& section, const std::string& key) {
    store::TPXIniFile index(registry, store::IndexPathOf(root));
    return index.ReadString(section, key, "<none>");
  }
  size_t CardFiles() {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(root)) n += e.path().extension() == ".vcf";
    return n;
  }
};

TEST_F(ContactImportTest, ACardWithAnAddressInContactsIsAskedAbout) {
  const std::string janet = JanetInContacts();
  // Janet's own card and John's card (which also lists janet@example.com) both share her address.
  DropImportResult r = ImportDroppedCards(book, {rolodex}, Answer(SharedAddressChoice::Skip));
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].existingName, janet);
  EXPECT_EQ(asked[0].address, "janet@example.com");
  EXPECT_EQ(asked[0].existingDisplay, "Janet Jackson");
  EXPECT_EQ(asked[0].existing.phones[pkMobile], "+1 555 0199");
  EXPECT_EQ(asked[0].incoming.phones[pkOther], "+1 555 0142");
  EXPECT_EQ(asked[0].remaining, 2);
  EXPECT_EQ(asked[1].incoming.lastName, "Public");
  EXPECT_EQ(asked[1].remaining, 0);
  EXPECT_EQ(r.imported, 1);
  EXPECT_EQ(r.known, 2);
  EXPECT_EQ(CardFiles(), 2u);
  EXPECT_NE(SharedAddressText(asked[1], true).find("\"Janet Jackson\""), std::string::npos);
}

TEST_F(ContactImportTest, WithoutAQuestionSharedAddressesAreLeftOutAndCounted) {
  JanetInContacts();
  ImportResult r = ImportContactCards(root, test::readFile(rolodex), registry, map, true, random);
  EXPECT_EQ(r.imported, 1);
  EXPECT_EQ(r.known, 2);
  EXPECT_EQ(r.merged, 0);
}

TEST_F(ContactImportTest, MergeAddsWhatOnlyTheCardHasAndLosesNothing) {
  const std::string janet = JanetInContacts();
  DropImportResult r = ImportDroppedCards(book, {rolodex}, Answer(SharedAddressChoice::Merge));
  EXPECT_EQ(r.merged, 2);
  EXPECT_EQ(r.imported, 1);
  EXPECT_EQ(CardFiles(), 2u);
  std::optional<AddrRec> merged = ReadContactFile(root + janet);
  ASSERT_TRUE(merged);
  EXPECT_EQ(merged->firstName, "Janet");  // the contact's own name stays
  EXPECT_EQ(merged->phones[pkMobile], "+1 555 0199");
  EXPECT_EQ(merged->phones[pkOther], "+1 555 0142");
  EXPECT_EQ(merged->primaryEmail, "janet@example.com");
  EXPECT_EQ(merged->otherEmails, "jqp@example.net");
  EXPECT_EQ(merged->home.street1, "12 Elm St");
  EXPECT_NE(merged->extraLines.find("NICKNAME:Johnny"), std::string::npos);
  EXPECT_EQ(merged->notes, "Sister");
  EXPECT_EQ(Key(janet, "Addresses"), "jqp@example.net");
  ASSERT_NE(map.Find("jqp@example.net"), nullptr);
  EXPECT_EQ(map.Find("jqp@example.net")->section, janet);
  EXPECT_NE(r.Summary().find("2 cards were merged"), std::string::npos) << r.Summary();
}

TEST_F(ContactImportTest, KeepBothMakesAContactOfItsOwn) {
  JanetInContacts();
  DropImportResult r = ImportDroppedCards(book, {rolodex}, Answer(SharedAddressChoice::KeepBoth));
  EXPECT_EQ(r.imported, 3);
  EXPECT_EQ(CardFiles(), 4u);
  EXPECT_EQ(r.contacts.size(), 3u);
}

TEST_F(ContactImportTest, CardsOfOneFileSharingAnAddressAreAskedAboutToo) {
  // Nothing in Contacts: only John's card meets Janet's card of the same file.
  DropImportResult r = ImportDroppedCards(book, {rolodex}, Answer(SharedAddressChoice::Merge));
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].existing.lastName, "Jackson");
  EXPECT_EQ(r.imported, 2);
  EXPECT_EQ(r.merged, 1);
}

TEST_F(ContactImportTest, AnAnswerForAllIsGivenToTheRemainingCards) {
  int asks = 0;
  SharedAddressQuestioner questioner([&](const SharedAddressQuestion&) {
    ++asks;
    return SharedAddressAnswer{SharedAddressChoice::KeepBoth, asks == 2};
  });
  SharedAddressQuestion q;
  EXPECT_EQ(questioner(q), SharedAddressChoice::KeepBoth);
  EXPECT_EQ(questioner(q), SharedAddressChoice::KeepBoth);
  EXPECT_EQ(questioner(q), SharedAddressChoice::KeepBoth);
  EXPECT_EQ(asks, 2);
  EXPECT_EQ(questioner.Asked(), 2);
}

TEST(ContactMerge, NumbersOfATakenKindGoToTheSecondLineOrOther) {
  AddrRec into, from;
  into.phones[pkBusiness] = "1";
  from.phones[pkBusiness] = "2";
  from.phones[pkHome] = "3";
  into.phones[pkOther] = "4";
  from.phones[pkOther] = "5";
  from.phones[pkMobile] = "1";  // already there
  AddrRec m = MergeContact(into, from);
  EXPECT_EQ(m.phones[pkBusiness], "1");
  EXPECT_EQ(m.phones[pkBusiness2], "2");
  EXPECT_EQ(m.phones[pkHome], "3");
  EXPECT_EQ(m.phones[pkOther], "4");
  EXPECT_TRUE(m.phones[pkMobile].empty());
  EXPECT_EQ(m.extraLines, "TEL;VOICE:5");
  // Merging the same card again adds nothing.
  EXPECT_EQ(MergeContact(m, from), m);
}

TEST(ContactMerge, ChoicesOfTheCommandLine) {
  EXPECT_EQ(SharedAddressChoiceOf("merge"), SharedAddressChoice::Merge);
  EXPECT_EQ(SharedAddressChoiceOf("keep-both"), SharedAddressChoice::KeepBoth);
  EXPECT_EQ(SharedAddressChoiceOf("skip"), SharedAddressChoice::Skip);
  EXPECT_FALSE(SharedAddressChoiceOf("Merge"));
}

}  // namespace
}  // namespace px::contacts
