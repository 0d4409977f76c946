#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "contacts/address_map.h"
#include "contacts/contact_folder.h"
#include "contacts/vcard.h"
#include "store/index_file.h"
#include "support/test_support.h"

namespace px::contacts {
namespace {

class ContactFolderTest : public ::testing::Test {
protected:
  test::TempHome home;
  std::string folder = home.path("Contacts/");
  store::IniRegistry registry;
  AddressMap map;
  RandomSource random{42};

  void SetUp() override { test::makeDirs(folder); }

  std::string Key(const std::string& section, const std::string& key) {
    store::TPXIniFile index(registry, store::IndexPathOf(folder));
    return index.ReadString(section, key, "<none>");
  }
};

TEST_F(ContactFolderTest, SyncKeepsContactsAndGroupsWhoseFilesExist) {
  test::writeFile(folder + "a.vcf",
                  "BEGIN:VCARD\r\nN:Vries;Jan\r\nEMAIL;PREF:jan@example.org\r\n"
                  "EMAIL:j2@example.org\r\nEND:VCARD\r\n");
  test::makeDirs(folder + "Friends");
  {
    store::TPXIniFile index(registry, store::IndexPathOf(folder));
    index.WriteString("gone.vcf", "Title", "Gone");
    index.WriteString("Old.", "Title", "Old");
    index.WriteString("Friends.", "Title", "Friends");
    index.WriteString("$$.Plumadex", "Hide Contacts", "x");
  }
  SyncResult r = SynchroniseContacts(folder, registry, map, true);
  EXPECT_EQ(r.cardsRead, 1);
  EXPECT_EQ(r.sectionsErased, 2);
  EXPECT_EQ(Key("a.vcf", "Title"), "Vries, Jan");
  EXPECT_EQ(Key("a.vcf", "Address"), "jan@example.org");
  EXPECT_EQ(Key("a.vcf", "Addresses"), "j2@example.org");
  EXPECT_EQ(Key("Friends.", "Title"), "Friends");
  EXPECT_EQ(Key("gone.vcf", "Title"), "<none>");
  EXPECT_EQ(Key("Old.", "Title"), "<none>");
  EXPECT_EQ(Key("$$.Plumadex", "Hide Contacts"), "x");

  const AddrAliasRec* a = map.Find("jan@example.org");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->section, "a.vcf");
  EXPECT_EQ(a->displayName, "Jan Vries");
  EXPECT_TRUE(a->isPrimary);
  const AddrAliasRec* b = map.FindAddress("\"Jan\" <J2@Example.org>");
  ASSERT_NE(b, nullptr);
  EXPECT_FALSE(b->isPrimary);
  const AddrAliasRec* g = map.Find("friends (group)");
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->section, "Friends.");
  EXPECT_EQ(g->displayName, "Friends (GROUP)");

  // An unchanged card is not read again.
  EXPECT_EQ(SynchroniseContacts(folder, registry, map, false).cardsRead, 0);
  EXPECT_EQ(map.Find("jan@example.org")->displayName, "Vries, Jan");
}

TEST_F(ContactFolderTest, DisplayNamesAndLookup) {
  EXPECT_EQ(ContactDisplayName("Vries, Jan Piet", true), "Jan Piet Vries");
  EXPECT_EQ(ContactDisplayName("Vries, Jan Piet", false), "Vries, Jan Piet");
  EXPECT_EQ(ContactDisplayName("Cher", true), "Cher");
  EXPECT_EQ(ContactDisplayName("Acme, ", true), "Acme");
  {
    store::TPXIniFile index(registry, store::IndexPathOf(folder));
    index.WriteString("b.vcf", "Title", "Lee, Kim");
    index.WriteString("b.vcf", "Address", "kim@plumadex.net");
    index.WriteString("b.vcf", "Flags", "64");
    index.WriteString("c.vcf", "Title", "Other");
    index.WriteString("c.vcf", "Address", "Other@Example.com");
    map.Build(index, true);
    EXPECT_EQ(BuildAlwaysEncryptList(index), StringList{"kim"});
  }
  std::string name;
  auto lookup = map.Lookup();
  EXPECT_TRUE(lookup("kim", name));
  EXPECT_EQ(name, "Kim Lee");
  EXPECT_TRUE(lookup("other@example.com", name));
  EXPECT_FALSE(lookup("nobody@example.com", name));
}

TEST_F(ContactFolderTest, ImportGivesEveryCardItsOwnContact) {
  std::string text =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann One\r\nEMAIL:ann@example.com\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Two;Bob\r\nEMAIL:bob@example.com\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Dup;Ann\r\nEMAIL:ANN@example.com\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nNOTE:nothing else\r\nEND:VCARD\r\n";
  ImportResult r = ImportContactCards(folder, text, registry, map, true, random);
  EXPECT_EQ(r.imported, 2);
  EXPECT_EQ(r.known, 1);
  EXPECT_EQ(r.empty, 1);
  ASSERT_EQ(r.files.size(), 2u);
  EXPECT_NE(r.files[0], r.files[1]);
  EXPECT_EQ(Key(r.files[0], "Title"), "One, Ann");
  EXPECT_EQ(Key(r.files[1], "Address"), "bob@example.com");
  auto card = ReadContactFile(folder + r.files[1]);
  ASSERT_TRUE(card);
  EXPECT_EQ(card->lastName, "Two");
  // The entries written on import are current: a sync reads no card again.
  EXPECT_EQ(SynchroniseContacts(folder, registry, map, true).cardsRead, 0);
  EXPECT_NE(map.Find("bob@example.com"), nullptr);
}

TEST_F(ContactFolderTest, NewContactFilesNeverReplaceOthers) {
  AddrRec rec;
  rec.firstName = "X";
  std::string a = PlaceNewContactFile(folder, rec, random);
  std::string b = PlaceNewContactFile(folder, rec, random);
  EXPECT_FALSE(a.empty());
  EXPECT_NE(a, b);
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(folder)) files += e.is_regular_file();
  EXPECT_EQ(files, 2);  // no temporary files left
}

}  // namespace
}  // namespace px::contacts
