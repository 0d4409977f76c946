#include "foundation/address.h"

#include <gtest/gtest.h>

#include <map>

using namespace px;

TEST(AddressList, ParsesQuotedNamesSeparatorsAndGroups) {
  struct Case { const char* text; StringList elements; } cases[] = {
      {"\"Smith, John\" <js@example.com>; Friends.",
       {"\"Smith, John\" <js@example.com>", "Friends (GROUP)"}},
      {"a@x.com, b@y.com;c", {"a@x.com", "b@y.com", "c"}},
      {"  , ;; a  ", {"a"}},
      {"", {}},
      {"John <j@x.com>", {"John <j@x.com>"}},
      {"\"Semi; colon\"<s@x.com>", {"\"Semi; colon\"<s@x.com>"}},
      {"\"   spaced\"    <s@x.com>", {"\"   spaced\" <s@x.com>"}},
      {"\"unterminated, name", {"\"unterminated, name"}},
      {"Team (group), Family .", {"Team (group)", "Family (GROUP)"}},
      {"a, . ;b", {"a", "b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseAddressList(c.text), c.elements) << c.text;
}

TEST(AddressList, GroupAndListTests) {
  EXPECT_TRUE(IsGroupAddress("Friends."));
  EXPECT_TRUE(IsGroupAddress("Friends (group)"));
  EXPECT_TRUE(IsGroupAddress("Friends (GROUP)"));
  EXPECT_FALSE(IsGroupAddress("Friends"));
  EXPECT_FALSE(IsGroupAddress("Smith, J."));
  EXPECT_FALSE(IsGroupAddress(""));

  EXPECT_TRUE(IsAddressList("a@x.com, b@x.com"));
  EXPECT_TRUE(IsAddressList("a@x.com;b"));
  EXPECT_FALSE(IsAddressList("\"Smith, John\" <js@x.com>"));
  EXPECT_FALSE(IsAddressList(""));
  EXPECT_TRUE(IsAddressList("\"odd, a@x.com"));  // an unpaired quote hides nothing
}

TEST(AddressList, DisplayNameAndBareAddress) {
  struct Case { const char* element; const char* name; const char* bare; } cases[] = {
      {"\"John Smith\" <JS@example.com>", "John Smith", "JS@example.com"},
      {"John Smith <js@example.com>", "John Smith", "js@example.com"},
      {"<js@example.com>", "js@example.com", "js@example.com"},
      {"js@example.com", "js@example.com", "js@example.com"},
      {"Friends (group)", "Friends", "Friends (group)"},
      {"Friends.", "Friends", "Friends."},
      {"  bob@plumadex.net  ", "bob@plumadex.net", "bob"},
      {"Bob <bob@PLUMADEX.NET>", "Bob", "bob"},
      {"Bob <bob@x.com", "Bob", "bob@x.com"},
      // A "<" inside the quoted name does not make an address.
      {"\"Bank <admin@bank.com>\" <thief@x.com>", "Bank <admin@bank.com>", "thief@x.com"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DisplayNameOf(c.element), c.name) << c.element;
    EXPECT_EQ(BareAddressOf(c.element), c.bare) << c.element;
  }
}

TEST(AddressList, ServiceDomain) {
  EXPECT_EQ(StripServiceDomain("anna@Plumadex.Net"), "anna");
  EXPECT_EQ(StripServiceDomain("anna@plumadex.net.evil.com"), "anna@plumadex.net.evil.com");
  EXPECT_EQ(StripServiceDomain("anna@notplumadex.net"), "anna@notplumadex.net");
  EXPECT_EQ(StripServiceDomain("@plumadex.net"), "@plumadex.net");
  EXPECT_EQ(AddServiceDomain("anna"), "anna@plumadex.net");
  EXPECT_EQ(AddServiceDomain("anna@x.com"), "anna@x.com");
  EXPECT_EQ(AddServiceDomain(""), "");
}

TEST(AddressList, AddressInList) {
  const char* list = "\"Anna\" <anna@plumadex.net>, Bob <BOB@x.com>; carl@y.com";
  EXPECT_TRUE(AddressInList(list, "anna"));
  EXPECT_TRUE(AddressInList(list, "bob@X.com"));
  EXPECT_TRUE(AddressInList(list, "Carl <carl@y.com>"));
  EXPECT_FALSE(AddressInList(list, "dave@y.com"));
  EXPECT_FALSE(AddressInList(list, ""));
  EXPECT_FALSE(AddressInList("", "a@x.com"));
}

TEST(AddressList, FormatAndJoin) {
  EXPECT_EQ(FormatAddressElement("John Smith", "js@x.com"), "\"John Smith\" <js@x.com>");
  EXPECT_EQ(FormatAddressElement("", "js@x.com"), "js@x.com");
  EXPECT_EQ(FormatAddressElement("Say \"hi\"", "a@x.com"), "\"Say 'hi'\" <a@x.com>");
  EXPECT_EQ(JoinAddressList({"a", "", "b"}), "a, b");
  // The canonical form parses back to the same element.
  std::string e = FormatAddressElement("Smith, John", "js@x.com");
  EXPECT_EQ(ParseAddressList(e + ", other@x.com"), (StringList{e, "other@x.com"}));
}

TEST(AddressList, ExpandGroupsReplacesMembersWithoutDuplicates) {
  std::map<std::string, StringList, std::less<>> groups = {
      {"Friends", {"\"Anna\" <anna@x.com>", "\"Bob\" <bob@x.com>", "\"Me\" <me@x.com>"}},
      {"Family", {"\"Bob\" <BOB@x.com>", "\"Carl\" <carl@x.com>"}},
      {"Loop", {"Loop (GROUP)", "\"Dora\" <dora@x.com>"}},
      {"Nested", {"Family (GROUP)", "\"Eve\" <eve@x.com>"}},
  };
  GroupMembersFn lookup = [&](std::string_view name) {
    auto it = groups.find(name);
    return it == groups.end() ? StringList{} : it->second;
  };
  EXPECT_EQ(ExpandGroups("anna@x.com, Friends (GROUP); Family.", "me@x.com", lookup),
            "anna@x.com, \"Bob\" <bob@x.com>, \"Carl\" <carl@x.com>");
  EXPECT_EQ(ExpandGroups("Loop (GROUP)", "", lookup), "\"Dora\" <dora@x.com>");
  EXPECT_EQ(ExpandGroups("Nested (GROUP)", "", lookup),
            "\"Bob\" <BOB@x.com>, \"Carl\" <carl@x.com>, \"Eve\" <eve@x.com>");
  EXPECT_EQ(ExpandGroups("Unknown (GROUP), z@x.com", "", lookup), "z@x.com");
  EXPECT_EQ(ExpandGroups("", "", lookup), "");
  EXPECT_EQ(ExpandGroups("Friends (GROUP)", "", nullptr), "Friends (GROUP)");
}

TEST(PersonName, SplitJoinFormat) {
  struct Case { const char* full; const char* first; const char* last; } cases[] = {
      {"John A. Smith", "John A.", "Smith"},
      {"Smith, John", "John", "Smith"},
      {"Madonna", "Madonna", ""},
      {"John Q Public", "John Q", "Public"},
      {"Jean Paul Sartre", "Jean", "Paul Sartre"},
      {"  Ann   Lee  ", "Ann", "Lee"},
      {"\xC3\x89mile \xC3\x89 Zola", "\xC3\x89mile \xC3\x89", "Zola"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    PersonName p = SplitPersonName(c.full);
    EXPECT_EQ(p.first, c.first) << c.full;
    EXPECT_EQ(p.last, c.last) << c.full;
  }
  EXPECT_EQ(JoinPersonName("John", "Smith", true), "John Smith");
  EXPECT_EQ(JoinPersonName("John", "Smith", false), "Smith, John");
  EXPECT_EQ(JoinPersonName("", "Smith", false), "Smith");
  EXPECT_EQ(JoinPersonName("John", "", true), "John");
  EXPECT_EQ(FormatPersonName("Smith, John", true), "John Smith");
  EXPECT_EQ(FormatPersonName("John Smith", false), "Smith, John");
  EXPECT_EQ(FormatPersonName("Friends (GROUP)", false), "Friends (GROUP)");
}
