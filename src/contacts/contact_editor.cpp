#include "contacts/contact_editor.h"

#include <algorithm>

#include "foundation/address.h"
#include "foundation/strings.h"

namespace px::contacts {

ContactEditor::ContactEditor(AddrRec rec, bool encryptionAvailable)
    : rec_(std::move(rec)), encryption_(encryptionAvailable) {
  const std::string primary = Trim(rec_.primaryEmail);
  if (!primary.empty()) emails_.push_back(primary);
  for (const std::string& e : ParseAddressList(rec_.otherEmails))
    if (!Trim(e).empty()) emails_.push_back(Trim(e));
  if (!emails_.empty()) checked_ = 0;
  if (rec_.shownAddressType > 2) rec_.shownAddressType = 0;
  // Numbers no row would show (a card's untyped phone is "Other") take the empty rows.
  rec_.shownPhoneKinds = VisiblePhoneKinds(rec_);
  firstAsRead_ = rec_.firstName;
  lastAsRead_ = rec_.lastName;
  const bool encrypt = rec_.encrypt;
  Recompute();
  rec_.encrypt = encrypt;
}

void ContactEditor::Recompute() {
  if (emails_.empty()) checked_ = -1;
  else if (checked_ < 0 || checked_ >= static_cast<int>(emails_.size())) checked_ = 0;
  rec_.primaryEmail = checked_ >= 0 ? emails_[checked_] : std::string();
  std::string others;
  for (int i = 0; i < static_cast<int>(emails_.size()); ++i) {
    if (i == checked_) continue;
    if (!others.empty()) others += ", ";
    others += emails_[i];
  }
  rec_.otherEmails = others;
}

void ContactEditor::CheckEmail(int index) {
  if (index < 0 || index >= static_cast<int>(emails_.size())) return;
  checked_ = index;
  Recompute();
}

bool ContactEditor::AddEmail(std::string_view text) {
  const std::string t = Trim(text);
  if (t.empty()) return false;
  emails_.push_back(t);
  Recompute();
  return true;
}

bool ContactEditor::ReplaceEmail(int index, std::string_view text) {
  const std::string t = Trim(text);
  if (t.empty() || index < 0 || index >= static_cast<int>(emails_.size())) return false;
  emails_[index] = t;
  Recompute();
  return true;
}

void ContactEditor::RemoveEmail(int index) {
  if (index < 0 || index >= static_cast<int>(emails_.size())) return;
  emails_.erase(emails_.begin() + index);
  if (index == checked_) checked_ = 0;  // the first remaining entry becomes the primary
  else if (index < checked_) --checked_;
  Recompute();
}

bool ContactEditor::EncryptionVisible() const {
  if (!encryption_) return false;
  const std::string p = StripServiceDomain(Trim(rec_.primaryEmail));
  return !p.empty() && p.find('@') == std::string::npos;
}

void ContactEditor::SetAddressType(int type) {
  if (type >= 0 && type <= 2) rec_.shownAddressType = static_cast<uint8_t>(type);
}

std::string ContactEditor::StreetForField(std::string_view street) {
  std::string s(street);
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

int ContactEditor::PhoneKindOfRow(int row) const {
  if (row < 0 || row >= kShownPhones) return 0;
  return rec_.shownPhoneKinds[row] < kPhoneKinds ? rec_.shownPhoneKinds[row] : 0;
}

void ContactEditor::SetPhoneKindOfRow(int row, int kind) {
  if (row < 0 || row >= kShownPhones || kind < 0 || kind >= kPhoneKinds) return;
  rec_.shownPhoneKinds[row] = static_cast<uint8_t>(kind);
}

AddrRec ContactEditor::Saved() const {
  AddrRec out = rec_;
  // Notes lose the blank lines before and after the text; inner lines stay as typed.
  std::vector<std::string> lines;
  std::string cur;
  for (char c : out.notes) {
    if (c == '\n') {
      if (!cur.empty() && cur.back() == '\r') cur.pop_back();
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty() && cur.back() == '\r') cur.pop_back();
  lines.push_back(cur);
  size_t first = 0, last = lines.size();
  while (first < last && Trim(lines[first]).empty()) ++first;
  while (last > first && Trim(lines[last - 1]).empty()) --last;
  std::string notes;
  for (size_t i = first; i < last; ++i) {
    if (i > first) notes += "\r\n";
    notes += lines[i];
  }
  out.notes = notes;
  if (!EncryptionVisible()) out.encrypt = false;
  // The card's own formatted name and given name describe the names it came with.
  if (out.firstName != firstAsRead_ || out.lastName != lastAsRead_) {
    out.formattedName.clear();
    out.givenName.clear();
  }
  return out;
}

}  // namespace px::contacts
