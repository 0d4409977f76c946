#pragma once
// What the document operations work with: the stores they change (OpServices) and the parts of
// the program they tell or ask (OpCollaborators). Every collaborator is a reference, set at one
// place per program (the desk, the command line, a test fixture); a part that is not there is
// an explicit null object below, so its absence is visible where the operations are made.
#include "store/collision_choice.h"

#include <functional>
#include <string>
#include <vector>

namespace px {
class MessageQueue;
class RandomSource;
class TPXCustomIni;
}  // namespace px

namespace px::store {

class IniRegistry;
class UnreadList;
class NewMailList;

// Quickboard buttons refer to documents and folders by path; they follow moves and renames.
class QuickboardLinks {
public:
  virtual ~QuickboardLinks() = default;
  virtual void PathMoved(const std::string& oldPath, const std::string& newPath, bool folder) = 0;
  virtual void PathRemoved(const std::string& path, bool folder) = 0;
  virtual void CaptionChanged(const std::string& path, const std::string& title) = 0;
};

// Mail sorting rules name folders; a moved or renamed folder rewrites them.
class SortingRuleLinks {
public:
  virtual ~SortingRuleLinks() = default;
  // Rewrites every rule whose folder lies in oldFolder and saves the rules when one changed.
  // Returns the names of the changed rules.
  virtual std::vector<std::string> FolderMoved(const std::string& oldFolder,
                                               const std::string& newFolder) = 0;
};

// The documents opened as temporary copies; operations never touch them.
class OpenDocuments {
public:
  virtual ~OpenDocuments() = default;
  virtual bool IsOpen(const std::string& path) const = 0;
  virtual bool AnyOpenBelow(const std::string& folder) const = 0;
  virtual void BringForward(const std::string& path) = 0;
};

// The list of folders holding pending mail, rebuilt from sent.ini after a run changed it.
class PendingRefresh {
public:
  virtual ~PendingRefresh() = default;
  virtual void RefreshPending() = 0;
};

// ---- Null objects: the part is not in this program (yet) ----

class NoQuickboard final : public QuickboardLinks {
public:
  void PathMoved(const std::string&, const std::string&, bool) override {}
  void PathRemoved(const std::string&, bool) override {}
  void CaptionChanged(const std::string&, const std::string&) override {}
};

class NoSortingRules final : public SortingRuleLinks {
public:
  std::vector<std::string> FolderMoved(const std::string&, const std::string&) override { return {}; }
};

class NoOpenDocuments final : public OpenDocuments {
public:
  bool IsOpen(const std::string&) const override { return false; }
  bool AnyOpenBelow(const std::string&) const override { return false; }
  void BringForward(const std::string&) override {}
};

class NoPendingRefresh final : public PendingRefresh {
public:
  void RefreshPending() override {}
};

// The stores an operation changes. registry and random are required; a null list or sent.ini
// means this program does not keep it (the command line keeps no new-mail list).
struct OpServices {
  IniRegistry* registry = nullptr;       // required
  RandomSource* random = nullptr;        // required
  MessageQueue* messages = nullptr;
  UnreadList* unread = nullptr;
  NewMailList* newMail = nullptr;
  TPXCustomIni* sent = nullptr;          // sent.ini, open for the run
  std::string documentsFolder;           // all folders end in "/"
  std::string trashFolder;
  std::string contactsFolder;
  std::string ownFromAddress;
  // Where a batch move or copy writes its intent before the first file moves ("" = nowhere).
  std::string journalFolder;
  std::function<void()> rearmWatch;      // re-arms the shown folder's change notification
  std::function<void(bool on)> busy;     // the busy display, shown once a run passes 250 ms
  bool* running = nullptr;               // set while a run goes (the desk's DeskState::busy)
};

// The parts of the program the operations tell or ask.
struct OpCollaborators {
  CollisionResolver& resolver;
  OpenDocuments& openDocs;
  QuickboardLinks& quickboard;
  SortingRuleLinks& rules;
  PendingRefresh& pending;
};

// The collaborators of a program that has none of those parts: collisions take the proposed
// name (never replace), nothing is open, no Quickboard, no rules, no pending list.
class NullCollaborators {
public:
  OpCollaborators Get() { return {resolver_, openDocs_, quickboard_, rules_, pending_}; }

private:
  FixedCollisionResolver resolver_{CollisionAction::Rename};
  NoOpenDocuments openDocs_;
  NoQuickboard quickboard_;
  NoSortingRules rules_;
  NoPendingRefresh pending_;
};

}  // namespace px::store
