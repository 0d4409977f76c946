#include "import/ldif.h"

#include <QByteArray>

#include <array>
#include <cctype>
#include <map>
#include <vector>

namespace px::import {

namespace {

constexpr size_t kMaxValue = 64 * 1024;
constexpr size_t kMaxLines = 1000;

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A vCard value: backslash, comma, semicolon escaped; line breaks as "\n"; other control
// characters dropped.
std::string Esc(std::string_view v) {
  std::string r;
  for (size_t i = 0; i < v.size(); ++i) {
    char c = v[i];
    if (c == '\\' || c == ',' || c == ';') {
      r += '\\';
      r += c;
    } else if (c == '\r') {
      if (i + 1 < v.size() && v[i + 1] == '\n') ++i;
      r += "\\n";
    } else if (c == '\n') {
      r += "\\n";
    } else if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') {
      r += c;
    }
  }
  return r;
}

using Entry = ContactFields;  // attribute (lower case) -> value

std::string First(const Entry& e, std::initializer_list<const char*> names) {
  for (const char* n : names) {
    // A repeated attribute keeps its last value.
    auto range = e.equal_range(n);
    std::string v;
    for (auto it = range.first; it != range.second; ++it) v = it->second;
    if (!v.empty()) return v;
  }
  return {};
}

void Card(const Entry& e, LdifResult& out) {
  const std::string given = First(e, {"givenname"}), family = First(e, {"sn", "surname"});
  const std::string org = First(e, {"o", "company"});
  std::string fn = First(e, {"displayname", "cn"});
  std::vector<std::string> mails;
  for (const char* n : {"mail", "mozillasecondemail"}) {
    auto range = e.equal_range(n);
    for (auto it = range.first; it != range.second; ++it)
      if (!it->second.empty()) mails.push_back(it->second);
  }
  struct Tel { const char* type; std::string value; };
  std::vector<Tel> tels = {
      {"WORK,VOICE,PREF", First(e, {"telephonenumber"})}, {"HOME,VOICE", First(e, {"homephone"})},
      {"CELL", First(e, {"cellphone", "mobile"})},        {"PAGER", First(e, {"pagerphone", "pager"})},
      {"WORK,FAX", First(e, {"facsimiletelephonenumber", "fax"})}};
  bool anyTel = false;
  for (const auto& t : tels) anyTel = anyTel || !t.value.empty();
  if (given.empty() && family.empty() && fn.empty() && org.empty() && mails.empty() && !anyTel) {
    ++out.empty;
    return;
  }
  if (fn.empty()) fn = given.empty() ? (family.empty() ? (org.empty() ? mails.front() : org) : family)
                                     : (family.empty() ? given : given + " " + family);
  std::string c = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
  c += "N:" + Esc(family) + ";" + Esc(given) + ";;;\r\n";
  c += "FN:" + Esc(fn) + "\r\n";
  if (!org.empty()) c += "ORG:" + Esc(org) + "\r\n";
  if (std::string t = First(e, {"title"}); !t.empty()) c += "TITLE:" + Esc(t) + "\r\n";
  for (size_t i = 0; i < mails.size(); ++i) c += std::string(i == 0 ? "EMAIL;TYPE=INTERNET,PREF:" : "EMAIL;TYPE=INTERNET:") + Esc(mails[i]) + "\r\n";
  for (const auto& t : tels)
    if (!t.value.empty()) c += std::string("TEL;TYPE=") + t.type + ":" + Esc(t.value) + "\r\n";
  const std::string box = First(e, {"postofficebox"}), street = First(e, {"streetaddress", "street"}),
                    city = First(e, {"locality", "l"}), region = First(e, {"st"}),
                    zip = First(e, {"postalcode"}), country = First(e, {"countryname", "c"});
  if (!(box + street + city + region + zip + country).empty())
    c += "ADR;TYPE=WORK:" + Esc(box) + ";;" + Esc(street) + ";" + Esc(city) + ";" + Esc(region) + ";" + Esc(zip) + ";" +
         Esc(country) + "\r\n";
  if (std::string url = First(e, {"mozillaworkurl", "labeleduri"}); !url.empty()) c += "URL:" + Esc(url) + "\r\n";
  if (std::string note = First(e, {"description"}); !note.empty()) c += "NOTE:" + Esc(note) + "\r\n";
  c += "END:VCARD\r\n";
  out.cards += c;
  ++out.people;
}

void Finish(const std::vector<std::string>& lines, LdifResult& out) {
  if (lines.empty()) return;
  Entry e;
  bool isEntry = false;
  for (const std::string& line : lines) {
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    std::string name = Lower(Trim(std::string_view(line).substr(0, colon)));
    // Options after ";" (cn;lang-de) do not change the attribute.
    if (size_t semi = name.find(';'); semi != std::string::npos) name.resize(semi);
    std::string_view rest = std::string_view(line).substr(colon + 1);
    std::string value;
    if (!rest.empty() && rest[0] == ':') {
      QByteArray b = QByteArray::fromBase64(QByteArray(rest.data() + 1, qsizetype(rest.size() - 1)).trimmed());
      value = b.toStdString();
    } else if (!rest.empty() && rest[0] == '<') {
      continue;  // a value in a file or URL is never fetched
    } else {
      value = std::string(Trim(rest));
    }
    if (value.size() > kMaxValue) value.resize(kMaxValue);
    if (name == "dn") isEntry = true;
    e.emplace(std::move(name), std::move(value));
  }
  if (!isEntry) return;
  bool group = false;
  for (auto [it, end] = e.equal_range("objectclass"); it != end; ++it)
    if (Lower(it->second) == "groupofnames") group = true;
  if (group) {
    ++out.groups;
    ContactList list;
    list.name = First(e, {"cn", "displayname"});
    for (auto [it, end] = e.equal_range("member"); it != end; ++it)
      if (std::string a = MemberAddress(it->second); !a.empty()) list.members.push_back(std::move(a));
    if (!list.name.empty() && out.lists.size() < kMaxLines) out.lists.push_back(std::move(list));
  } else {
    Card(e, out);
  }
}

}  // namespace

void AddCard(const ContactFields& fields, LdifResult& out) { Card(fields, out); }

std::string MemberAddress(std::string_view dn) {
  // Pieces of the name are separated by unescaped commas; "mail=" names the address.
  size_t start = 0;
  while (start <= dn.size()) {
    size_t end = start;
    while (end < dn.size() && dn[end] != ',') end += dn[end] == '\\' ? 2 : 1;
    std::string_view piece = Trim(dn.substr(start, std::min(end, dn.size()) - start));
    if (piece.size() > 5 && Lower(piece.substr(0, 5)) == "mail=") {
      std::string_view a = Trim(piece.substr(5));
      if (a.find('@') != std::string_view::npos && a.size() < 320) return std::string(a);
    }
    start = end + 1;
  }
  return {};
}

LdifResult LdifToVCards(std::string_view ldif) {
  LdifResult out;
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < ldif.size()) {
    size_t nl = ldif.find('\n', pos);
    std::string_view line = ldif.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? ldif.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      Finish(lines, out);
      lines.clear();
      continue;
    }
    if (line[0] == '#') continue;
    if (line[0] == ' ') {
      // A folded line continues the one before.
      if (!lines.empty() && lines.back().size() < kMaxValue) lines.back().append(line.substr(1));
      continue;
    }
    if (lines.size() < kMaxLines) lines.emplace_back(line);
  }
  Finish(lines, out);
  return out;
}

}  // namespace px::import
