#include "contacts/vcard.h"

#include <QDateTime>

#include <algorithm>

#include "foundation/address.h"
#include "foundation/atomic_file.h"
#include "foundation/charset.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "mailformat/codecs.h"
#include "mailformat/mime_header.h"

namespace px::contacts {

namespace {

constexpr std::string_view kPhoneNames[kPhoneKinds] = {
    "Primary", "Business", "Business 2", "Business Fax", "Home", "Home 2",
    "Home Fax", "Other", "Other Fax", "Mobile", "Car", "Pager"};

// Lines written for each phone kind, in the phone order.
constexpr std::string_view kPhoneLines[kPhoneKinds] = {
    "TEL;PREF", "TEL;WORK;VOICE", "TEL;WORK;VOICE", "TEL;WORK;FAX", "TEL;HOME;VOICE",
    "TEL;HOME;VOICE", "TEL;HOME;FAX", "TEL;VOICE", "TEL;FAX", "TEL;CELL;VOICE",
    "TEL;CAR;VOICE", "TEL;PAGER"};

// Cards beyond these sizes are cut: nobody keeps a contact with this many lines.
constexpr size_t kMaxLogicalLines = 20000;
constexpr size_t kMaxLineBytes = 8u << 20;

std::string CrLfBreaks(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

// 3.0 and 4.0 escapes of a text value.
std::string UnescapeModern(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char n = s[i + 1];
      if (n == 'n' || n == 'N') { out += "\r\n"; ++i; continue; }
      if (n == ',' || n == ';' || n == '\\') { out += n; ++i; continue; }
    }
    out += s[i];
  }
  return out;
}

// The components of a structured value (N, ADR, ORG), split at ";" not led by "\".
std::vector<std::string> SplitComponents(std::string_view s, bool modern) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      char n = s[i + 1];
      // "\," is no escape of 2.1, but writers of 2.1 cards use it in names and addresses too.
      if (n == ';' || n == '\\' || n == ',') { parts.back() += n; ++i; continue; }
      if (modern && (n == 'n' || n == 'N')) { parts.back() += "\r\n"; ++i; continue; }
    }
    if (c == ';') {
      parts.emplace_back();
      continue;
    }
    parts.back() += c;
  }
  return parts;
}

std::string EscapeComponent(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == ';') out += '\\';
    out += c;
  }
  return out;
}

// Quoted-printable on one line: every control byte (CR and LF too), "=" and 8-bit byte escaped,
// no soft line breaks, so the value reads back from this one line.
std::string QPOneLine(std::string_view s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c >= 0x7F || c == '=') {
      out += '=';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

struct Line {
  std::string raw;       // the physical lines, joined with CR LF, as found
  std::string unfolded;  // header and value with continuations joined
  std::string name;      // upper case, group prefix removed
  std::string group;     // "item1" of item1.EMAIL (letters, digits, "-" and "_" only)
  std::vector<std::string> types;  // parameters in the normal form ("WORK", "PREF", ...)
  std::string charset;
  bool qp = false;
  bool base64 = false;
  std::string value;  // the text after the header's ":", still encoded
  bool used = false;
};

bool IsEndLine(std::string_view phys) {
  return SameText(Trim(phys), "END:VCARD");
}

bool IsBeginLine(std::string_view phys) {
  return SameText(Trim(phys), "BEGIN:VCARD");
}

std::string TrimBlanksRight(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(0, e));
}

bool HeaderSaysQP(std::string_view unfolded) {
  size_t colon = unfolded.find(':');
  return UpperCase(unfolded.substr(0, colon)).find("QUOTED-PRINTABLE") != std::string::npos;
}

// Splits text at ";" outside double quotes.
std::vector<std::string> SplitParams(std::string_view s) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (char c : s) {
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted) {
      out.emplace_back();
      continue;
    }
    out.back() += c;
  }
  return out;
}

std::string Unquote(std::string_view s) {
  std::string t = Trim(s);
  if (t.size() >= 2 && t.front() == '"' && t.back() == '"') return t.substr(1, t.size() - 2);
  return t;
}

