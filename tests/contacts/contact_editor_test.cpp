// The contact editor's model: one primary e-mail, the encryption box, addresses and phone rows
// chosen by kind, and what Save hands on.
#include <gtest/gtest.h>

#include "contacts/contact_editor.h"

namespace px::contacts {
namespace {

AddrRec WithEmails(std::string primary, std::string others) {
  AddrRec r;
  r.primaryEmail = std::move(primary);
  r.otherEmails = std::move(others);
  return r;
}

TEST(ContactEditorTest, CheckingAnEntryMakesItThePrimary) {
  ContactEditor e(WithEmails("a@x.org", "b@x.org, c@x.org"), false);
  EXPECT_EQ(e.Emails(), (std::vector<std::string>{"a@x.org", "b@x.org", "c@x.org"}));
  EXPECT_EQ(e.CheckedEmail(), 0);
  e.CheckEmail(1);
  EXPECT_EQ(e.PrimaryEmail(), "b@x.org");
  EXPECT_EQ(e.Record().otherEmails, "a@x.org, c@x.org");
}

TEST(ContactEditorTest, RemovingThePrimaryMakesTheFirstRemainingThePrimary) {
  ContactEditor e(WithEmails("a@x.org", "b@x.org, c@x.org"), false);
  e.CheckEmail(2);
  e.RemoveEmail(2);
  EXPECT_EQ(e.PrimaryEmail(), "a@x.org");
  EXPECT_EQ(e.Record().otherEmails, "b@x.org");
  e.RemoveEmail(0);
  e.RemoveEmail(0);
  EXPECT_EQ(e.CheckedEmail(), -1);
  EXPECT_EQ(e.PrimaryEmail(), "");
  EXPECT_FALSE(e.AddEmail("   "));
  EXPECT_TRUE(e.AddEmail("  d@x.org "));
  EXPECT_EQ(e.PrimaryEmail(), "d@x.org");
  EXPECT_TRUE(e.ReplaceEmail(0, "e@x.org"));
  EXPECT_EQ(e.PrimaryEmail(), "e@x.org");
}

TEST(ContactEditorTest, EncryptionBoxOnlyForServiceUsersWithTheSoftware) {
  struct Case {
    const char* primary;
    bool software, visible;
  } cases[] = {
      {"alice", true, true},
      {"alice@plumadex.net", true, true},
      {"alice@example.org", true, false},
      {"alice", false, false},
      {"", true, false},
  };
  for (const Case& c : cases) {
    AddrRec r = WithEmails(c.primary, "");
    r.encrypt = true;
    ContactEditor e(r, c.software);
    EXPECT_EQ(e.EncryptionVisible(), c.visible) << c.primary;
    EXPECT_EQ(e.Saved().encrypt, c.visible) << c.primary;
  }
}

TEST(ContactEditorTest, SwitchingAddressTypeAndPhoneKindLosesNothing) {
  ContactEditor e(AddrRec{}, false);
  e.ShownAddress().street1 = "Main St 1";
  e.SetAddressType(1);
  EXPECT_EQ(e.ShownAddress().street1, "");
  e.ShownAddress().street1 = "Home Lane";
  e.SetAddressType(0);
  EXPECT_EQ(e.ShownAddress().street1, "Main St 1");
  e.SetAddressType(7);
  EXPECT_EQ(e.AddressType(), 0);

  EXPECT_EQ(e.PhoneKindOfRow(2), pkBusinessFax);
  e.PhoneOfRow(2) = "fax";
  e.SetPhoneKindOfRow(2, pkMobile);
  e.PhoneOfRow(2) = "mobile";
  e.SetPhoneKindOfRow(2, pkBusinessFax);
  EXPECT_EQ(e.PhoneOfRow(2), "fax");
  EXPECT_EQ(e.Record().phones[pkMobile], "mobile");
  EXPECT_EQ(e.Saved().shownPhoneKinds[2], pkBusinessFax);
}

TEST(ContactEditorTest, SaveTrimsBlankLinesAroundTheNotes) {
  AddrRec r;
  r.notes = "\r\n  \r\nfirst\r\n\r\n  second\r\n \r\n";
  EXPECT_EQ(ContactEditor(r, false).Saved().notes, "first\r\n\r\n  second");
  EXPECT_EQ(ContactEditor::StreetForField("a\r\nb"), "a  b");
}

}  // namespace
}  // namespace px::contacts
