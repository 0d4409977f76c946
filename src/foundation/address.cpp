#include "foundation/address.h"

#include <set>

#include "foundation/strings.h"
#include "foundation/text_case.h"

namespace px {
namespace {

bool isBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

bool endsWithGroupSuffix(std::string_view t) {
  return t.size() >= kGroupSuffix.size() &&
         SameText(t.substr(t.size() - kGroupSuffix.size()), kGroupSuffix);
}

// Number of UTF-8 characters (continuation bytes not counted).
size_t charCount(std::string_view s) {
  size_t n = 0;
  for (char c : s)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

// Position after a leading quoted part ("..."), or 0 when t does not begin with a quote.
size_t afterQuoted(std::string_view t) {
  if (t.empty() || t[0] != '"') return 0;
  size_t q = t.find('"', 1);
  return q == std::string_view::npos ? t.size() : q + 1;
}

constexpr size_t kMaxGroupDepth = 8;

void expandInto(const std::string& element, const std::set<std::string>& excluded,
                const GroupMembersFn& membersOf, std::set<std::string>& seenAddresses,
                std::set<std::string>& openGroups, size_t depth, StringList& out) {
  std::string name = FoldCase(DisplayNameOf(element));
  // A group that contains itself (directly or not) is expanded once.
  if (depth > kMaxGroupDepth || !openGroups.insert(name).second) return;
  for (const std::string& member : membersOf(DisplayNameOf(element))) {
    if (IsGroupAddress(member)) {
      expandInto(Trim(member), excluded, membersOf, seenAddresses, openGroups, depth + 1, out);
      continue;
    }
    std::string bare = FoldCase(BareAddressOf(member));
    if (bare.empty()) continue;
    if (excluded.count(bare) || !seenAddresses.insert(bare).second) continue;
    out.push_back(Trim(member));
  }
}

}  // namespace

StringList ParseAddressList(std::string_view text) {
  StringList out;
  const size_t n = text.size();
  size_t a = 0;
  while (a < n && isBlank(text[a])) ++a;
  while (a < n) {
    std::string element;
    if (text[a] == '"') {
      // The quoted part is kept whole: separators inside it do not split.
      size_t q = text.find('"', a + 1);
      size_t end = (q == std::string_view::npos) ? n : q + 1;
      element.assign(text.substr(a, end - a));
      a = end;
      if (a < n && text[a] == ' ') {
        element += ' ';
        ++a;
      }
      while (a < n && isBlank(text[a])) ++a;
    }
    size_t sep = text.find_first_of(",;", a);
    if (sep == std::string_view::npos) sep = n;
    element.append(text.substr(a, sep - a));
    element = Trim(element);
    if (!element.empty()) {
      if (element.back() == '.' && element.find(',') == std::string::npos) {
        element.pop_back();
        element = TrimRight(element);
        if (!element.empty()) element += kGroupSuffix;  // a lone "." names no group
      }
      if (!element.empty()) out.push_back(std::move(element));
    }
    a = sep + 1;
    while (a < n && isBlank(text[a])) ++a;
  }
  return out;
}

bool IsGroupAddress(std::string_view s) {
  std::string t = Trim(s);
  if (t.empty()) return false;
  if (t.back() == '.' && t.find(',') == std::string::npos) return true;
  return endsWithGroupSuffix(t);
}

bool IsAddressList(std::string_view s) {
  bool quoted = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      // An unpaired quote does not hide the rest.
      if (!quoted && s.find('"', i + 1) == std::string_view::npos) continue;
      quoted = !quoted;
    } else if (!quoted && (c == ',' || c == ';')) {
      return true;
    }
  }
  return false;
}

std::string DisplayNameOf(std::string_view element) {
  std::string t = Trim(element);
  if (t.empty()) return t;
  if (endsWithGroupSuffix(t)) return Trim(std::string_view(t).substr(0, t.size() - kGroupSuffix.size()));
  if (t.back() == '.' && t.find(',') == std::string::npos) return Trim(std::string_view(t).substr(0, t.size() - 1));
  if (t[0] == '"') {
    size_t q = t.find('"', 1);
    return Trim(std::string_view(t).substr(1, (q == std::string::npos ? t.size() : q) - 1));
  }
  if (t[0] == '<') {
    size_t g = t.find('>');
    return Trim(std::string_view(t).substr(1, (g == std::string::npos ? t.size() : g) - 1));
  }
  size_t lt = t.find('<');
  if (lt != std::string::npos) return Trim(std::string_view(t).substr(0, lt));
  return t;
}

