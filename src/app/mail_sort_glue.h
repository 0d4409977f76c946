#pragma once
// Ties the sorting rules and the preview of mail on the server to the desk.
//
// Mail menu: "Mail Sorting Rules..." opens the rules window on the desk's rules; "Apply Rules
// Now" runs them over the shown folder; "Sort Mail..." (also in a received message's context
// menu) makes a rule from the selected messages' senders into a chosen folder and opens the
// rules window on it; "File Quarantined Mail Again" puts back what filing kept aside;
// "Preview Mail on Server..." lists the waiting mail of every account without downloading it
// and opens "Plumadex Mail" on the list, whose buttons start preview runs on the ticked rows.
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "incoming/mail_preview.h"

namespace px::desk {
class TfrmDesk;
struct DeskState;
}  // namespace px::desk
namespace px::transport {
class ThreadRecvChain;
}
namespace px::incoming {
class TfrmMailPreview;
class TfrmMailSort;
}  // namespace px::incoming

namespace px::app {

class MailSortHost : public QObject {
  Q_OBJECT
public:
  MailSortHost(desk::TfrmDesk& desk, desk::DeskState& state);

  // Opens the rules window, with the named rule chosen when there is one.
  void OpenRules(const std::string& rule = {});
  void ApplyRulesNow();
  // Quick sort of the selected received messages' senders (false when none is selected).
  bool SortSelectedMail();
  void RefileQuarantine();

  // The folder quick sort files into; tests set it instead of the folder chooser.
  std::function<std::string()> chooseFolder;
  // The rules window while it is open (tests drive it).
  QPointer<incoming::TfrmMailSort> rulesWindow;

private:
  std::vector<std::string> SelectedSenders() const;
  void Wire();
  desk::TfrmDesk& desk_;
  desk::DeskState& state_;
};

class MailPreviewHost : public QObject {
  Q_OBJECT
public:
  MailPreviewHost(desk::TfrmDesk& desk, desk::DeskState& state);
  ~MailPreviewHost() override;

  // Lists the waiting mail; the window opens when the run has found any.
  void Preview();
  bool Running() const { return chain_ != nullptr; }
  incoming::MailPreviewList& list() { return list_; }
  QPointer<incoming::TfrmMailPreview> window;

signals:
  // A preview run has ended (listing or action).
  void runEnded();

private:
  // Every link lists (action false), or only `account`'s link works on its ticked rows.
  bool StartRun(bool action, const std::string& account = {}, bool deleteOnly = false);
  void RunFinished(bool action);
  void OpenWindow();

  desk::TfrmDesk& desk_;
  desk::DeskState& state_;
  incoming::MailPreviewList list_;
  transport::ThreadRecvChain* chain_ = nullptr;
  int spooled_ = 0;
};

void InstallMailSorting(desk::TfrmDesk& desk, desk::DeskState& state);

}  // namespace px::app