void ParseHeader(Line& line) {
  const std::string& u = line.unfolded;
  size_t colon = std::string::npos;
  bool quoted = false;
  // Parameter values may be quoted and hold ":" (4.0); an unbalanced quote falls back to the
  // first ":". Lines are parsed alike whatever the card's version, so that a kept line reads
  // the same once it stands in a written 2.1 card.
  for (size_t i = 0; i < u.size(); ++i) {
    if (u[i] == '"') quoted = !quoted;
    if (u[i] == ':' && !quoted) {
      colon = i;
      break;
    }
  }
  if (colon == std::string::npos) colon = u.find(':');
  if (colon == std::string::npos) return;  // not a property: kept as it is
  std::string_view header(u.data(), colon);
  line.value = u.substr(colon + 1);
  std::vector<std::string> params = SplitParams(header);
  std::string name = Trim(params[0]);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) {  // "item1.EMAIL"
    std::string group = name.substr(0, dot);
    bool plain = !group.empty() && group.size() <= 64;
    for (char c : group)
      plain = plain && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                        c == '-' || c == '_');
    if (plain) line.group = group;
    name = name.substr(dot + 1);
  }
  line.name = UpperCase(name);
  for (size_t i = 1; i < params.size(); ++i) {
    std::string p = Trim(params[i]);
    if (p.empty()) continue;
    size_t eq = p.find('=');
    if (eq == std::string::npos) {
      std::string t = UpperCase(p);
      if (t == "QUOTED-PRINTABLE") line.qp = true;
      else if (t == "BASE64" || t == "B") line.base64 = true;
      line.types.push_back(t);
      continue;
    }
    std::string key = UpperCase(Trim(p.substr(0, eq)));
    std::string val = Unquote(p.substr(eq + 1));
    if (key == "TYPE") {
      for (const std::string& t : SplitCommaList(val))
        if (!t.empty()) line.types.push_back(UpperCase(Unquote(t)));
    } else if (key == "PREF") {
      line.types.push_back("PREF");
    } else if (key == "ENCODING") {
      std::string e = UpperCase(val);
      if (e == "QUOTED-PRINTABLE") line.qp = true;
      else if (e == "B" || e == "BASE64") line.base64 = true;
      line.types.push_back(e == "B" ? "BASE64" : e);
    } else if (key == "CHARSET") {
      line.charset = val;
    } else {
      line.types.push_back(key + "=" + UpperCase(val));
    }
  }
}

// The logical lines of text. As a card (asCard): from its BEGIN:VCARD (when it has one) up to
// its END:VCARD.
std::vector<Line> UnfoldLines(std::string_view text, bool asCard, size_t* consumed) {
  std::vector<Line> lines;
  size_t pos = 0;
  bool begun = false;
  // Skip whatever precedes the card.
  if (asCard) {
    size_t p = 0;
    while (p < text.size()) {
      size_t nl = text.find('\n', p);
      size_t end = nl == std::string_view::npos ? text.size() : nl;
      if (IsBeginLine(text.substr(p, end - p))) {
        pos = p;
        begun = true;
        break;
      }
      p = nl == std::string_view::npos ? text.size() : nl + 1;
    }
    if (!begun) pos = 0;
  }
  bool softBreak = false;  // the line before ended a quoted-printable value with "="
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string_view::npos ? text.size() : nl;
    std::string_view phys = text.substr(pos, end - pos);
    if (!phys.empty() && phys.back() == '\r') phys.remove_suffix(1);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;

    bool blank = Trim(phys).empty();
    if (blank) {
      softBreak = false;
      continue;
    }
    if (asCard && IsEndLine(phys)) {
      softBreak = false;
      Line l;
      l.raw = l.unfolded = std::string(phys);
      lines.push_back(std::move(l));
      break;
    }
    Line* cur = lines.empty() ? nullptr : &lines.back();
    if (cur && cur->unfolded.size() < kMaxLineBytes) {
      if (softBreak) {
        std::string t = TrimBlanksRight(cur->unfolded);
        t.pop_back();  // the "="
        cur->unfolded = t + std::string(phys);
        cur->raw += "\r\n";
        cur->raw += phys;
        softBreak = HeaderSaysQP(cur->unfolded) && TrimBlanksRight(phys).ends_with('=');
        continue;
      }
      if (phys[0] == ' ' || phys[0] == '\t') {
        cur->unfolded += phys.substr(1);
        cur->raw += "\r\n";
        cur->raw += phys;
        softBreak = HeaderSaysQP(cur->unfolded) && TrimBlanksRight(phys).ends_with('=');
        continue;
      }
    }
    if (lines.size() >= kMaxLogicalLines) break;
    Line l;
    l.raw = std::string(phys);
    l.unfolded = std::string(phys);
    softBreak = HeaderSaysQP(l.unfolded) && TrimBlanksRight(phys).ends_with('=');
    lines.push_back(std::move(l));
  }
  if (consumed) *consumed = pos;
  return lines;
}

