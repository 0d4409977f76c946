#pragma once
// Index sections to document records: the keys of an entry and the facts of its file become
// the record the grid shows and the operations start from.
#include "foundation/types.h"
#include "store/doc_record.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace px::store {

// Builds a record from the lines of an index section (key=value; keys without regard to case,
// keys and values trimmed, a later line overriding an earlier one). The file date is replaced
// by `Time` for mail; the shown address is computed with lookup.
DocRecord BuildDocRecord(std::string_view folder, std::string_view name, std::string_view prefix,
                         std::string_view target, uint64_t size, DateTime fileDate,
                         std::span<const std::string_view> lines, const AddressLookup& lookup);
DocRecord BuildDocRecord(std::string_view folder, std::string_view name, std::string_view prefix,
                         std::string_view target, uint64_t size, DateTime fileDate,
                         const StringList& lines, const AddressLookup& lookup);
// The same into a fresh (default) record, for building rows in place.
void FillDocRecord(DocRecord& rec, std::string_view folder, std::string_view name, std::string_view prefix,
                   std::string_view target, uint64_t size, DateTime fileDate,
                   std::span<const std::string_view> lines, const AddressLookup& lookup);

// A contact row from the contacts index's lines: folder = the folder shown, dated now + 100000
// days, size 0; an address group (name ending in ".") gets the group marker extension and the
// shown address "(GROUP)", a contact "vcf" and its address; a title without "," gets one in
// front. furtherAddresses receives the index's `Addresses` (split), when asked for.
DocRecord BuildContactRecord(std::string_view folder, std::string_view prefix, std::string_view name,
                             const StringList& lines, DateTime now,
                             StringList* furtherAddresses = nullptr);

// The two halves of FillDocRecord, for a listing that reads the index before it knows the
// files: the part of a record that comes from its index section (`time` receives the `Time`
// key when there is one; it dates mail), and the part that comes from its file.
void ParseSectionLines(DocRecord& r, std::span<const std::string_view> lines,
                       std::optional<DateTime>& time, const AddressLookup& lookup);
void CompleteWithFile(DocRecord& r, std::string_view folder, std::string_view name,
                      std::string_view prefix, std::string_view target, uint64_t size,
                      DateTime fileDate, const std::optional<DateTime>& time);

}  // namespace px::store
