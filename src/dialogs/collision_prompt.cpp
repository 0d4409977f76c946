#include "dialogs/collision_prompt.h"

#include "foundation/charset.h"
#include "foundation/strings.h"

namespace px::dialogs {

namespace {
std::string Shown(const std::string& text, const std::string& charset) {
  return charset.empty() || IsUnicodeCharset(charset) ? text : DecodeFromCharset(text, charset);
}
}  // namespace

CollisionPrompt::CollisionPrompt(store::CollisionQuestion q) : q_(std::move(q)) {}

std::string CollisionPrompt::ExistingName() const { return q_.fileName; }

std::string CollisionPrompt::ProposedName() const { return Shown(q_.proposedTitle, q_.charset); }

bool CollisionPrompt::KeepBothAllowed(std::string_view editedName) {
  return !Trim(std::string(editedName)).empty();
}

store::CollisionAnswer CollisionPrompt::Choose(store::CollisionAction action, std::string_view edited,
                                               bool forAll) const {
  store::CollisionAnswer a;
  a.action = action;
  if (action == store::CollisionAction::Replace && !q_.offerReplace) a.action = store::CollisionAction::Skip;
  if (a.action == store::CollisionAction::Rename) {
    const std::string name = Trim(std::string(edited));
    if (name.empty() || name == ProposedName()) {
      a.title = q_.proposedTitle;
    } else {
      a.title = q_.charset.empty() || IsUnicodeCharset(q_.charset) ? name : EncodeToCharset(name, q_.charset);
    }
  }
  a.applyToAll = forAll && q_.severalItems;
  return a;
}

store::CollisionAnswer CollisionPrompt::Dismissed() const {
  store::CollisionAnswer a;
  a.action = store::CollisionAction::Skip;
  return a;
}

}  // namespace px::dialogs
