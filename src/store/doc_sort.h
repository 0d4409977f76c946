#pragma once
// The listing order of document records under the grid's sort codes.
//
// Sort codes (negative = descending): 1 date, 2 address, 3 type (extension), 4 name,
// 5 colour, 6 mail kind, 7 size. Text compares without regard to case. On the files view,
// contacts and address groups that are not mail sort apart: before every dated document under
// code 1, by size (0) under code 7, after everything under the other codes. Equal keys under
// codes 1, 2 and 6 keep the parts of a message bundle in msgId order, in either direction.
//
// Each record's key is built once (case folding included); the rows are then ordered by one
// stable sort of the keys and moved into place, so a sort costs O(n log n) comparisons of
// prepared keys and no string is built during comparison.
#include "store/doc_record.h"

#include <cstddef>
#include <vector>

namespace px::store {

struct SortOptions {
  int sorting = -1;            // +-1..7; anything else reads as -1
  bool contactsTab = false;    // the contacts view's keys (codes 2 and 4)
  bool firstNameFirst = true;  // name order used for contact names
};

// A sort code within +-1..7; 0 and out-of-range values read as -1.
int NormalizeSorting(int sorting);

// The order of rows[first..] under the options: a permutation of the indexes first..n-1.
std::vector<size_t> SortOrder(const DocRows& rows, const SortOptions& options, size_t first = 0);
// Sorts rows[first..] in place (stable).
void SortDocRecords(DocRows& rows, const SortOptions& options, size_t first = 0);

// Whether a record sorts apart as a contact on the files view.
bool SortsAsContact(const DocRecord& rec);

}  // namespace px::store
