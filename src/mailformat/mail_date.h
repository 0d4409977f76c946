#pragma once
// Dates found in mail headers and part descriptors.
#include <string_view>

#include "foundation/types.h"

namespace px::mailformat {

// A mail date ("Tue, 4 Mar 2003 10:00:00 +0100", also the tail of a Received header after its
// ";") as UTC; 0 when the text yields no date. Tolerant: a comment in parentheses at the end is
// dropped, an unknown zone counts as UTC, a month name that is not known counts as January.
DateTime ParseMailDate(std::string_view text);

// "_AOL Date:" form: month "/" day "/" year, a blank, hour ":" minute ":" second, a blank and a
// marker whose first letter is "P" (any case) for the afternoon; 0 when any piece is missing.
DateTime ParseAolDate(std::string_view text);

// A UTC date-time as local time (0 stays 0).
DateTime UtcToLocal(DateTime utc);

}  // namespace px::mailformat
