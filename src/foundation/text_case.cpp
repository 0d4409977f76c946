#include "foundation/text_case.h"

#include <unicode/ucasemap.h>
#include <unicode/utypes.h>

#include <algorithm>
#include <memory>

namespace px {
namespace {

bool isAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }
char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

struct CaseMapDeleter {
  void operator()(UCaseMap* m) const { ucasemap_close(m); }
};

UCaseMap* caseMap() {
  // One per thread: UCaseMap is not thread-safe and the background search compares too.
  thread_local std::unique_ptr<UCaseMap, CaseMapDeleter> map = [] {
    UErrorCode err = U_ZERO_ERROR;
    return std::unique_ptr<UCaseMap, CaseMapDeleter>(ucasemap_open("", U_FOLD_CASE_DEFAULT, &err));
  }();
  return map.get();
}

using MapFn = int32_t (*)(const UCaseMap*, char*, int32_t, const char*, int32_t, UErrorCode*);

std::string icuMap(std::string_view s, MapFn fn) {
  UCaseMap* map = caseMap();
  if (!map) return std::string(s);
  std::string out(s.size() + 16, '\0');
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = fn(map, out.data(), int32_t(out.size()), s.data(), int32_t(s.size()), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(size_t(n), '\0');
    err = U_ZERO_ERROR;
    n = fn(map, out.data(), int32_t(out.size()), s.data(), int32_t(s.size()), &err);
  }
  if (U_FAILURE(err)) return std::string(s);
  out.resize(size_t(n));
  return out;
}

}  // namespace

std::string AsciiLower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = lowerAscii(c);
  return r;
}

std::string AsciiUpper(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = upperAscii(c);
  return r;
}

std::string FoldCase(std::string_view s) {
  if (isAscii(s)) return AsciiLower(s);
  return icuMap(s, ucasemap_utf8FoldCase);
}

std::string UpperCase(std::string_view s) {
  if (isAscii(s)) return AsciiUpper(s);
  return icuMap(s, ucasemap_utf8ToUpper);
}

std::string LowerCase(std::string_view s) {
  if (isAscii(s)) return AsciiLower(s);
  return icuMap(s, ucasemap_utf8ToLower);
}

int CompareText(std::string_view a, std::string_view b) {
  if (isAscii(a) && isAscii(b)) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
      unsigned char x = static_cast<unsigned char>(lowerAscii(a[i]));
      unsigned char y = static_cast<unsigned char>(lowerAscii(b[i]));
      if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
  }
  return FoldCase(a).compare(FoldCase(b));
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() == b.size() && isAscii(a) && isAscii(b)) {
    for (size_t i = 0; i < a.size(); ++i)
      if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
  }
  return CompareText(a, b) == 0;
}

}  // namespace px
