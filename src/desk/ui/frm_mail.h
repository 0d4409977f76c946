#pragma once
// The transfer window "Plumadex Connect": the send side with its bar and Stop, the accounts of
// the receive run with ticks, and the receive bar, "Connecting..." and Skip on the row of the
// account being visited. It shows a snapshot of the run (TransferRun::Snapshot) and never
// reads the workers itself. While a run is active, closing it only minimises it.
#include "desk/transfer_run.h"

#include <QWidget>

#include <functional>

class QLabel;
class QListWidget;
class QPushButton;

namespace px::desk {

class TPXProgressBar;

class TfrmMail : public QWidget {
public:
  explicit TfrmMail(QWidget* parent = nullptr);
  ~TfrmMail() override;

  void Refresh(const TransferSnapshot& s);
  // The run has ended: the window may close for good.
  void SetRunActive(bool on) { active_ = on; }

  std::function<void()> onStop;  // "Stop": stop sending
  std::function<void()> onSkip;  // "Skip": go on with the next account

  QLabel* lblSend = nullptr;
  TPXProgressBar* pbSendMail = nullptr;
  QPushButton* btnStop = nullptr;
  QLabel* lblReceive = nullptr;
  QListWidget* lstAccounts = nullptr;
  QWidget* pnlAccountRow = nullptr;   // bar, "Connecting..." and Skip, moved to the visited row
  TPXProgressBar* pbReceiveMail = nullptr;
  QLabel* lblConnecting = nullptr;
  QPushButton* btnSkip = nullptr;
  QLabel* lblLog = nullptr;           // what the run did: "Sent to ..."

protected:
  void closeEvent(QCloseEvent* e) override;

private:
  void PlaceAccountRow(int row);
  bool active_ = true;
  QStringList shownAccounts_;
};

}  // namespace px::desk
