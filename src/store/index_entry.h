#pragma once
// The one reader of an index entry's key=value lines, for the listing, the document operations
// and the command line alike: keys are trimmed and compared without regard to ASCII case, the
// first line of a repeated key wins (as the INI class reads it), and `Flags` is read in every
// form the program accepts.
#include "foundation/types.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace px {
class TPXCustomIni;
}  // namespace px

namespace px::store {

// The flag bits of a `Flags` value: decimal, or hexadecimal after "$" or "0x", with an optional
// sign, blanks around it ignored. Text that does not parse gives 0. Only the low 16 bits are flag
// bits.
int ParseEntryFlags(std::string_view value);

// True when the key part of a line (before its "=") names `key`, without regard to ASCII case
// and to blanks around it.
bool EntryKeyIs(std::string_view lineKey, std::string_view key);

// The value of the first line of `key`, as stored (not trimmed); nothing when no line has it.
std::optional<std::string_view> EntryValue(std::span<const std::string_view> lines, std::string_view key);
std::optional<std::string_view> EntryValue(const StringList& lines, std::string_view key);

// The entry's flags: `def` when it has no `Flags` line.
int EntryFlags(std::span<const std::string_view> lines, int def);
int EntryFlags(const StringList& lines, int def);
// The flags of `section` in an open index, by the same rules.
int ReadEntryFlags(const TPXCustomIni& index, std::string_view section, int def);

}  // namespace px::store
