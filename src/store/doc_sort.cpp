#include "store/doc_sort.h"

#include "foundation/address.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <string>
#include <unordered_map>

namespace px::store {

namespace {

// One record's prepared key. Fields compare in declaration order; unused ones stay equal.
struct Key {
  uint8_t cls = 1;       // 0 sorts before, 2 after the ordinary documents
  int64_t num1 = 0;
  std::string text1;     // folded
  int64_t num2 = 0;
  std::string text2;     // folded
  uint32_t folder = 0;   // rank of the folded folder path
  std::string tail;      // folded; contacts view: the row key
  const std::string* msgId = nullptr;  // tie-break for bundles (ascending in both directions)
  size_t index = 0;
};

int64_t DateSeconds(DateTime d) {
  // Whole seconds, as the "yyyymmddhhnnss" form keeps them; half a millisecond absorbs the
  // rounding of the day fraction.
  return static_cast<int64_t>(std::floor(d * 86400.0 + 0.0005));
}

int CompareMain(const Key& a, const Key& b) {
  if (a.cls != b.cls) return a.cls < b.cls ? -1 : 1;
  if (a.num1 != b.num1) return a.num1 < b.num1 ? -1 : 1;
  if (int c = a.text1.compare(b.text1)) return c;
  if (a.num2 != b.num2) return a.num2 < b.num2 ? -1 : 1;
  if (int c = a.text2.compare(b.text2)) return c;
  if (a.folder != b.folder) return a.folder < b.folder ? -1 : 1;
  return a.tail.compare(b.tail);
}

std::string FormattedContact(const DocRecord& r, bool firstFirst) {
  return FoldCase(FormatPersonName(r.title, firstFirst) + r.address);
}

}  // namespace

int NormalizeSorting(int sorting) {
  if (sorting == 0 || sorting < -7 || sorting > 7) return -1;
  return sorting;
}

bool SortsAsContact(const DocRecord& rec) { return IsContactExt(rec.ext) && !IsMailFlags(rec.flags); }

std::vector<size_t> SortOrder(const DocRows& rows, const SortOptions& options, size_t first) {
  const int sorting = NormalizeSorting(options.sorting);
  const int code = sorting < 0 ? -sorting : sorting;
  const bool descending = sorting < 0;
  const size_t n = rows.size() > first ? rows.size() - first : 0;

  // Folder ranks: fold each distinct folder once.
  std::unordered_map<std::string, uint32_t> folderRank;
  {
    std::vector<std::pair<std::string, std::string>> folders;  // folded, raw
    std::unordered_map<std::string, bool> seen;
    for (size_t i = first; i < rows.size(); ++i)
      if (seen.emplace(rows[i].folder, true).second) folders.emplace_back(FoldCase(rows[i].folder), rows[i].folder);
    std::sort(folders.begin(), folders.end());
    uint32_t rank = 0;
    for (size_t i = 0; i < folders.size(); ++i) {
      if (i > 0 && folders[i].first != folders[i - 1].first) ++rank;
      folderRank.emplace(folders[i].second, rank);
    }
  }

  std::vector<Key> keys(n);
  const std::string* lastFolder = nullptr;
  uint32_t lastRank = 0;
  for (size_t k = 0; k < n; ++k) {
    const DocRecord& r = rows[first + k];
    Key& key = keys[k];
    key.index = first + k;
    key.msgId = &r.msgId;
    if (!lastFolder || *lastFolder != r.folder) {
      lastFolder = &r.folder;
      lastRank = folderRank[r.folder];
    }
    key.folder = lastRank;
    const bool apart = !options.contactsTab && SortsAsContact(r);
    switch (code) {
      case 1:
        if (apart) {
          key.cls = 0;
          key.text1 = FormattedContact(r, options.firstNameFirst);
          key.folder = 0;
        } else {
          key.num1 = DateSeconds(r.date);
        }
        break;
      case 2:
        if (options.contactsTab) {
          key.text1 = FoldCase(r.shownAddress);
          key.folder = 0;
        } else if (apart) {
          key.cls = 2;
          key.text1 = FormattedContact(r, options.firstNameFirst);
          key.folder = 0;
        } else {
          key.text1 = FoldCase(r.shownAddress);
          key.num2 = DateSeconds(r.date);
        }
        break;
      case 3:
        if (apart) {
          key.cls = 2;
          key.text1 = FormattedContact(r, options.firstNameFirst);
          key.folder = 0;
        } else {
          key.text1 = FoldCase(r.ext);
          key.text2 = FoldCase(r.title);
        }
        break;
      case 4:
        if (options.contactsTab && r.ext != std::string(1, kGroupMarkerExt) && IsContactExt(r.ext)) {
          key.text1 = FoldCase(FormatPersonName(r.title, options.firstNameFirst));
          key.tail = FoldCase(r.msgId);
        } else if (apart) {
          key.cls = 2;
          key.text1 = FormattedContact(r, options.firstNameFirst);
          key.folder = 0;
        } else {
          key.text1 = FoldCase(r.title);
        }
        break;
      case 5:
        if (apart) {
          key.cls = 2;
          key.text1 = FormattedContact(r, options.firstNameFirst);
          key.folder = 0;
        } else {
          key.num1 = ColourOfFlags(r.flags);
          key.text1 = FoldCase(r.title);
        }
        break;
      case 6:
        if (apart) {
          key.cls = 2;
          key.text1 = FormattedContact(r, options.firstNameFirst);
          key.folder = 0;
        } else {
          key.num1 = (r.flags >> 12) & 3;
          key.num2 = DateSeconds(r.date);
        }
        break;
      default:  // 7: size; contacts have size 0 and sort with empty files
        key.num1 = apart ? 0 : static_cast<int64_t>(std::min<uint64_t>(r.size, INT64_MAX));
        break;
    }
  }

  const bool msgTieBreak = code == 1 || code == 2 || code == 6;
  std::stable_sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
    int c = CompareMain(a, b);
    if (c != 0) return descending ? c > 0 : c < 0;
    if (msgTieBreak) return a.msgId->compare(*b.msgId) < 0;  // machine-made ids
    return false;
  });

  std::vector<size_t> order(n);
  for (size_t k = 0; k < n; ++k) order[k] = keys[k].index;
  return order;
}

void SortDocRecords(DocRows& rows, const SortOptions& options, size_t first) {
  std::vector<size_t> order = SortOrder(rows, options, first);
  // Apply the permutation in place by following its cycles: no second copy of the rows.
  // order[k] is the current index of the record that belongs at first + k.
  const size_t n = order.size();
  std::vector<bool> done(n, false);
  for (size_t start = 0; start < n; ++start) {
    if (done[start] || order[start] == first + start) {
      done[start] = true;
      continue;
    }
    DocRecord held = std::move(rows[first + start]);
    size_t k = start;
    while (true) {
      done[k] = true;
      size_t from = order[k] - first;
      if (from == start) {
        rows[first + k] = std::move(held);
        break;
      }
      rows[first + k] = std::move(rows[first + from]);
      k = from;
    }
  }
}

}  // namespace px::store
