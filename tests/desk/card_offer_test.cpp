// A contact card received by mail is offered to the contacts only when its address is new.
#include <gtest/gtest.h>

#include "desk/card_offer.h"

namespace px::desk {
namespace {

TEST(CardOffer, AsksOnlyForANewAddressAndNamesTheCardAsBestItCan) {
  contacts::AddressMap map;
  contacts::AddrAliasRec known;
  known.section = "x.vcf";
  known.displayName = "Ann";
  map.Insert("ann@example.org", known);
  contacts::AddrRec card;
  card.firstName = "Bob";
  card.lastName = "Berg";
  card.primaryEmail = "bob@example.org";
  EXPECT_EQ(CardQuestion(card, map), "Would you like to add Bob Berg to Contacts?");
  card.firstName.clear();
  card.lastName.clear();
  card.organisation = "Berg Ltd";
  EXPECT_EQ(CardQuestion(card, map), "Would you like to add Berg Ltd to Contacts?");
  card.organisation.clear();
  EXPECT_EQ(CardQuestion(card, map), "Would you like to add bob@example.org to Contacts?");
  card.primaryEmail = "ANN@example.org";
  EXPECT_EQ(CardQuestion(card, map), std::nullopt);  // a contact's already
  card.primaryEmail = "  ";
  EXPECT_EQ(CardQuestion(card, map), std::nullopt);  // nothing to add
}

}  // namespace
}  // namespace px::desk
