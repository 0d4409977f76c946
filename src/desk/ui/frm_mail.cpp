#include "desk/ui/frm_mail.h"

#include "desk/ui/progress_bar.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace px::desk {

TfrmMail::TfrmMail(QWidget* parent) : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("frmMail"));
  setWindowTitle(QStringLiteral("Plumadex Connect"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  auto* v = new QVBoxLayout(this);
  lblSend = new QLabel(QStringLiteral("Sending mail to Plumadex server"), this);
  v->addWidget(lblSend);
  auto* send = new QHBoxLayout;
  pbSendMail = new TPXProgressBar(this);
  pbSendMail->setObjectName(QStringLiteral("pbSendMail"));
  pbSendMail->setMinimumWidth(220);
  btnStop = new QPushButton(QStringLiteral("Stop"), this);
  send->addWidget(pbSendMail, 1);
  send->addWidget(btnStop);
  v->addLayout(send);
  lblReceive = new QLabel(QStringLiteral("Receiving mail from..."), this);
  v->addWidget(lblReceive);
  lstAccounts = new QListWidget(this);
  lstAccounts->setSelectionMode(QAbstractItemView::SingleSelection);
  lstAccounts->setMinimumHeight(110);
  v->addWidget(lstAccounts, 1);
  lblLog = new QLabel(this);
  lblLog->setObjectName(QStringLiteral("lblLog"));
  lblLog->setWordWrap(true);
  lblLog->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblLog->hide();
  v->addWidget(lblLog);

  // The row's controls sit over the right part of the list, on the visited account's row.
  pnlAccountRow = new QWidget(lstAccounts->viewport());
  auto* row = new QHBoxLayout(pnlAccountRow);
  row->setContentsMargins(0, 0, 0, 0);
  pbReceiveMail = new TPXProgressBar(pnlAccountRow);
  pbReceiveMail->setObjectName(QStringLiteral("pbReceiveMail"));
  pbReceiveMail->setFixedWidth(170);
  lblConnecting = new QLabel(QStringLiteral("Connecting..."), pnlAccountRow);
  btnSkip = new QPushButton(QStringLiteral("Skip"), pnlAccountRow);
  row->addWidget(lblConnecting);
  row->addWidget(pbReceiveMail);
  row->addWidget(btnSkip);
  pnlAccountRow->hide();

  connect(btnStop, &QPushButton::clicked, this, [this] {
    btnStop->hide();
    if (onStop) onStop();
  });
  connect(btnSkip, &QPushButton::clicked, this, [this] {
    btnSkip->hide();
    if (onSkip) onSkip();
  });
  resize(QSize(460, 260).expandedTo(sizeHint()));
}

TfrmMail::~TfrmMail() = default;

void TfrmMail::Refresh(const TransferSnapshot& s) {
  lblLog->setText(s.log.join(QLatin1Char('\n')));
  lblLog->setVisible(!s.log.isEmpty());
  lblSend->setEnabled(s.sending);
  pbSendMail->setVisible(s.sending && !s.sendConnecting);
  if (!s.sending) btnStop->hide();
  else if (!btnStop->isVisible() && s.sendMaximum == 0) btnStop->show();
  pbSendMail->SetRange(0, s.sendMaximum);
  pbSendMail->SetPosition(s.sendPosition);

  lblReceive->setEnabled(s.receiving);
  lstAccounts->setEnabled(s.receiving);
  if (s.accounts != shownAccounts_) {
    shownAccounts_ = s.accounts;
    lstAccounts->clear();
    for (int i = 0; i < s.accounts.size(); ++i) {
      auto* item = new QListWidgetItem(s.accounts[i], lstAccounts);
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      const bool ticked = i < s.accountTicked.size() ? s.accountTicked[i] : true;
      item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    }
    btnSkip->show();
  }
  const bool onRow = s.receiving && s.receiveAccount >= 0 && s.receiveAccount < lstAccounts->count();
  if (!onRow) {
    pnlAccountRow->hide();
    return;
  }
  if (lstAccounts->currentRow() != s.receiveAccount) {
    lstAccounts->setCurrentRow(s.receiveAccount);
    btnSkip->show();  // a new account may be skipped again
  }
  lblConnecting->setVisible(s.receiveConnecting);
  pbReceiveMail->setVisible(!s.receiveConnecting);
  pbReceiveMail->SetRange(0, s.receiveMaximum);
  pbReceiveMail->SetPosition(s.receivePosition);
  PlaceAccountRow(s.receiveAccount);
}

void TfrmMail::PlaceAccountRow(int row) {
  QListWidgetItem* item = lstAccounts->item(row);
  if (!item) return;
  lstAccounts->scrollToItem(item);
  const QRect r = lstAccounts->visualItemRect(item);
  const QSize hint = pnlAccountRow->sizeHint();
  const int width = std::min(hint.width(), lstAccounts->viewport()->width());
  const int height = std::max(r.height(), hint.height());
  pnlAccountRow->setGeometry(lstAccounts->viewport()->width() - width, r.top() + (r.height() - height) / 2, width,
                             height);
  pnlAccountRow->show();
  pnlAccountRow->raise();
}

void TfrmMail::closeEvent(QCloseEvent* e) {
  if (active_) {
    // A run is going: the window only steps aside.
    e->ignore();
    showMinimized();
    return;
  }
  QWidget::closeEvent(e);
}

}  // namespace px::desk
