#pragma once
// Basic value types shared by every subsystem.
#include <cstdint>
#include <string>
#include <vector>

namespace px {

// A point in time as the stored formats count it: days since 1899-12-30 00:00 local time,
// the fraction being the time of day. 0 means "no date". Sorting and arithmetic on dates
// (a contact row is dated now + 100000 days) work directly on the number.
using DateTime = double;

// Stored and wire text is kept as bytes (UTF-8 for the local code page, or the charset
// named beside it). QString appears only at the edges (display, editing, file names).
using Bytes = std::string;
using StringList = std::vector<std::string>;

}  // namespace px
