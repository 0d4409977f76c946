#include "contacts/contact_summary.h"

#include <vector>

#include "foundation/address.h"
#include "foundation/strings.h"

namespace px::contacts {

namespace {

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      out.push_back(cur);
      cur.clear();
    } else if (c != '\r') {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

}  // namespace

std::vector<std::string> KeptPhoneNumbers(const AddrRec& rec) {
  std::vector<std::string> out;
  std::string rest = rec.extraLines;
  // Each reading places up to twelve numbers; what it leaves is read again.
  for (int round = 0; round < 16 && !Trim(rest).empty(); ++round) {
    const AddrRec r = ReadVCard("BEGIN:VCARD\r\nVERSION:2.1\r\n" + rest + "\r\nEND:VCARD\r\n");
    bool any = false;
    for (const std::string& p : r.phones) {
      if (Trim(p).empty()) continue;
      out.push_back(Trim(p));
      any = true;
    }
    if (!any || r.extraLines == rest) break;
    rest = r.extraLines;
  }
  return out;
}

std::string ContactSummary(const AddrRec& rec, char separator, bool firstNameFirst) {
  const std::string name = JoinPersonName(Trim(rec.firstName), Trim(rec.lastName), firstNameFirst);
  const std::string org = Trim(rec.organisation);
  const int type = rec.shownAddressType <= 2 ? rec.shownAddressType : 0;
  const PostalAddress& post = rec.Address(type);
  const auto shownKinds = VisiblePhoneKinds(rec);
  const std::vector<std::string> kept = KeptPhoneNumbers(rec);
  bool phone = !kept.empty();
  for (uint8_t k : shownKinds) phone = phone || (k < kPhoneKinds && !Trim(rec.phones[k]).empty());
  const std::string notes = Trim(rec.notes);
  if (post.Empty() && !phone && org.empty() && Trim(rec.position).empty() && notes.empty())
    return "\"" + (name.empty() ? org : name) + "\" <" + rec.primaryEmail + ">";

  std::vector<std::string> lines;
  auto add = [&](const std::string& line) { lines.push_back(line); };
  if (!name.empty()) add("Name: " + name);
  std::vector<std::string> emails;
  if (!Trim(rec.primaryEmail).empty()) emails.push_back(Trim(rec.primaryEmail));
  for (const std::string& e : rec.OtherEmailList()) emails.push_back(e);
  if (!emails.empty()) {
    add("E-mail:");
    for (const std::string& e : emails) add("   " + e);
  }
  if (!org.empty()) add("Organization: " + org);
  if (!Trim(rec.position).empty()) add("Position: " + Trim(rec.position));
  if (!post.Empty()) {
    add("Address (" + std::string(AddressTypeName(type)) + "):");
    for (const std::string* v : {&post.street1, &post.street2, &post.city})
      if (!Trim(*v).empty()) add("    " + Trim(*v));
    const std::string statePostal = Trim(Trim(post.state) + " " + Trim(post.postalCode));
    if (!statePostal.empty()) add("    " + statePostal);
    if (!Trim(post.country).empty()) add("    " + Trim(post.country));
  }
  if (phone) {
    add("Phone numbers:");
    for (uint8_t k : shownKinds)
      if (k < kPhoneKinds && !Trim(rec.phones[k]).empty())
        add("    " + std::string(PhoneKindName(k)) + ": " + Trim(rec.phones[k]));
    for (const std::string& n : kept) add("    " + std::string(PhoneKindName(pkOther)) + ": " + n);
  }
  if (!notes.empty()) {
    add("Notes: ");
    for (const std::string& l : LinesOf(notes)) add("    " + l);
  }
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) out += separator;
    out += lines[i];
  }
  return out;
}

std::string ContactSummaryOf(const std::string& cardPath, char separator, bool firstNameFirst) {
  std::optional<AddrRec> rec = ReadContactFile(cardPath);
  return rec ? ContactSummary(*rec, separator, firstNameFirst) : std::string();
}

}  // namespace px::contacts
