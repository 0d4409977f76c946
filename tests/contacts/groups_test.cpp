// Address groups: member lists, the recipient text of a drop on a group (recursive, without
// loops or links), creating groups from typed names and listing them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "contacts/groups.h"
#include "foundation/strings.h"
#include "store/index_file.h"
#include "support/test_support.h"

namespace px::contacts {
namespace {

class GroupsTest : public ::testing::Test {
protected:
  test::TempHome home;
  std::string root = home.path("Contacts/");
  store::IniRegistry registry;

  void SetUp() override {
    test::makeDirs(root);
    Contact("a.vcf", "Vries, Jan", "jan@example.org");
    Contact("b.vcf", "Lee, Kim", "kim");
    Contact("c.vcf", "Org Only, ", "");
    Contact("d.vcf", "Deep, Dora", "dora@example.org");
  }

  void Contact(const std::string& name, const std::string& title, const std::string& address) {
    store::TPXIniFile index(registry, store::IndexPathOf(root));
    index.WriteString(name, "Title", title);
    if (!address.empty()) index.WriteString(name, "Address", address);
  }

  std::string Group(const std::string& folder, const std::string& title, std::vector<std::string> members) {
    test::makeDirs(root + folder);
    {
      store::TPXIniFile index(registry, store::IndexPathOf(root));
      index.WriteString(folder.substr(folder.rfind('/') + 1) + ".", "Title", title);
    }
    AddGroupMembers(registry, root + folder + "/", members);
    return root + folder + "/";
  }
};

TEST_F(GroupsTest, MembersAreWrittenAsNamedAddressesFoundByTitleEntryOrSection) {
  Group("Friends", "Friends", {"a.vcf", "b.vcf", "c.vcf"});
  const StringList expected{"\"Jan Vries\" <jan@example.org>", "\"Kim Lee\" <kim>"};
  for (const char* name : {"Friends", "Friends (GROUP)", "friends (group)", "Friends."})
    EXPECT_EQ(GroupMembers(root, registry, name, true), expected) << name;
  EXPECT_EQ(GroupMembers(root, registry, "Friends", false),
            (StringList{"\"Vries, Jan\" <jan@example.org>", "\"Lee, Kim\" <kim>"}));
  EXPECT_TRUE(GroupMembers(root, registry, "Nobody", true).empty());
  EXPECT_TRUE(GroupMembers(root, registry, "", true).empty());
  // A name that tries to leave the Contacts folder is made a plain folder name.
  EXPECT_TRUE(GroupMembers(root, registry, "../Contacts/Friends", true).empty());
}

TEST_F(GroupsTest, AGroupWhoseFolderNameDiffersFromItsTitleIsFoundByTitle) {
  Group("Team (2)", "Team", {"b.vcf"});
  EXPECT_EQ(GroupMembers(root, registry, "Team (GROUP)", true), StringList{"\"Kim Lee\" <kim>"});
  EXPECT_EQ(GroupFolderOf(root, registry, "Team"), root + "Team (2)/");
}

TEST_F(GroupsTest, DropTextWalksSubgroupsOnceAndFollowsNoLinks) {
  const std::string g = Group("Club", "Club", {"a.vcf"});
  Group("Club/Juniors", "Juniors", {"b.vcf", "c.vcf"});
  // Outside the group: reached only through a link, which is not followed.
  const std::string outside = home.path("Elsewhere/");
  test::makeDirs(outside);
  AddGroupMembers(registry, outside, {"d.vcf"});
  std::filesystem::create_directory_symlink(outside, g + "Linked");
  // A link back up would loop for ever if it were followed.
  std::filesystem::create_directory_symlink(g, g + "Juniors/Loop");
  EXPECT_EQ(GroupRecipientText(root, registry, g, true),
            "\"Jan Vries\" <jan@example.org>, \"Kim Lee\" <kim>");
  EXPECT_EQ(GroupRecipientText(root, registry, root + "Missing/", true), "");
}

TEST_F(GroupsTest, MembersAreAddedOnceAsEmptyLinkEntries) {
  const std::string g = Group("Friends", "Friends", {"a.vcf"});
  EXPECT_EQ(AddGroupMembers(registry, g, {"a.vcf", "b.vcf", ""}), 1);
  store::TPXIniFile index(registry, store::IndexPathOf(g));
  StringList sections;
  index.ReadSections(sections);
  EXPECT_EQ(sections, (StringList{"$$$AB.a.vcf", "$$$AB.b.vcf"}));
  StringList lines;
  index.ReadSectionValues("$$$AB.b.vcf", lines);
  EXPECT_TRUE(lines.empty());
  EXPECT_TRUE(index.Release().ok());
  EXPECT_EQ(GroupMembers(root, registry, "Friends", true),
            (StringList{"\"Jan Vries\" <jan@example.org>", "\"Kim Lee\" <kim>"}));
}

TEST_F(GroupsTest, CreatedGroupsGetSafeUniqueFoldersAndTheirTitle) {
  struct Case {
    std::string typed, folder, title;
  } cases[] = {
      {"  Family ", "Family", "Family"},
      {"Family", "Family (2)", "Family"},
      {"a/b\\c", "a_b_c", "a/b\\c"},
      {"..", "", ""},  // made into a name that is not a dot-name
  };
  for (const Case& c : cases) {
    std::string error;
    GroupInfo g = CreateGroup(root, registry, c.typed, &error);
    EXPECT_TRUE(error.empty()) << error;
    ASSERT_FALSE(g.folder.empty()) << c.typed;
    EXPECT_EQ(g.folder.rfind(root, 0), 0u);
    const std::string name = g.folder.substr(root.size(), g.folder.size() - root.size() - 1);
    EXPECT_EQ(name.find('/'), std::string::npos);
    EXPECT_NE(name, "..");
    EXPECT_NE(name, ".");
    if (!c.folder.empty()) {
      EXPECT_EQ(name, c.folder);
    }
    EXPECT_TRUE(std::filesystem::is_directory(g.folder));
    store::TPXIniFile index(registry, store::IndexPathOf(root));
    EXPECT_EQ(index.ReadString(name + ".", "Title", ""), Trim(c.typed));
  }
  EXPECT_TRUE(CreateGroup(root, registry, "   ").folder.empty());
}

TEST_F(GroupsTest, GroupsAreListedByCaption) {
  Group("zeta", "Alpha", {});
  Group("beta", "", {});
  test::makeDirs(root + ".hidden");
  std::filesystem::create_directory_symlink(home.root(), root + "link");
  auto groups = ListGroups(root, registry);
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].caption, "Alpha");
  EXPECT_EQ(groups[0].folder, root + "zeta/");
  EXPECT_EQ(groups[1].caption, "beta");
}

}  // namespace
}  // namespace px::contacts