// Properties every written card carries once: older copies of them among the kept lines would
// be read in place of the new ones.
bool WrittenByUs(const Line& l) {
  for (std::string_view n : {"BEGIN", "END", "VERSION", "REV", "X-PLUMADEX"})
    if (l.name == n) return true;
  return false;
}

class CardReader {
public:
  CardReader(std::vector<Line> lines) : lines_(std::move(lines)) {
    for (Line& l : lines_) {
      std::string u = UpperCase(Trim(l.unfolded));
      if (u.starts_with("VERSION:") && (u.find("3.") != std::string::npos ||
                                        u.find("4.") != std::string::npos))
        modern_ = true;
    }
    for (Line& l : lines_) ParseHeader(l);
  }

  bool modern() const { return modern_; }

  // Decoded value of a line: transfer encoding undone, charset made UTF-8, line breaks CR LF.
  // Structured values keep their escapes for SplitComponents.
  std::string Decode(const Line& l, bool structured) const {
    std::string v;
    if (l.base64) v = mailformat::Base64DecodeLine(l.value);
    else if (l.qp) v = mailformat::QPDecodeLine(l.value);
    else v = l.value;
    if (!l.charset.empty() && !SameText(l.charset, "UTF-8") && !SameText(l.charset, "UTF8"))
      v = DecodeFromCharset(v, l.charset);
    if (!mailformat::IsValidUtf8(v)) v = DecodeFromCharset(v, "windows-1252");
    v = CrLfBreaks(v);
    if (modern_ && !structured) v = UnescapeModern(v);
    return v;
  }

  // The first unused line of the property carrying every type of `types`, whose value is not
  // empty; marked used. Empty ones stay where they are (and are written back as they were).
  const Line* Take(std::string_view name, std::initializer_list<std::string_view> types = {},
                   bool structured = false, std::string* value = nullptr) {
    for (Line& l : lines_) {
      if (l.used || l.name != name) continue;
      bool all = true;
      for (std::string_view t : types) {
        bool found = false;
        for (const std::string& have : l.types)
          if (have == t) found = true;
        if (!found) all = false;
      }
      if (!all) continue;
      std::string v = Clean(name, Decode(l, structured));
      // Emptiness is judged the same way for every version, so that a line left here is
      // left again when the written card is read.
      std::string probe;
      if (structured) {
        auto parts = SplitComponents(Decode(l, true), true);
        // The post-office box of an address is not kept: an address of nothing else is empty.
        for (size_t i = name == "ADR" ? 1 : 0; i < parts.size(); ++i) probe += parts[i];
      } else {
        probe = Clean(name, UnescapeModern(Decode(l, true)));
      }
      if (Trim(probe).empty()) continue;
      l.used = true;
      lastGroup_ = l.group;
      if (value) *value = std::move(v);
      return &l;
    }
    return nullptr;
  }

  std::string TakeValue(std::string_view name, std::initializer_list<std::string_view> types = {}) {
    std::string v;
    Take(name, types, false, &v);
    return Trim(v);
  }

  std::string Leftovers() const {
    std::string out;
    for (const Line& l : lines_) {
      // Further copies of the lines every card gets anew are not kept.
      if (l.used || WrittenByUs(l)) continue;
      if (!out.empty()) out += "\r\n";
      out += l.raw;
    }
    return Trim(out);
  }

  std::vector<Line>& lines() { return lines_; }
  // The group of the line taken last.
  const std::string& LastGroup() const { return lastGroup_; }

  static std::string Clean(std::string_view name, std::string v) {
    // URIs of 4.0 cards; every scheme prefix goes, so that the value is stable.
    if (name == "TEL") {
      v = Trim(v);
      while (StartsWithText(v, "tel:")) v = Trim(v.substr(4));
    }
    if (name == "EMAIL") {
      v = Trim(v);
      while (StartsWithText(v, "mailto:")) v = Trim(v.substr(7));
      for (std::string t = Trim(StripServiceDomain(v)); t != v; t = Trim(StripServiceDomain(v)))
        v = t;
    }
    return v;
  }

private:
  std::vector<Line> lines_;
  bool modern_ = false;
  std::string lastGroup_;
};

