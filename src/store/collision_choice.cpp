#include "store/collision_choice.h"

namespace px::store {

CollisionAnswer CollisionChoice::Decide(const CollisionQuestion& q) {
  CollisionAnswer a;
  if (kept_) {
    a.action = keptAction_;
    if (a.action == CollisionAction::Replace && !q.offerReplace) a.action = CollisionAction::Rename;
    if (a.action == CollisionAction::Rename) a.title = q.proposedTitle;
    a.applyToAll = true;
    return a;
  }
  if (!resolver_) {
    // Nobody to ask: never overwrite, take the proposed name.
    a.action = CollisionAction::Rename;
    a.title = q.proposedTitle;
    return a;
  }
  a = resolver_->Ask(q);
  if (a.action == CollisionAction::Rename && a.title.empty()) a.title = q.proposedTitle;
  if (a.action == CollisionAction::Replace && !q.offerReplace) a.action = CollisionAction::Skip;
  // The choice for all (Skip too) is kept only when it was offered; a dismissed dialog skips
  // this document alone.
  if (a.applyToAll && q.severalItems) {
    kept_ = true;
    keptAction_ = a.action;
  }
  return a;
}

}  // namespace px::store
