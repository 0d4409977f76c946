#pragma once
// The choice made when a document meets a file of the same name in the target folder, and the
// "Apply to all files in this operation" memory of one multi-item operation.
#include <string>
#include <string_view>

namespace px::store {

inline constexpr std::string_view kCollisionTitle = "Plumadex";
inline constexpr std::string_view kCollisionLead = "A file named";
inline constexpr std::string_view kCollisionQuestion =
    "already exists in this folder. What do you want to do?";
inline constexpr std::string_view kCollisionReplace = "Replace existing file";
inline constexpr std::string_view kCollisionRename = "Use a different name";
inline constexpr std::string_view kCollisionApplyAll = "Apply to all files in this operation";

enum class CollisionAction { Replace, Rename, Skip };

struct CollisionQuestion {
  std::string fileName;       // the name that already exists
  std::string proposedTitle;  // the unique title offered for "Use a different name"
  std::string charset;        // the item's charset (for showing the title)
  bool severalItems = false;  // show "Apply to all files in this operation"
  bool offerReplace = true;
};

struct CollisionAnswer {
  CollisionAction action = CollisionAction::Skip;  // Skip: this document stays where it is
  std::string title;        // the edited title for Rename
  bool applyToAll = false;
};

// Asks the user (the dialog) or decides by policy (scripts, tests).
class CollisionResolver {
public:
  virtual ~CollisionResolver() = default;
  virtual CollisionAnswer Ask(const CollisionQuestion& q) = 0;
};

// Always answers the same (the command line: rename unless told to replace).
class FixedCollisionResolver final : public CollisionResolver {
public:
  explicit FixedCollisionResolver(CollisionAction action) : action_(action) {}
  CollisionAnswer Ask(const CollisionQuestion& q) override {
    CollisionAnswer a;
    a.action = (action_ == CollisionAction::Replace && !q.offerReplace) ? CollisionAction::Rename
                                                                         : action_;
    a.title = q.proposedTitle;
    return a;
  }

private:
  CollisionAction action_;
};

// One operation's collision choices: asks the resolver until the user ticks "for all" (Replace,
// Keep both or Skip),
// then repeats that choice (with each item's own proposed name) for the rest of the operation.
class CollisionChoice {
public:
  explicit CollisionChoice(CollisionResolver* resolver) : resolver_(resolver) {}
  CollisionAnswer Decide(const CollisionQuestion& q);
  bool HasKeptChoice() const { return kept_; }

private:
  CollisionResolver* resolver_;
  bool kept_ = false;
  CollisionAction keptAction_ = CollisionAction::Rename;
};

}  // namespace px::store