std::string Component(const std::vector<std::string>& parts, size_t i) {
  return i < parts.size() ? Trim(parts[i]) : std::string();
}

std::string JoinTrimmed(std::string_view a, std::string_view b) {
  std::string s(a);
  s += ' ';
  s += b;
  return Trim(s);
}

// True when the first name begins with the given name as a whole ("Mary Ann" of "Mary Ann
// Lou"): the writer then keeps the given name in one piece.
bool StartsGiven(std::string_view first, std::string_view given) {
  if (given.empty() || !first.starts_with(given)) return false;
  return first.size() == given.size() || first[given.size()] == ' ' || first[given.size()] == '\t';
}

// The text with every run of blanks and control characters as one blank, trimmed: formatted
// names that differ only so say the same.
std::string Squeezed(std::string_view s) {
  std::string out;
  bool blank = false;
  for (char c : s) {
    if (static_cast<unsigned char>(c) <= 0x20) {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

// The formatted name the writer makes when the card gave none of its own.
std::string DerivedFormattedName(const AddrRec& rec) { return Trim(rec.firstName + " " + rec.lastName); }

AddrRec ReadLines(std::vector<Line> lines) {
  CardReader r(std::move(lines));
  AddrRec rec;
  for (std::string_view n : {"BEGIN", "VERSION", "REV", "END"}) r.Take(n);

  std::string v;
  // Whatever the writer would not give back by itself is kept beside the names.
  std::string family, given, additional;
  bool hasN = false;
  if (r.Take("N", {}, true, &v)) {
    auto p = SplitComponents(v, r.modern());
    hasN = true;
    family = Component(p, 0);
    given = Component(p, 1);
    additional = Component(p, 2);
    rec.namePrefix = Component(p, 3);
    rec.nameSuffix = Component(p, 4);
    rec.firstName = JoinTrimmed(given, additional);
    rec.lastName = family;
  }
  std::string fn = r.TakeValue("FN");
  // Cards that carry only a formatted name (common in 4.0) still give the contact a name; so
  // do cards whose N holds a single word of a longer formatted name (N:Janet with FN:Janet
  // Jackson): the formatted name says who it is.
  bool nameFromFn = rec.firstName.empty() && rec.lastName.empty();
  if (!nameFromFn && hasN && given.empty() && additional.empty() && rec.namePrefix.empty() &&
      rec.nameSuffix.empty() && !fn.empty()) {
    // The single word is the formatted name's first name, and the formatted name has more.
    const PersonName split = SplitPersonName(fn);
    nameFromFn = !Trim(split.last).empty() && StartsGiven(Trim(split.first), family);
  }
  if (nameFromFn && !fn.empty()) {
    PersonName pn = SplitPersonName(fn);
    rec.firstName = Trim(pn.first);
    rec.lastName = Trim(pn.last);
    // A formatted name does not tell given from middle names: the first name stays whole.
    given = rec.firstName;
  }
  if (given.find_first_of(" \t") != std::string::npos && StartsGiven(rec.firstName, given)) rec.givenName = given;
  if (!fn.empty() && Squeezed(fn) != Squeezed(DerivedFormattedName(rec))) rec.formattedName = fn;
  if (r.Take("ORG", {}, true, &v)) {
    auto p = SplitComponents(v, r.modern());
    for (std::string& part : p) part = Trim(part);
    while (!p.empty() && p.back().empty()) p.pop_back();
    rec.organisation = JoinOrgParts(p);
    if (p.size() > 1) rec.orgParts = std::move(p);
  }
  rec.position = r.TakeValue("ROLE");
  rec.homePage = r.TakeValue("URL");
  if (!rec.homePage.empty() && !r.LastGroup().empty()) rec.groups.emplace_back("URL", r.LastGroup());

  auto takeEmail = [&](std::initializer_list<std::string_view> types) {
    std::string e = r.TakeValue("EMAIL", types);
    if (!e.empty() && !r.LastGroup().empty()) rec.groups.emplace_back("EMAIL:" + e, r.LastGroup());
    return e;
  };
  rec.primaryEmail = takeEmail({"PREF"});
  if (rec.primaryEmail.empty()) rec.primaryEmail = takeEmail({"INTERNET"});
  if (rec.primaryEmail.empty()) rec.primaryEmail = takeEmail({});
  std::vector<std::pair<std::string, std::string>> others;  // address, group
  for (std::string e = r.TakeValue("EMAIL"); !e.empty(); e = r.TakeValue("EMAIL")) {
    const std::string group = r.LastGroup();
    for (const std::string& piece : SplitCommaList(e))
      if (!Trim(piece).empty()) others.emplace_back(CardReader::Clean("EMAIL", piece), group);
  }
  std::erase_if(others, [](const auto& e) { return e.first.empty(); });
  if (rec.primaryEmail.empty() && !others.empty()) {
    rec.primaryEmail = others.front().first;
    if (!others.front().second.empty()) rec.groups.emplace_back("EMAIL:" + rec.primaryEmail, others.front().second);
    others.erase(others.begin());
  }
  for (const auto& [e, group] : others) {
    if (!rec.otherEmails.empty()) rec.otherEmails += ", ";
    rec.otherEmails += e;
  }
  // Groups of the other addresses in the order written; the primary's was noted above.
  for (const auto& [e, group] : others)
    if (!group.empty()) rec.groups.emplace_back("EMAIL:" + e, group);

  auto readAddress = [&](PostalAddress& a, std::initializer_list<std::string_view> types) {
    std::string val;
    if (!r.Take("ADR", types, true, &val)) return;
    auto p = SplitComponents(val, r.modern());
    if (!r.LastGroup().empty()) rec.groups.emplace_back("ADR:" + std::to_string(&a == &rec.business ? 0 : &a == &rec.home ? 1 : 2), r.LastGroup());
    a.street2 = Component(p, 1);
    a.street1 = Component(p, 2);
    a.city = Component(p, 3);
    a.state = Component(p, 4);
    a.postalCode = Component(p, 5);
    a.country = Component(p, 6);
  };
  readAddress(rec.business, {"WORK"});
  readAddress(rec.home, {"HOME"});
  readAddress(rec.other, {});

  auto& ph = rec.phones;
  auto tel = [&](int kind, std::initializer_list<std::string_view> types) {
    if (!ph[kind].empty()) return;
    ph[kind] = r.TakeValue("TEL", types);
    if (!ph[kind].empty() && !r.LastGroup().empty()) rec.groups.emplace_back("TEL:" + std::to_string(kind), r.LastGroup());
  };
  tel(pkPrimary, {"PREF"});
  tel(pkBusiness, {"WORK", "VOICE"});
  tel(pkBusinessFax, {"WORK", "FAX"});
  tel(pkBusiness, {"WORK"});
  tel(pkBusiness2, {"WORK"});
  tel(pkHome, {"HOME", "VOICE"});
  tel(pkHomeFax, {"HOME", "FAX"});
  tel(pkHome, {"HOME"});
  tel(pkHome2, {"HOME"});
  tel(pkMobile, {"CELL", "VOICE"});
  tel(pkMobile, {"CELL"});
  tel(pkCar, {"CAR", "VOICE"});
  tel(pkCar, {"CAR"});
  tel(pkPager, {"PAGER"});
  tel(pkOtherFax, {"FAX"});
  tel(pkOther, {"VOICE"});
  tel(pkOther, {});

  if (r.Take("NOTE", {}, false, &v)) {
    size_t e = v.size();
    while (e > 0 && (v[e - 1] == ' ' || v[e - 1] == '\t' || v[e - 1] == '\r' || v[e - 1] == '\n'))
      --e;
    rec.notes = v.substr(0, e);
  }

  if (r.Take("X-PLUMADEX", {}, false, &v)) {
    v = Trim(v);
    if (v.size() >= 1) rec.encrypt = v[0] == '1';
    if (v.size() >= 2) {
      int t = v[1] - '0';
      rec.shownAddressType = static_cast<uint8_t>(t < 0 || t > 2 ? 0 : t);
    }
    for (size_t i = 0; i < kShownPhones && i + 2 < v.size(); ++i) {
      int k = v[i + 2] - '0';
      rec.shownPhoneKinds[i] = static_cast<uint8_t>(k < 0 || k > 11 ? 0 : k);
    }
  }
  rec.extraLines = r.Leftovers();
  return rec;
}

void Put(std::string& out, std::string_view head, std::string_view value) {
  bool control = false, eight = false;
  for (char ch : value) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) control = true;
    if (c >= 0x80) eight = true;
  }
  out += head;
  if (eight) out += ";CHARSET=UTF-8";
  if (control) {
    out += ";ENCODING=QUOTED-PRINTABLE:";
    out += QPOneLine(value);
  } else {
    out += ':';
    out += value;
  }
  out += "\r\n";
}

std::string JoinComponents(std::vector<std::string> parts) {
  while (!parts.empty() && parts.back().empty()) parts.pop_back();
  std::string s;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) s += ';';
    s += EscapeComponent(parts[i]);
  }
  return s;
}

}  // namespace

