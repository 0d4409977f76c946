// The information pop-up's text of a contact.
#include <gtest/gtest.h>

#include "contacts/contact_summary.h"

namespace px::contacts {
namespace {

TEST(ContactSummaryTest, DetailedContactListsItsShownDetails) {
  AddrRec r;
  r.firstName = "Jan";
  r.lastName = "Vries";
  r.primaryEmail = "jan@example.org";
  r.otherEmails = "j2@example.org";
  r.organisation = "Acme";
  r.home.street1 = "Home Lane 2";  // not the shown address type
  r.business.street1 = "Main St 1";
  r.business.city = "Utrecht";
  r.business.state = "UT";
  r.business.postalCode = "3511";
  r.phones[pkMobile] = "+31 6 1234";
  r.phones[pkCar] = "car";  // not a shown kind: it takes the first row without a number
  r.notes = "Tea\r\nNo sugar\r\n";
  EXPECT_EQ(ContactSummary(r, '|', true),
            "Name: Jan Vries|E-mail:|   jan@example.org|   j2@example.org|Organization: Acme|"
            "Address (Business):|    Main St 1|    Utrecht|    UT 3511|Phone numbers:|    Car: car|"
            "    Mobile: +31 6 1234|Notes: |    Tea|    No sugar");
  // With every row holding a number of its own, a further number is not among the shown ones.
  AddrRec full = r;
  for (int k : {pkPrimary, pkBusiness, pkBusinessFax, pkHome}) full.phones[k] = std::to_string(k);
  EXPECT_EQ(ContactSummary(full, '|', true).find("Car: car"), std::string::npos);
  r.shownAddressType = 1;
  EXPECT_NE(ContactSummary(r, '\n', false).find("Name: Vries, Jan\nE-mail:"), std::string::npos);
  EXPECT_NE(ContactSummary(r, '\n', false).find("Address (Home):\n    Home Lane 2\n"), std::string::npos);
}

TEST(ContactSummaryTest, PlainContactReadsAsNameAndAddress) {
  AddrRec r;
  r.firstName = "Jan";
  r.lastName = "Vries";
  r.primaryEmail = "jan";
  EXPECT_EQ(ContactSummary(r, '\n', true), "\"Jan Vries\" <jan>");
  AddrRec none;
  none.primaryEmail = "x@example.org";
  EXPECT_EQ(ContactSummary(none, '\n', true), "\"\" <x@example.org>");
  EXPECT_EQ(ContactSummaryOf("/nonexistent/card.vcf", '\n', true), "");
}

}  // namespace
}  // namespace px::contacts
