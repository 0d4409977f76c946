#pragma once
// A contact's details as the information pop-up shows them.
#include <string>
#include <vector>

#include "contacts/vcard.h"

namespace px::contacts {

// The lines of the summary, each ended by separator except the last: name, e-mail addresses,
// organisation, position, the shown postal address, the shown phones and the notes. A contact
// with nothing beyond its name and addresses reads as "name" <address>.
std::string ContactSummary(const AddrRec& rec, char separator, bool firstNameFirst);
// Numbers of the card's further TEL lines, those beyond the record's twelve phones (a second
// phone without a type), kept among its extra lines; views show them as "Other".
std::vector<std::string> KeptPhoneNumbers(const AddrRec& rec);

// The same from the card file; "" when it cannot be read.
std::string ContactSummaryOf(const std::string& cardPath, char separator, bool firstNameFirst);

}  // namespace px::contacts