bool PostalAddress::Empty() const {
  return street1.empty() && street2.empty() && city.empty() && state.empty() &&
         postalCode.empty() && country.empty();
}

std::string_view PhoneKindName(int kind) {
  return kind >= 0 && kind < kPhoneKinds ? kPhoneNames[kind] : std::string_view();
}

std::string_view AddressTypeName(int type) {
  static constexpr std::string_view kNames[3] = {"Business", "Home", "Other"};
  return type >= 0 && type < 3 ? kNames[type] : kNames[0];
}

PostalAddress& AddrRec::Address(int type) {
  return type == 1 ? home : type == 2 ? other : business;
}

const PostalAddress& AddrRec::Address(int type) const {
  return type == 1 ? home : type == 2 ? other : business;
}

std::vector<std::string> AddrRec::OtherEmailList() const {
  std::vector<std::string> out;
  for (const std::string& e : SplitCommaList(otherEmails))
    if (!e.empty()) out.push_back(e);
  return out;
}

std::string JoinOrgParts(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) {
    if (p.empty()) continue;
    if (!out.empty()) out += ", ";
    out += p;
  }
  return out;
}

std::array<uint8_t, kShownPhones> VisiblePhoneKinds(const AddrRec& rec) {
  std::array<uint8_t, kShownPhones> kinds = rec.shownPhoneKinds;
  for (uint8_t& k : kinds)
    if (k >= kPhoneKinds) k = 0;
  std::vector<uint8_t> unshown;
  for (int k = 0; k < kPhoneKinds; ++k)
    if (!Trim(rec.phones[k]).empty() && std::find(kinds.begin(), kinds.end(), k) == kinds.end())
      unshown.push_back(static_cast<uint8_t>(k));
  size_t next = 0;
  for (uint8_t& k : kinds) {
    if (next == unshown.size()) break;
    // A row shown twice with one kind counts as empty the second time.
    const bool repeated = std::find(kinds.data(), &k, k) != &k;
    if (Trim(rec.phones[k]).empty() || repeated) k = unshown[next++];
  }
  return kinds;
}