std::string BareAddressOf(std::string_view element) {
  std::string t = Trim(element);
  if (t.empty() || IsGroupAddress(t)) return t;
  // A "<" inside the quoted name is part of the name, not the address.
  size_t lt = t.find('<', afterQuoted(t));
  if (lt != std::string::npos) {
    size_t gt = t.find('>', lt + 1);
    t = Trim(std::string_view(t).substr(lt + 1, (gt == std::string::npos ? t.size() : gt) - lt - 1));
  }
  return StripServiceDomain(t);
}

std::string StripServiceDomain(std::string_view address) {
  const size_t dl = kServiceMailDomain.size();
  if (address.size() > dl + 1 && address[address.size() - dl - 1] == '@' &&
      SameText(address.substr(address.size() - dl), kServiceMailDomain))
    return std::string(address.substr(0, address.size() - dl - 1));
  return std::string(address);
}

std::string AddServiceDomain(std::string_view address) {
  std::string r(address);
  if (!r.empty() && r.find('@') == std::string::npos) r.append(1, '@').append(kServiceMailDomain);
  return r;
}

bool AddressInList(std::string_view listText, std::string_view address) {
  std::string want = FoldCase(BareAddressOf(address));
  if (want.empty()) return false;
  for (const std::string& e : ParseAddressList(listText))
    if (FoldCase(BareAddressOf(e)) == want) return true;
  return false;
}

std::string FormatAddressElement(std::string_view displayName, std::string_view address) {
  std::string name = Trim(displayName);
  std::string addr = Trim(address);
  if (name.empty()) return addr;
  // A quote inside the name would end the quoted part early.
  for (char& c : name)
    if (c == '"') c = '\'';
  if (addr.empty()) return "\"" + name + "\"";
  return "\"" + name + "\" <" + addr + ">";
}

std::string JoinAddressList(const StringList& elements) {
  std::string r;
  for (const std::string& e : elements) {
    if (e.empty()) continue;
    if (!r.empty()) r += ", ";
    r += e;
  }
  return r;
}

std::string ExpandGroups(std::string_view listText, std::string_view exclude,
                         const GroupMembersFn& membersOf) {
  StringList elements = ParseAddressList(listText);
  std::set<std::string> seen;
  for (const std::string& e : elements)
    if (!IsGroupAddress(e)) seen.insert(FoldCase(BareAddressOf(e)));
  std::set<std::string> excluded;
  for (const std::string& ex : SplitCommaList(exclude))
    if (!ex.empty()) excluded.insert(FoldCase(BareAddressOf(ex)));
  StringList out;
  for (const std::string& e : elements) {
    if (!IsGroupAddress(e) || !membersOf) {
      out.push_back(e);
      continue;
    }
    std::set<std::string> openGroups;
    expandInto(e, excluded, membersOf, seen, openGroups, 0, out);
  }
  return JoinAddressList(out);
}

PersonName SplitPersonName(std::string_view full) {
  PersonName r;
  std::string t = Trim(full);
  if (t.empty()) return r;
  size_t comma = t.find(',');
  if (comma != std::string::npos) {
    r.last = Trim(std::string_view(t).substr(0, comma));
    r.first = Trim(std::string_view(t).substr(comma + 1));
    return r;
  }
  auto nextWord = [&](size_t& pos) {
    while (pos < t.size() && isBlank(t[pos])) ++pos;
    size_t b = pos;
    while (pos < t.size() && !isBlank(t[pos])) ++pos;
    return std::string_view(t).substr(b, pos - b);
  };
  size_t pos = 0;
  r.first = std::string(nextWord(pos));
  size_t afterFirst = pos;
  std::string_view second = nextWord(pos);
  if (!second.empty() && (charCount(second) == 1 || second.back() == '.')) {
    r.first += ' ';
    r.first += second;
  } else {
    pos = afterFirst;
  }
  r.last = Trim(std::string_view(t).substr(pos));
  return r;
}

std::string JoinPersonName(std::string_view first, std::string_view last, bool firstFirst) {
  std::string f = Trim(first), l = Trim(last);
  if (firstFirst) return Trim(f + " " + l);
  if (!f.empty() && !l.empty()) return l + ", " + f;
  return f.empty() ? l : f;
}

std::string FormatPersonName(std::string_view element, bool firstFirst) {
  if (IsGroupAddress(element)) return std::string(element);
  PersonName p = SplitPersonName(element);
  return JoinPersonName(p.first, p.last, firstFirst);
}

}  // namespace px
