#pragma once
// A contact card that arrived by mail: when its address is not among the contacts yet, the user
// is asked whether to add it ("Would you like to add %1 to Contacts?").
#include "contacts/address_map.h"
#include "contacts/vcard.h"

#include <optional>
#include <string>

namespace px::desk {

// The name the question shows: the card's formatted name, else its organisation, else its
// address.
std::string CardShownName(const contacts::AddrRec& card);

// The question to ask, or nullopt when there is nothing to add (no address, or the address is
// a contact's already).
std::optional<std::string> CardQuestion(const contacts::AddrRec& card, const contacts::AddressMap& contacts);

}  // namespace px::desk