std::string WriteVCard(const AddrRec& rec, std::string_view rev) {
  std::string out = "BEGIN:VCARD\r\nVERSION:2.1\r\n";
  // Each group goes back to the value it was read with, in the order read.
  std::vector<bool> groupUsed(rec.groups.size(), false);
  auto grouped = [&](std::string_view head, const std::string& key) {
    for (size_t i = 0; i < rec.groups.size(); ++i) {
      if (groupUsed[i] || rec.groups[i].first != key) continue;
      groupUsed[i] = true;
      return rec.groups[i].second + "." + std::string(head);
    }
    return std::string(head);
  };
  std::string first = Trim(rec.firstName);
  std::string given = first, additional;
  if (!rec.givenName.empty() && StartsGiven(first, rec.givenName)) {
    given = rec.givenName;
    additional = Trim(first.substr(given.size()));
  } else {
    size_t blank = first.find_first_of(" \t");
    if (blank != std::string::npos) {
      given = first.substr(0, blank);
      additional = Trim(first.substr(blank + 1));
    }
  }
  std::string n = JoinComponents({rec.lastName, given, additional, rec.namePrefix, rec.nameSuffix});
  if (!n.empty()) Put(out, "N", n);
  std::string fn = rec.formattedName.empty() ? DerivedFormattedName(rec) : rec.formattedName;
  if (!fn.empty()) Put(out, "FN", fn);
  if (!rec.organisation.empty()) {
    if (rec.orgParts.size() > 1 && JoinOrgParts(rec.orgParts) == rec.organisation) {
      std::string org;
      for (size_t i = 0; i < rec.orgParts.size(); ++i) {
        if (i) org += ';';
        org += EscapeComponent(rec.orgParts[i]);
      }
      Put(out, "ORG", org);
    } else {
      Put(out, "ORG", EscapeComponent(rec.organisation));
    }
  }
  if (!rec.position.empty()) Put(out, "ROLE", rec.position);
  if (!rec.homePage.empty()) Put(out, grouped("URL", "URL"), rec.homePage);
  if (!rec.primaryEmail.empty())
    Put(out, grouped("EMAIL;PREF;INTERNET", "EMAIL:" + rec.primaryEmail), AddServiceDomain(rec.primaryEmail));
  for (const std::string& e : rec.OtherEmailList())
    Put(out, grouped("EMAIL;INTERNET", "EMAIL:" + e), AddServiceDomain(e));
  const std::pair<const PostalAddress*, std::string_view> addrs[] = {
      {&rec.business, "ADR;WORK"}, {&rec.home, "ADR;HOME"}, {&rec.other, "ADR"}};
  for (int t = 0; t < 3; ++t) {
    const auto& [a, head] = addrs[t];
    if (a->Empty()) continue;
    Put(out, grouped(head, "ADR:" + std::to_string(t)),
        JoinComponents({"", a->street2, a->street1, a->city, a->state, a->postalCode, a->country}));
  }
  for (int k = 0; k < kPhoneKinds; ++k)
    if (!rec.phones[k].empty()) Put(out, grouped(kPhoneLines[k], "TEL:" + std::to_string(k)), rec.phones[k]);
  if (!rec.notes.empty()) {
    bool eight = false;
    for (char c : rec.notes)
      if (static_cast<unsigned char>(c) >= 0x80) eight = true;
    out += eight ? "NOTE;CHARSET=UTF-8;BASE64:\r\n" : "NOTE;BASE64:\r\n";
    for (const std::string& l : mailformat::Base64EncodeLines(rec.notes)) out += " " + l + "\r\n";
  }
  if (!rec.extraLines.empty()) {
    for (Line& l : UnfoldLines(rec.extraLines, false, nullptr)) {
      ParseHeader(l);
      if (WrittenByUs(l)) continue;
      out += l.raw;
      out += "\r\n";
      // A kept quoted-printable line ending in a soft break (it was followed by an empty line)
      // must not swallow the next line.
      size_t lastBreak = l.raw.rfind('\n');
      std::string_view last = std::string_view(l.raw).substr(lastBreak == std::string::npos ? 0 : lastBreak + 1);
      if (HeaderSaysQP(l.unfolded) && TrimBlanksRight(last).ends_with('=')) out += "\r\n";
    }
  }
  std::string x = "X-PLUMADEX:";
  x += static_cast<char>('0' + (rec.encrypt ? 1 : 0));
  x += static_cast<char>('0' + rec.shownAddressType);
  for (uint8_t k : rec.shownPhoneKinds) x += static_cast<char>('0' + k);
  out += x + "\r\n";
  out += "REV:";
  out += rev;
  out += "\r\nEND:VCARD\r\n";
  return out;
}

