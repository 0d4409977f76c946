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
#include <unordered_set>

namespace px::store {

namespace {

// A span of folded text in the key arena.
struct Text {
  uint32_t off = 0;
  uint32_t len = 0;
};

// One record's prepared key. Fields compare in declaration order; unused ones stay equal.
struct Key {
  uint8_t cls = 1;      // 0 sorts before, 2 after the ordinary documents
  uint32_t folder = 0;  // rank of the folded folder path
  uint32_t index = 0;   // the record
  int64_t num1 = 0;
  int64_t num2 = 0;
  Text text1;
  Text text2;
  Text tail;            // contacts view: the row key
};

// All folded key texts of one sort, in one buffer.
class Arena {
public:
  Text Add(std::string_view s) {
    Text t{static_cast<uint32_t>(buf_.size()), 0};
    bool ascii = true;
    for (char c : s)
      if (static_cast<unsigned char>(c) >= 0x80) {
        ascii = false;
        break;
      }
    if (ascii) {
      for (char c : s) buf_ += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    } else {
      buf_ += FoldCase(s);
    }
    t.len = static_cast<uint32_t>(buf_.size() - t.off);
    return t;
  }
  // Titles sort naturally ("bulk 99" before "bulk 149"): each run of digits is stored as "0",
  // a byte for its length without leading zeros, then those digits, so plain byte order of the
  // key is the natural order (a digit still sorts where "0" does among other characters).
  Text AddNatural(std::string_view s) {
    const Text folded = Add(s);
    std::string tmp(View(folded));
    buf_.resize(folded.off);
    Text t{static_cast<uint32_t>(buf_.size()), 0};
    for (size_t i = 0; i < tmp.size();) {
      if (tmp[i] < '0' || tmp[i] > '9') {
        buf_ += tmp[i++];
        continue;
      }
      size_t end = i;
      while (end < tmp.size() && tmp[end] >= '0' && tmp[end] <= '9') ++end;
      size_t lead = i;
      while (lead + 1 < end && tmp[lead] == '0') ++lead;
      const size_t digits = std::min<size_t>(end - lead, 200);
      buf_ += '0';
      buf_ += static_cast<char>('0' + digits);
      buf_.append(tmp, lead, digits);
      i = end;
    }
    t.len = static_cast<uint32_t>(buf_.size() - t.off);
    return t;
  }
  std::string_view View(Text t) const { return std::string_view(buf_).substr(t.off, t.len); }
  void Reserve(size_t n) { buf_.reserve(n); }

private:
  std::string buf_;
};

int64_t DateSeconds(DateTime d) {
  // Whole seconds, as the "yyyymmddhhnnss" form keeps them; half a millisecond absorbs the
  // rounding of the day fraction.
  return static_cast<int64_t>(std::floor(d * 86400.0 + 0.0005));
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
    std::unordered_set<std::string_view> seen;
    const std::string* last = nullptr;
    for (size_t i = first; i < rows.size(); ++i) {
      if (last && *last == rows[i].folder) continue;
      last = &rows[i].folder;
      if (seen.insert(rows[i].folder).second) folders.emplace_back(FoldCase(rows[i].folder), rows[i].folder);
    }
    std::sort(folders.begin(), folders.end());
    uint32_t rank = 0;
    for (size_t i = 0; i < folders.size(); ++i) {
      if (i > 0 && folders[i].first != folders[i - 1].first) ++rank;
      folderRank.emplace(folders[i].second, rank);
    }
  }

