#include "desk/card_offer.h"

#include "foundation/strings.h"

namespace px::desk {

std::string CardShownName(const contacts::AddrRec& card) {
  std::string name = Trim(card.firstName + " " + card.lastName);
  if (name.empty()) name = Trim(card.organisation);
  if (name.empty()) name = Trim(card.primaryEmail);
  return name;
}

std::optional<std::string> CardQuestion(const contacts::AddrRec& card, const contacts::AddressMap& contacts) {
  const std::string address = Trim(card.primaryEmail);
  if (address.empty() || contacts.FindAddress(address)) return std::nullopt;
  return "Would you like to add " + CardShownName(card) + " to Contacts?";
}

}  // namespace px::desk
