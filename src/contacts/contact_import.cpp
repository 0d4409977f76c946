#include "contacts/contact_import.h"

#include <unordered_set>
#include <vector>

#include "contacts/address_map.h"
#include "foundation/address.h"
#include "foundation/strings.h"

namespace px::contacts {

namespace {

// The logical lines of kept card text: a line with the continuation lines that follow it.
std::vector<std::string> LogicalLines(std::string_view text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string_view::npos ? text.size() : nl;
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    if (line.empty()) continue;
    if ((line[0] == ' ' || line[0] == '\t') && !out.empty()) out.back() += "\r\n" + std::string(line);
    else out.emplace_back(line);
  }
  return out;
}

void FillEmpty(std::string& into, const std::string& from) {
  if (Trim(into).empty() && !Trim(from).empty()) into = from;
}

}  // namespace

std::string CardCaption(const AddrRec& rec, bool firstNameFirst) {
  std::string name = JoinPersonName(Trim(rec.firstName), Trim(rec.lastName), firstNameFirst);
  if (name.empty()) name = Trim(rec.organisation);
  if (name.empty()) return rec.primaryEmail;
  return rec.primaryEmail.empty() ? "\"" + name + "\"" : FormatAddressElement(name, rec.primaryEmail);
}

std::string SharedAddressText(const SharedAddressQuestion& q, bool firstNameFirst) {
  return SubstituteArgs(
      "The card %1 has the address %2, which the contact \"%3\" already has.\r\r"
      "Merge the card into that contact, keep both contacts, or skip the card?",
      {CardCaption(q.incoming, firstNameFirst), q.address, q.existingDisplay});
}

SharedAddressChoice SharedAddressQuestioner::operator()(const SharedAddressQuestion& q) {
  if (forAll_) return *forAll_;
  ++asked_;
  const SharedAddressAnswer a = ask_ ? ask_(q) : SharedAddressAnswer{};
  if (a.forAll) forAll_ = a.choice;
  return a.choice;
}

AddrRec MergeContact(AddrRec into, const AddrRec& from) {
  if (Trim(into.firstName).empty() && Trim(into.lastName).empty()) {
    into.firstName = from.firstName;
    into.lastName = from.lastName;
    into.givenName = from.givenName;
    into.formattedName = from.formattedName;
    into.namePrefix = from.namePrefix;
    into.nameSuffix = from.nameSuffix;
  }
  if (Trim(into.organisation).empty() && !Trim(from.organisation).empty()) {
    into.organisation = from.organisation;
    into.orgParts = from.orgParts;
  }
  FillEmpty(into.position, from.position);
  FillEmpty(into.homePage, from.homePage);

  // Every address either has, once.
  std::unordered_set<std::string> keys;
  auto known = [&](const std::string& e) { return !keys.insert(AddressKey(e)).second; };
  known(into.primaryEmail);
  for (const std::string& e : into.OtherEmailList()) known(e);
  std::vector<std::string> incoming{from.primaryEmail};
  for (const std::string& e : from.OtherEmailList()) incoming.push_back(e);
  for (const std::string& e : incoming) {
    if (Trim(e).empty() || known(e)) continue;
    if (Trim(into.primaryEmail).empty()) {
      into.primaryEmail = e;
      continue;
    }
    if (!Trim(into.otherEmails).empty()) into.otherEmails += ", ";
    into.otherEmails += e;
  }

  for (int t = 0; t < 3; ++t)
    if (into.Address(t).Empty()) into.Address(t) = from.Address(t);

  // A number of a kind the contact has already goes to the second line of its kind, else to
  // Other; failing that it is kept as a line of its own.
  std::vector<std::string> spare;
  for (int k = 0; k < kPhoneKinds; ++k) {
    const std::string& number = from.phones[k];
    if (Trim(number).empty()) continue;
    bool present = false;
    for (const std::string& have : into.phones) present = present || Trim(have) == Trim(number);
    if (present) continue;
    int slots[] = {k, k == pkBusiness ? pkBusiness2 : k == pkHome ? pkHome2 : -1, pkOther};
    bool placed = false;
    for (int slot : slots) {
      if (slot < 0 || !Trim(into.phones[slot]).empty()) continue;
      into.phones[slot] = number;
      placed = true;
      break;
    }
    if (!placed) spare.push_back(number);
  }

  const std::string notes = Trim(from.notes);
  if (Trim(into.notes).empty()) into.notes = from.notes;
  else if (!notes.empty() && into.notes.find(notes) == std::string::npos) into.notes += "\r\n" + from.notes;

  std::vector<std::string> kept = LogicalLines(into.extraLines);
  std::unordered_set<std::string> have(kept.begin(), kept.end());
  std::vector<std::string> add = LogicalLines(from.extraLines);
  for (const std::string& number : spare) add.push_back("TEL;VOICE:" + number);
  for (const std::string& line : add) {
    if (!have.insert(line).second) continue;
    if (!into.extraLines.empty()) into.extraLines += "\r\n";
    into.extraLines += line;
  }
  return into;
}

std::optional<SharedAddressChoice> SharedAddressChoiceOf(std::string_view word) {
  if (word == "skip") return SharedAddressChoice::Skip;
  if (word == "merge") return SharedAddressChoice::Merge;
  if (word == "keep-both") return SharedAddressChoice::KeepBoth;
  return std::nullopt;
}

}  // namespace px::contacts