  Arena arena;
  std::vector<Key> keys(n);
  const std::string* lastFolder = nullptr;
  uint32_t lastRank = 0;
  auto contactText = [&](const DocRecord& r) {
    return arena.Add(FormatPersonName(r.title, options.firstNameFirst) + r.address);
  };
  for (size_t k = 0; k < n; ++k) {
    const DocRecord& r = rows[first + k];
    Key& key = keys[k];
    key.index = static_cast<uint32_t>(first + k);
    if (!lastFolder || *lastFolder != r.folder) {
      lastFolder = &r.folder;
      lastRank = folderRank[r.folder];
    }
    key.folder = lastRank;
    const bool apart = !options.contactsTab && SortsAsContact(r);
    if (apart && code != 7) {
      // "0000" + name + address before every date; 0xFE + name + address after everything.
      key.cls = code == 1 ? 0 : 2;
      key.text1 = contactText(r);
      key.folder = 0;
      continue;
    }
    switch (code) {
      case 1:
        key.num1 = DateSeconds(r.date);
        break;
      case 2:
        key.text1 = arena.Add(r.shownAddress);
        if (options.contactsTab)
          key.folder = 0;
        else
          key.num2 = DateSeconds(r.date);
        break;
      case 3:
        key.text1 = arena.Add(r.ext);
        key.text2 = arena.AddNatural(r.title);
        break;
      case 4:
        if (options.contactsTab && IsContactExt(r.ext) && r.ext != std::string_view(&kGroupMarkerExt, 1)) {
          key.text1 = arena.AddNatural(FormatPersonName(r.title, options.firstNameFirst));
          key.tail = arena.Add(r.msgId);
        } else {
          key.text1 = arena.AddNatural(r.title);
        }
        break;
      case 5:
        key.num1 = ColourOfFlags(r.flags);
        key.text1 = arena.AddNatural(r.title);
        break;
      case 6:
        key.num1 = (r.flags >> 12) & 3;
        key.num2 = DateSeconds(r.date);
        break;
      default:  // 7: size; contacts have size 0 and sort with empty files
        key.num1 = apart ? 0 : static_cast<int64_t>(std::min<uint64_t>(r.size, INT64_MAX));
        break;
    }
  }

  auto compareText = [&](Text a, Text b) -> int {
    if ((a.len | b.len) == 0) return 0;  // the usual case for unused fields
    return arena.View(a).compare(arena.View(b));
  };
  auto compareMain = [&](const Key& a, const Key& b) -> int {
    if (a.cls != b.cls) return a.cls < b.cls ? -1 : 1;
    if (a.num1 != b.num1) return a.num1 < b.num1 ? -1 : 1;
    if (int c = compareText(a.text1, b.text1)) return c;
    if (a.num2 != b.num2) return a.num2 < b.num2 ? -1 : 1;
    if (int c = compareText(a.text2, b.text2)) return c;
    if (a.folder != b.folder) return a.folder < b.folder ? -1 : 1;
    return compareText(a.tail, b.tail);
  };
  const bool msgTieBreak = code == 1 || code == 2 || code == 6;
  // The full order of two keys, ties last (the caller breaks them by position: a stable sort).
  auto before = [&](const Key& a, const Key& b) -> int {
    int c = compareMain(a, b);
    if (c != 0) return descending ? -c : c;
    // Bundle parts keep their order in both directions; ids are machine-made.
    if (msgTieBreak) return rows[a.index].msgId.compare(rows[b.index].msgId);
    return 0;
  };

  // Small items are sorted rather than the keys: each carries a 64-bit head that orders as
  // the key's leading fields (class, then the first number or the first text's first bytes),
  // so most comparisons look at the head alone.
  struct Item {
    uint64_t head;
    uint32_t key;
  };
  const bool textFirst = code == 2 || code == 3 || code == 4;
  std::vector<Item> items(n);
  for (size_t k = 0; k < n; ++k) {
    const Key& key = keys[k];
    uint64_t rest;
    if (textFirst) {  // these codes leave the first number unused
      const std::string_view t = arena.View(key.text1);
      uint64_t prefix = 0;
      for (size_t b = 0; b < 8; ++b) prefix = prefix << 8 | (b < t.size() ? static_cast<unsigned char>(t[b]) : 0u);
      rest = prefix >> 2;
    } else {
      // num1 + 2^61, clamped to 62 bits: order-preserving, equal only near the limits.
      constexpr int64_t kLimit = int64_t(1) << 61;
      const int64_t v = std::clamp<int64_t>(key.num1, -kLimit, kLimit - 1);
      rest = static_cast<uint64_t>(v + kLimit);
    }
    uint64_t head = static_cast<uint64_t>(key.cls) << 62 | rest;
    items[k] = {descending ? ~head : head, static_cast<uint32_t>(k)};
  }
  std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
    if (a.head != b.head) return a.head < b.head;
    if (int c = before(keys[a.key], keys[b.key])) return c < 0;
    return a.key < b.key;
  });

  std::vector<size_t> order(n);
  for (size_t k = 0; k < n; ++k) order[k] = keys[items[k].key].index;
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
