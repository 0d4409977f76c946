// Deleting contact rows shown outside their own place must never cost the card.
#include "store/ops_fixture.h"

#include "store/doc_operations.h"

using namespace px::store;
using namespace px::store::test;

namespace {

SelectionRecord Row(const std::string& folder, const std::string& prefix, const std::string& name,
                    const std::string& ext) {
  SelectionRecord r;
  r.folder = folder;
  r.prefix = prefix;
  r.name = name;
  r.title = name;
  r.ext = ext;
  return r;
}

}  // namespace

TEST_F(OpsFixture, DeletingAGroupMemberOrItsLinkInTheTrashKeepsTheCard) {
  doc(contacts, "c.vcf", "BEGIN:VCARD\r\nEND:VCARD\r\n", {"Title=Lee, Kim", "Address=kim"});
  px::test::makeDirs(contacts + "Friends");
  const std::string group = contacts + "Friends/";
  for (const std::string& folder : {group, trash}) {
    TPXIniFile ini(registry, IndexPathOf(folder));
    ini.WriteString("$$$AB.c.vcf", "Flags", "0");
    EXPECT_TRUE(ini.Release().ok());
  }
  for (const std::string& folder : {group, trash}) {
    OpItem it = ItemFromSelection(Row(folder, "$$$AB.", "c.vcf", "vcf"), contacts);
    ASSERT_TRUE(ops->RunDocOperation(opDelete, it));
    EXPECT_FALSE(hasSection(folder, "$$$AB.c.vcf"));
    EXPECT_TRUE(exists(contacts + "c.vcf"));
    EXPECT_EQ(value(contacts, "c.vcf", "Address"), "kim");
  }
}

TEST_F(OpsFixture, DeletingAGroupRowDeletesTheGroupFolder) {
  px::test::makeDirs(contacts + "Friends");
  {
    TPXIniFile ini(registry, IndexPathOf(contacts));
    ini.WriteString("Friends.", "Title", "Friends");
    EXPECT_TRUE(ini.Release().ok());
  }
  OpItem it = ItemFromSelection(Row(contacts, "", "Friends.", std::string(1, '\x12')), contacts);
  ASSERT_TRUE(ops->RunDocOperation(opDelete, it));
  EXPECT_FALSE(exists(contacts + "Friends"));
  EXPECT_FALSE(hasSection(contacts, "Friends."));
}

TEST_F(OpsFixture, RenamingAGroupRowRenamesTheGroupFolder) {
  px::test::makeDirs(contacts + "Friends");
  {
    TPXIniFile ini(registry, IndexPathOf(contacts));
    ini.WriteString("Friends.", "Title", "Friends");
    EXPECT_TRUE(ini.Release().ok());
    TPXIniFile group(registry, IndexPathOf(contacts + "Friends/"));
    group.WriteString("$$$AB.c.vcf", "Flags", "0");
    EXPECT_TRUE(group.Release().ok());
  }
  OpItem it = ItemFromSelection(Row(contacts, "", "Friends.", std::string(1, '\x12')), contacts);
  it.newTitle = "Pals";
  ASSERT_TRUE(ops->RunDocOperation(opRename, it));
  EXPECT_FALSE(exists(contacts + "Friends"));
  EXPECT_TRUE(exists(contacts + "Pals"));
  EXPECT_TRUE(hasSection(contacts + "Pals/", "$$$AB.c.vcf"));
  EXPECT_FALSE(hasSection(contacts, "Friends."));
  EXPECT_EQ(value(contacts, "Pals.", "Title"), "Pals");
}
