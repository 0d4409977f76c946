#pragma once
// TfrmMailPreview, "Plumadex Mail": the mail waiting on each account, one tab per account,
// a ticked list of "From", "Subject", "Received", "Size". A thin view of MailPreviewList: the
// rows change when the preview runs report, and the buttons hand the ticked rows of the shown
// account to whoever starts those runs.
#include <QDialog>

#include <functional>
#include <string>

#include "incoming/mail_preview.h"

class QPushButton;
class QTabBar;
class QTreeWidget;

namespace px::incoming {

class BlockedSenders;

class TfrmMailPreview : public QDialog {
  Q_OBJECT
public:
  TfrmMailPreview(MailPreviewList& list, BlockedSenders& blocked, QWidget* parent = nullptr);
  ~TfrmMailPreview() override;

  // The account of the shown tab ("" when none).
  std::string CurrentAccount() const;
  // A run on the ticked rows of `account` was asked for (deleteOnly: Delete Selected). The
  // owner starts it and calls RunEnded when it is over.
  std::function<void(const std::string& account, bool deleteOnly)> startAction;
  // "Delete selected messages from server?"; tests answer it.
  std::function<bool()> confirmDelete;
  // Shows an information text (Block Selected); tests read it.
  std::function<void(const std::string& text)> inform;
  // The run has ended: the tabs come back; an empty list closes the window.
  void RunEnded();
  bool Running() const { return running_; }

  QTabBar* tabAccounts = nullptr;
  QTreeWidget* lstMessages = nullptr;
  QPushButton *btnSelectAll = nullptr, *btnUnselectAll = nullptr, *btnReceive = nullptr, *btnDelete = nullptr,
              *btnBlock = nullptr, *btnClose = nullptr;

private:
  void fillTabs();
  void fillRows();
  void updateButtons();
  void act(bool deleteOnly);

  MailPreviewList& list_;
  BlockedSenders& blocked_;
  bool filling_ = false;
  bool running_ = false;
  std::string shown_;  // the account whose rows are listed
};

}  // namespace px::incoming
