// Listing the contacts folder and its address groups; the pending-folder list.
#include "listing_fixture.h"
#include "store/pending_register.h"

namespace px::store::listing_test {
namespace {

using ::testing::ElementsAre;

class ListingContacts : public ListingFixture {
protected:
  DocRows listContacts(const std::string& folder) {
    DocRows rows;
    last = FetchContacts(ctx, folder, rows);
    return rows;
  }
};

TEST_F(ListingContacts, RootListsContactsAndGroups) {
  writeIndex(contacts,
             "[$$.Plumadex]\nHide Contacts=x\n\n"
             "[ann.vcf]\nTitle=Lee, Ann\nAddress=ann@x.org\nFlags=66\nSticker=s\n\n"
             "[bob.vcf]\nTitle=Bob\nAddress=bob\n\n"
             "[Friends.]\nTitle=Friends\n");
  DocRows rows = listContacts(contacts);
  ASSERT_EQ(rows.size(), 3u);
  const DocRecord* ann = find(rows, "ann.vcf");
  ASSERT_NE(ann, nullptr);
  EXPECT_EQ(ann->title, "Lee, Ann");
  EXPECT_EQ(ann->ext, "vcf");
  EXPECT_EQ(ann->flags, 66);
  EXPECT_EQ(ann->sticker, "s");
  EXPECT_EQ(ann->shownAddress, "ann@x.org");
  EXPECT_EQ(find(rows, "bob.vcf")->title, ",Bob");
  const DocRecord* group = find(rows, "Friends.");
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->ext, std::string(1, '\x12'));
  EXPECT_EQ(group->address, "Friends.");
  EXPECT_EQ(group->shownAddress, "(GROUP)");
  EXPECT_EQ(group->size, 0u);
}

TEST_F(ListingContacts, GroupMembersComeFromTheRoot) {
  const std::string group = contacts + "Friends/";
  test::makeDirs(group);
  touch(contacts + "ann.vcf");
  touch(contacts + "damaged.vcf");
  writeIndex(contacts, "[ann.vcf]\nTitle=Ann\nAddress=ann@x.org\n\n[Friends.]\nTitle=Friends\n");
  writeIndex(group, "[$$$AB.ann.vcf]\n\n[$$$AB.deleted.vcf]\n\n[$$$AB.damaged.vcf]\n");
  DocRows rows = listContacts(group);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].name, "ann.vcf");
  EXPECT_EQ(rows[0].prefix, "$$$AB.");
  EXPECT_EQ(rows[0].folder, group);
  EXPECT_EQ(rows[0].address, "ann@x.org");
  EXPECT_FALSE(indexHas(group, "$$$AB.deleted.vcf"));
  EXPECT_TRUE(indexHas(group, "$$$AB.damaged.vcf"));  // its file is there: not ours to drop
}

TEST_F(ListingContacts, ContactsTabSplitsFurtherAddressesAndPhonesIntoChildRows) {
  writeIndex(contacts,
             "[ann.vcf]\nTitle=Ann\nAddress=ann@x.org\nAddresses=ann@work.org, ann@home.org\n\n"
             "[bob.vcf]\nTitle=Bob\nAddress=bob@x.org\n\n"
             "[cy.vcf]\nTitle=Cy\nAddress=cy@x.org\n");
  ctx.contactsTabShown = true;
  ctx.contactDetails = [](const DocRecord& r) {
    ContactCardDetails d;
    if (r.name == "ann.vcf") d.detailLines = {"Home: 123"};
    if (r.name == "bob.vcf") d.detailLines = {"Home: 1", "Mobile: 2", "Fax: 3"};
    return d;
  };
  DocRows rows = listContacts(contacts);
  std::vector<std::string> ann;
  std::vector<std::string> bob;
  for (const DocRecord& r : rows) {
    if (r.name == "ann.vcf") ann.push_back(r.msgId + "|" + r.address + "|" + r.detail);
    if (r.name == "bob.vcf") bob.push_back(r.msgId + "|" + r.address + "|" + r.detail);
  }
  EXPECT_THAT(ann, ElementsAre("ann.vcf:001|ann@x.org|Home: 123", "ann.vcf:002|ann@work.org|",
                               "ann.vcf:003|ann@home.org|"));
  EXPECT_THAT(bob, ElementsAre("bob.vcf:001|bob@x.org|Home: 1", "bob.vcf:002||Mobile: 2", "bob.vcf:003||Fax: 3"));
  const DocRecord* cy = find(rows, "cy.vcf");
  ASSERT_NE(cy, nullptr);
  EXPECT_EQ(cy->msgId, "");
  EXPECT_EQ(rows.size(), 7u);

  // Off the Contacts tab nothing is split.
  ctx.contactsTabShown = false;
  EXPECT_EQ(listContacts(contacts).size(), 3u);
}

TEST(ListingPending, PendingFoldersFromTheOutgoingRegister) {
  test::TempHome home;
  const std::string out = home.path("Out/");
  test::makeDirs(out);
  test::writeFile(out + "waiting.txt", "x");
  test::writeFile(out + "tagged.txt", "x");
  TPXIniBase sent(home.path("sent.ini"));
  auto add = [&](const std::string& id, int flags, const std::string& path, const std::string& target) {
    sent.WriteString("$$$LNK." + id, "Flags", std::to_string(flags));
    if (!path.empty()) sent.WriteString("$$$LNK." + id, "Path", path);
    if (!target.empty()) sent.WriteString("$$$LNK." + id, "ID", target);
  };
  add("1", 0x2400, out, "waiting.txt");
  add("2", 0x2400, out, "$$$X.tagged.txt");
  add("3", 0x2400, out, "gone.txt");                         // folder there, file gone: erased
  add("4", 0x2400, home.path("usb/"), "x.txt");              // folder missing: kept
  add("5", 0x2400, "C:\\Mail\\", "x.txt");                   // foreign path: kept
  add("6", 0x6400, out, "gone.txt");                         // a draft is not pending: untouched
  add("7", 0x2400, "", "");                                  // nothing to check: kept
  PendingFolders pending;
  FileStatus st = RefreshPendingFolders(sent, pending);
  EXPECT_TRUE(st.ok()) << st.message;
  EXPECT_THAT(pending.Folders(), ElementsAre(out));
  for (const char* kept : {"$$$LNK.1", "$$$LNK.2", "$$$LNK.4", "$$$LNK.5", "$$$LNK.6", "$$$LNK.7"})
    EXPECT_TRUE(sent.SectionExists(kept)) << kept;
  EXPECT_FALSE(sent.SectionExists("$$$LNK.3"));
  EXPECT_FALSE(sent.Modified());  // saved
  EXPECT_EQ(test::readFile(home.path("sent.ini")).find("[$$$LNK.3]"), std::string::npos);
}

}  // namespace
}  // namespace px::store::listing_test
