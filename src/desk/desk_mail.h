#pragma once
// The desk's side of received mail: the blocked senders, and filing what waits in the spool.
// Filing runs in slices from the event loop (a burst of thousands of messages never freezes
// the window) and reports its progress; the desk shows it and relists the shown folder at the
// end.
#include <QObject>

#include <functional>
#include <memory>
#include <string>

#include "desk/desk_state.h"
#include "foundation/random.h"
#include "incoming/blocked_senders.h"
#include "incoming/filing_seams.h"

namespace px::incoming {
class MailFiler;
}
namespace px::store {
struct DocRecord;
}

namespace px::desk {

class DeskMail : public QObject {
  Q_OBJECT
public:
  // Makes the state's blocked senders when there are none yet (loaded by LoadLists once the
  // data root is known).
  explicit DeskMail(DeskState& state, QObject* parent = nullptr);
  // Loads "blacklist.lst" of the data root.
  void LoadLists();
  ~DeskMail() override;

  incoming::BlockedSenders& blocked() { return *state_.blockedSenders; }
  std::string BlockedListPath() const;

  // The stored form of the sender a grid row offers to block; "" when the row is not
  // received mail or names no sender.
  static std::string BlockableSender(const store::DocRecord& row);
  // The question asked before blocking (%1: the stored form).
  static std::string BlockQuestion(const std::string& storedForm);
  // Blocks (or unblocks); the list is saved at once.
  void Block(const std::string& storedForm);
  void Unblock(const std::string& storedForm);

  // Starts filing when no filing runs; true when a run started. Another process filing the
  // same spool is no error: the next tick tries again.
  bool StartFiling();
  // Puts what filing kept aside in the quarantine back into the spool and starts filing it
  // again; the number of messages put back (0 while filing or a transfer runs, or when the
  // quarantine holds nothing that can be filed). Failures to move go to the message window.
  size_t RefileQuarantine();
  bool Filing() const { return filer_ != nullptr; }
  // Milliseconds of work per slice.
  void SetSliceMs(int ms) { sliceMs_ = ms; }

  // A transfer run is going on: filing waits for its end (the receivers are still adding files).
  std::function<bool()> transferRunning;
  // The folder the grid shows (no new-mail mark there).
  std::function<std::string()> shownFolder;
  // A delivery record was added to an entry (the grid updates the row when shown).
  std::function<void(const std::string& folder, const std::string& section)> deliveryRecorded;

signals:
  // phase 1-4 (5: the sorting actions); done of total files of that phase.
  void filingProgress(int phase, qint64 done, qint64 total);
  // newMessages: new messages counted; changed: any document or receipt was filed.
  void filingFinished(qint64 newMessages, bool changed);

private:
  void step();

  DeskState& state_;
  RandomSource random_;
  std::unique_ptr<incoming::MailFiler> filer_;
  std::unique_ptr<incoming::Decryptor> decryptor_;
  int sliceMs_ = 40;
};

}  // namespace px::desk
