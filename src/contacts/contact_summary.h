#pragma once
// A contact's details as the information pop-up shows them.
#include <string>

#include "contacts/vcard.h"

namespace px::contacts {

// The lines of the summary, each ended by separator except the last: name, e-mail addresses,
// organisation, position, the shown postal address, the shown phones and the notes. A contact
// with nothing beyond its name and addresses reads as "name" <address>.
std::string ContactSummary(const AddrRec& rec, char separator, bool firstNameFirst);
// The same from the card file; "" when it cannot be read.
std::string ContactSummaryOf(const std::string& cardPath, char separator, bool firstNameFirst);

}  // namespace px::contacts
