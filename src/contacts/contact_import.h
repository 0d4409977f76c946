#pragma once
// Importing cards whose address another contact already has: the question (merge the card
// into that contact, keep both, or skip the card), the answer remembered for the rest of an
// import when the user asks so, and the merge itself.
#include <functional>
#include <optional>
#include <string>

#include "contacts/vcard.h"

namespace px::contacts {

enum class SharedAddressChoice { Merge, KeepBoth, Skip };

struct SharedAddressQuestion {
  AddrRec incoming;             // the card being imported
  AddrRec existing;             // the contact that has the address
  std::string existingName;     // its file name in the Contacts folder
  std::string existingDisplay;  // its name as the address map shows it
  std::string address;          // the shared address (its key)
  int remaining = 0;            // cards of the import after this one
};

// "Janet Jackson" <janet@example.com>, or the organisation, or the address alone.
std::string CardCaption(const AddrRec& rec, bool firstNameFirst);

// The text of the question ("%1" the card, "%2" the address, "%3" the contact).
std::string SharedAddressText(const SharedAddressQuestion& q, bool firstNameFirst);

inline constexpr std::string_view kSharedAddressTitle = "Address already in Contacts";
inline constexpr std::string_view kSharedAddressForAll = "Do this for the other cards too";

// The user's answer: the choice, and whether it holds for the remaining cards.
struct SharedAddressAnswer {
  SharedAddressChoice choice = SharedAddressChoice::Skip;
  bool forAll = false;
};

using SharedAddressResolver = std::function<SharedAddressChoice(const SharedAddressQuestion&)>;

// Asks through ask until an answer is given for all; later questions get that answer.
class SharedAddressQuestioner {
public:
  using Ask = std::function<SharedAddressAnswer(const SharedAddressQuestion&)>;
  explicit SharedAddressQuestioner(Ask ask) : ask_(std::move(ask)) {}
  SharedAddressChoice operator()(const SharedAddressQuestion& q);
  // A resolver for the import that asks through this object (which must outlive it).
  SharedAddressResolver Resolver() {
    return [this](const SharedAddressQuestion& q) { return (*this)(q); };
  }
  int Asked() const { return asked_; }

private:
  Ask ask_;
  std::optional<SharedAddressChoice> forAll_;
  int asked_ = 0;
};

// The existing contact with what only the card knows added: empty fields filled, further
// e-mail addresses, phones and lines appended, notes joined; nothing the contact had is lost.
AddrRec MergeContact(AddrRec existing, const AddrRec& incoming);

// "skip", "merge", "keep-both" (the command line's words); nullopt for anything else.
std::optional<SharedAddressChoice> SharedAddressChoiceOf(std::string_view word);

}  // namespace px::contacts
