// LDIF address books become vCard cards: Base64 and folded values, aliases of the attributes,
// groups and empty entries left out and counted.
#include <gtest/gtest.h>

#include "import/ldif.h"

namespace px::import {
namespace {

TEST(Ldif, PeopleBecomeCardsAndGroupsAreCounted) {
  const std::string ldif =
      "dn: cn=Ann Example,mail=ann@example.org\r\n"
      "objectclass: top\r\n"
      "objectclass: person\r\n"
      "givenName: Ann\r\n"
      "sn: Example\r\n"
      "cn: Ann Example\r\n"
      "mail: ann@example.org\r\n"
      "mozillaSecondEmail: ann@home.example\r\n"
      "o: Example; Ltd\r\n"
      "telephoneNumber: +1 555 0100\r\n"
      "mobile: +1 555 0101\r\n"
      "l: Springfield\r\n"
      "description:: TGluZSBvbmUKTGluZSB0\r\n"
      " d28=\r\n"
      "\r\n"
      "dn: cn=Friends\n"
      "objectclass: groupOfNames\n"
      "cn: Friends\n"
      "member: cn=Ann Example,mail=ann@example.org\n"
      "\n"
      "dn: cn=\n"
      "objectclass: person\n"
      "\n"
      "# a comment\n"
      "dn: mail=bob@example.org\n"
      "mail: bob@example.org\n"
      "photo:< file:///etc/passwd\n";  // no empty line at the end
  LdifResult r = LdifToVCards(ldif);
  EXPECT_EQ(r.people, 2);
  EXPECT_EQ(r.groups, 1);
  EXPECT_EQ(r.empty, 1);
  EXPECT_NE(r.cards.find("N:Example;Ann;;;\r\nFN:Ann Example\r\nORG:Example\\; Ltd\r\n"), std::string::npos) << r.cards;
  EXPECT_NE(r.cards.find("EMAIL;TYPE=INTERNET,PREF:ann@example.org\r\nEMAIL;TYPE=INTERNET:ann@home.example\r\n"),
            std::string::npos);
  EXPECT_NE(r.cards.find("TEL;TYPE=CELL:+1 555 0101\r\n"), std::string::npos);
  EXPECT_NE(r.cards.find("ADR;TYPE=WORK:;;;Springfield;;;\r\n"), std::string::npos);
  EXPECT_NE(r.cards.find("NOTE:Line one\\nLine two\r\n"), std::string::npos) << r.cards;
  EXPECT_NE(r.cards.find("FN:bob@example.org\r\n"), std::string::npos);
  EXPECT_EQ(r.cards.find("passwd"), std::string::npos);
}

}  // namespace
}  // namespace px::import
