// The import window's model over a Thunderbird profile made at test time: its mail, address
// book (with lists as groups) and accounts are listed, imported once, and a second import adds
// nothing; hostile account addresses and list names never reach the settings or leave the
// Contacts folder. Also the address books read alone (multi-card vCard, LDIF groups).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include "contacts/groups.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "import/contact_sources.h"
#include "import/foreign_accounts.h"
#include "import/import_model.h"
#include "store/index_file.h"
#include "support/test_support.h"
#include "support/thunderbird_profile.h"
#include "transport/accounts.h"

namespace px::import {
namespace {

using px::test::makeDirs;
using px::test::readFile;
using px::test::writeFile;

class ImportModelTest : public ::testing::Test {
protected:
  void SetUp() override {
    tb = test::MakeThunderbirdProfile(home.path("home/"));
    makeDirs(Contacts());
    makeDirs(Spool());
    settings.Open(home.path("User.ini"));
  }
  std::string Contacts() const { return home.path("docs/Contacts/"); }
  std::string Spool() const { return home.path("data/Inbox/"); }
  std::string Records() const { return home.path("data/Import/"); }

  ImportTotals RunAll(ImportModel& model) {
    ImportContext c;
    c.contactsFolder = Contacts();
    c.registry = &registry;
    c.settings = &settings;
    c.random = &random;
    QEventLoop loop;
    QObject::connect(&model, &ImportModel::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    EXPECT_TRUE(model.Start(c));
    loop.exec();
    EXPECT_FALSE(model.running());
    return model.totals();
  }

  size_t SpoolFiles() const {
    return QDir(QString::fromStdString(Spool())).entryList(QDir::Files | QDir::Hidden).size();
  }
  size_t ContactFiles() const {
    return QDir(QString::fromStdString(Contacts())).entryList({QStringLiteral("*.vcf")}, QDir::Files).size();
  }

  test::TempHome home;
  test::ThunderbirdProfile tb;
  store::IniRegistry registry;
  Settings settings;
  RandomSource random{5};
};

TEST_F(ImportModelTest, AProfileGivesItsMailContactsAndAccountsOnceAndASecondImportAddsNothing) {
  ImportModel model(Spool(), Records());
  std::string error;
  // The profiles.ini folder stands for its default profile.
  ASSERT_EQ(model.AddSource("thunderbird", tb.home + ".thunderbird", &error), 3) << error;
  ASSERT_EQ(model.items().size(), 3u);
  EXPECT_EQ(model.items()[0].kind, ImportItem::Kind::Mail);
  EXPECT_EQ(model.items()[1].kind, ImportItem::Kind::Contacts);
  ASSERT_EQ(model.items()[2].kind, ImportItem::Kind::Accounts);
  // Local Folders ("none") is no account; addresses that cannot be settings keys are not offered
  // but named in the summary.
  ASSERT_EQ(model.items()[2].accounts.size(), 1u);
  EXPECT_EQ(model.items()[2].accounts[0].address, "fred@example.org");
  EXPECT_EQ(model.items()[2].refused.size(), 2u);
  // Listed once, however often it is named.
  EXPECT_EQ(model.AddSource("thunderbird", tb.profile, nullptr), 0);

  ImportTotals t = RunAll(model);
  EXPECT_EQ(t.messages, 4u) << t.Summary();
  EXPECT_EQ(SpoolFiles(), 4u);
  EXPECT_EQ(t.contacts, 3) << t.Summary();
  EXPECT_EQ(ContactFiles(), 3u);
  EXPECT_EQ(t.accounts, 1) << t.Summary();
  EXPECT_NE(t.Summary().find("Left out: evil@example.com [Settings]: cannot be an account name"), std::string::npos)
      << t.Summary();
  EXPECT_EQ(transport::AccountNames(settings), (std::vector<std::string>{"fred@example.org"}));
  // The saved file holds no section or key a foreign address made up.
  const std::string ini = readFile(home.path("User.ini"));
  EXPECT_EQ(ini.find("[Settings]"), std::string::npos) << ini;
  EXPECT_EQ(ini.find("x]"), std::string::npos) << ini;
  // The list became a group with its two members; the hostile list name stays inside Contacts.
  const std::string club = contacts::GroupFolderOf(Contacts(), registry, "Book Club");
  ASSERT_FALSE(club.empty());
  EXPECT_EQ(contacts::GroupMembers(Contacts(), registry, "Book Club", true).size(), 2u);
  for (const auto& g : contacts::ListGroups(Contacts(), registry))
    EXPECT_EQ(g.folder.rfind(Contacts(), 0), 0u) << g.folder;
  EXPECT_FALSE(QDir(QString::fromStdString(home.path("docs/Outside"))).exists());
  EXPECT_FALSE(QDir(QString::fromStdString(home.path("Outside"))).exists());

  // Again, from a new window: nothing new.
  ImportModel again(Spool(), Records());
  ASSERT_EQ(again.AddSource("thunderbird", tb.profile, nullptr), 3);
  ImportTotals t2 = RunAll(again);
  EXPECT_EQ(t2.messages, 0u);
  EXPECT_EQ(t2.duplicates, 4u);
  EXPECT_EQ(t2.contacts, 0);
  EXPECT_EQ(t2.lists, 0);
  EXPECT_EQ(t2.accounts, 0);
  EXPECT_EQ(SpoolFiles(), 4u);
  EXPECT_EQ(ContactFiles(), 3u);
  EXPECT_EQ(contacts::ListGroups(Contacts(), registry).size(), 2u);
}

TEST_F(ImportModelTest, DiscoveryFindsTheProfileAndUntickedItemsAreLeftAlone) {
  ImportModel model(Spool(), Records());
  DiscoveryPlaces places;
  places.home = tb.home;
  model.Discover(places);
  ASSERT_EQ(model.items().size(), 3u);
  EXPECT_EQ(model.items()[0].path, tb.profile);
  model.SetAllChecked(false);
  EXPECT_FALSE(model.CanImport());
  model.SetChecked(2, true);
  model.SetAccountChecked(2, 0, false);
  ImportTotals t = RunAll(model);
  EXPECT_EQ(t.messages, 0u);
  EXPECT_EQ(t.contacts, 0);
  EXPECT_EQ(t.accounts, 0);
  EXPECT_EQ(SpoolFiles(), 0u);
}

TEST_F(ImportModelTest, CancelStopsTheRunAndKeepsWhatWasSpooled) {
  ImportModel model(Spool(), Records());
  ASSERT_EQ(model.AddSource("thunderbird", tb.profile, nullptr), 3);
  QObject::connect(&model, &ImportModel::progress, &model, [&](const QString&, quint64) { model.Cancel(); });
  ImportTotals t = RunAll(model);
  EXPECT_TRUE(t.cancelled);
  EXPECT_EQ(t.messages, 0u);
  EXPECT_EQ(t.contacts, 0);  // the later items were not run
  EXPECT_EQ(t.accounts, 0);
  EXPECT_EQ(SpoolFiles(), t.messages);
}

TEST(ForeignAccounts, OnlyAddressesThatCanBeSettingsKeysAreAccepted) {
  const struct {
    const char* address;
    bool safe;
  } cases[] = {
      {"ann@example.org", true},        {"ann=1@example.org", false}, {"[ann@example.org", false},
      {"ann]@example.org", false},      {"ann@ex\r\nample.org", false}, {"ann@example.org\n", false},
      {" ann@example.org", false},      {"", false},                  {"no-at-sign", false},
      {";ann@example.org", false},      {"ann\t@example.org", false}, {"ann@exa\x7fmple.org", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeAccountAddress(c.address), c.safe) << c.address;
}

TEST(ForeignAccounts, AnAddressAlreadyThereKeepsItsValue) {
  Settings s;
  s.WriteString(kExternalAccountsSection, "fred@example.org", "1 pop.example.org fred");
  std::vector<SkippedItem> skipped;
  EXPECT_EQ(AddForeignAccounts(s, {"fred@example.org", "gina@example.org", "bad=@x.org"}, skipped), 1);
  EXPECT_EQ(s.ReadString(kExternalAccountsSection, "fred@example.org", ""), "1 pop.example.org fred");
  EXPECT_EQ(s.ReadString(kExternalAccountsSection, "gina@example.org", ""), "?");
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(skipped[0].what, "bad=@x.org");
}

TEST(ContactBooks, VCardFilesOfManyCardsAndLdifListsAreRead) {
  test::TempHome home;
  writeFile(home.path("people.vcf"),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nEMAIL:a@x.org\r\nEND:VCARD\r\n"
            "begin:vcard\nversion:4.0\nfn:B\nemail:b@x.org\nend:vcard\n");
  ContactBookRead v = ReadContactBook("vcard", home.path("people.vcf"));
  EXPECT_EQ(v.result.people, 2);
  EXPECT_TRUE(v.skipped.empty());

  writeFile(home.path("book.ldif"),
            "dn: cn=Ann,mail=ann@x.org\nobjectclass: person\ncn: Ann\nmail: ann@x.org\n\n"
            "dn: cn=Friends\nobjectclass: top\nobjectclass: groupOfNames\ncn: Friends\n"
            "member: cn=Ann,mail=ann@x.org\nmember: cn=Bob\\, Jr.,mail=bob@x.org\nmember: cn=NoMail\n");
  ContactBookRead l = ReadContactBook("ldif", home.path("book.ldif"));
  EXPECT_EQ(l.result.people, 1);
  ASSERT_EQ(l.result.lists.size(), 1u);
  EXPECT_EQ(l.result.lists[0].name, "Friends");
  EXPECT_EQ(l.result.lists[0].members, (std::vector<std::string>{"ann@x.org", "bob@x.org"}));

  // Not a database: said, nothing read.
  writeFile(home.path("abook.sqlite"), "this is no database");
  ContactBookRead bad = ReadContactBook("thunderbird", home.path("abook.sqlite"));
  EXPECT_EQ(bad.result.people, 0);
  EXPECT_EQ(bad.skipped.size(), 1u);
}

TEST(ContactBooks, AThunderbirdBookKeepsWholeCardsAndFieldsAndIsNeverChanged) {
  test::TempHome home;
  const std::string path = home.path("abook.sqlite");
  test::MakeAbook(path);
  const std::string before = readFile(path);
  LdifResult r;
  std::string error;
  ASSERT_TRUE(ReadAbookSqlite(path, r, &error)) << error;
  EXPECT_EQ(r.people, 3);
  EXPECT_NE(r.cards.find("VERSION:4.0\r\nFN:Hugo Brandt\r\n"), std::string::npos) << r.cards;
  EXPECT_NE(r.cards.find("ORG:Chen & Co\\; Ltd\r\n"), std::string::npos) << r.cards;
  EXPECT_NE(r.cards.find("TEL;TYPE=CELL:+1 555 0100\r\n"), std::string::npos) << r.cards;
  ASSERT_EQ(r.lists.size(), 2u);
  EXPECT_EQ(r.lists[0].name, "Book Club");
  EXPECT_EQ(readFile(path), before);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(path + "-journal")));
}

}  // namespace
}  // namespace px::import
