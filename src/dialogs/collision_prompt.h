#pragma once
// The name-collision question as a model: what the dialog shows for one document whose name is
// taken in the target folder, and the answer each of its buttons gives. Replace puts the
// document over the file there, Keep both gives it the (editable) free name, Skip leaves it
// where it is; "Do this for all" repeats the choice for the rest of the operation.
#include "store/collision_choice.h"

#include <string>
#include <string_view>

namespace px::dialogs {

inline constexpr std::string_view kCollisionReplaceButton = "Replace";
inline constexpr std::string_view kCollisionKeepBothButton = "Keep both";
inline constexpr std::string_view kCollisionSkipButton = "Skip";
inline constexpr std::string_view kCollisionKeepBothLabel = "Keep both, naming the new one:";
inline constexpr std::string_view kCollisionForAll = "Do this for all files in this operation";
inline constexpr std::string_view kCollisionNoReplace =
    "The existing item is a folder or the document itself, so it cannot be replaced.";

class CollisionPrompt {
public:
  explicit CollisionPrompt(store::CollisionQuestion q);

  std::string Title() const { return std::string(store::kCollisionTitle); }
  std::string Lead() const { return std::string(store::kCollisionLead); }
  std::string Question() const { return std::string(store::kCollisionQuestion); }
  // The existing name and the proposed new title as text (decoded from the item's charset).
  std::string ExistingName() const;
  std::string ProposedName() const;
  bool ReplaceOffered() const { return q_.offerReplace; }
  bool ForAllShown() const { return q_.severalItems; }
  // Keep both needs a name that is not empty after trimming.
  static bool KeepBothAllowed(std::string_view editedName);

  // The answer of a button: edited is the name in the field (text), forAll the check box.
  store::CollisionAnswer Choose(store::CollisionAction action, std::string_view edited, bool forAll) const;
  // Closing the window (Escape, the title bar) skips this document only.
  store::CollisionAnswer Dismissed() const;

private:
  store::CollisionQuestion q_;
};

}  // namespace px::dialogs