std::string RevStamp() {
  return QDateTime::currentDateTime().toString("yyyyMMdd'T'HHmmss").toStdString();
}

AddrRec ReadVCard(std::string_view text, size_t* consumed) {
  return ReadLines(UnfoldLines(text, true, consumed));
}

std::vector<AddrRec> ReadVCards(std::string_view text) {
  std::vector<AddrRec> out;
  size_t pos = 0;
  bool any = false;
  while (pos < text.size()) {
    std::string_view rest = text.substr(pos);
    // Only the BEGIN:VCARD lines start cards; text after the last card is not a contact.
    bool hasBegin = false;
    for (size_t p = 0; p < rest.size();) {
      size_t nl = rest.find('\n', p);
      size_t end = nl == std::string_view::npos ? rest.size() : nl;
      if (IsBeginLine(rest.substr(p, end - p))) {
        hasBegin = true;
        break;
      }
      p = end + 1;
    }
    if (!hasBegin) {
      if (!any && !Trim(rest).empty()) out.push_back(ReadVCard(rest));
      break;
    }
    size_t used = 0;
    out.push_back(ReadVCard(rest, &used));
    any = true;
    if (used == 0) break;
    pos += used;
  }
  return out;
}

std::optional<AddrRec> ReadContactFile(const std::string& path) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes, kMaxCardFileSize).ok()) return std::nullopt;
  return ReadVCard(bytes);
}

FileStatus WriteContactFile(const AddrRec& rec, const std::string& path) {
  return SaveFileAtomic(path, WriteVCard(rec, RevStamp()));
}

}  // namespace px::contacts
