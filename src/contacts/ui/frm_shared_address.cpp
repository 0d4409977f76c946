#include "contacts/ui/frm_shared_address.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "contacts/contact_summary.h"
#include "foundation/address.h"

namespace px::contacts::ui {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

// A contact as the pop-up shows it, with line breaks: the postal address it has, and its
// e-mail addresses even when it has nothing else.
QString Details(AddrRec rec, bool firstNameFirst) {
  for (int t = 0; t < 3 && rec.Address(rec.shownAddressType).Empty(); ++t)
    if (!rec.Address(t).Empty()) rec.shownAddressType = static_cast<uint8_t>(t);
  std::string s = ContactSummary(rec, '\n', firstNameFirst);
  if (s.find("E-mail:") == std::string::npos && s.find("Name: ") == std::string::npos) {
    s = "Name: " + JoinPersonName(rec.firstName, rec.lastName, firstNameFirst) + "\nE-mail:";
    if (!rec.primaryEmail.empty()) s += "\n   " + rec.primaryEmail;
    for (const std::string& e : rec.OtherEmailList()) s += "\n   " + e;
  }
  return Q(s);
}

QLabel* Plain(const QString& text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  l->setTextFormat(Qt::PlainText);
  l->setWordWrap(true);
  return l;
}

}  // namespace

TfrmSharedAddress::TfrmSharedAddress(const SharedAddressQuestion& q, bool firstNameFirst, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("TfrmSharedAddress"));
  setWindowTitle(Q(std::string(kSharedAddressTitle)));
  auto* top = new QVBoxLayout(this);
  std::string question = SharedAddressText(q, firstNameFirst);
  for (char& c : question)
    if (c == '\r') c = '\n';
  lblQuestion = Plain(Q(question), this);
  lblQuestion->setObjectName(QStringLiteral("lblQuestion"));
  top->addWidget(lblQuestion);

  auto* grid = new QGridLayout;
  auto* headExisting = new QLabel(QStringLiteral("In Contacts:"), this);
  auto* headIncoming = new QLabel(QStringLiteral("On the card:"), this);
  QFont bold = headExisting->font();
  bold.setBold(true);
  headExisting->setFont(bold);
  headIncoming->setFont(bold);
  lblExisting = Plain(Details(q.existing, firstNameFirst), this);
  lblIncoming = Plain(Details(q.incoming, firstNameFirst), this);
  for (QLabel* l : {lblExisting, lblIncoming}) {
    l->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    l->setFrameShape(QFrame::StyledPanel);
    l->setMargin(6);
    l->setMinimumWidth(220);
  }
  grid->addWidget(headExisting, 0, 0);
  grid->addWidget(headIncoming, 0, 1);
  grid->addWidget(lblExisting, 1, 0);
  grid->addWidget(lblIncoming, 1, 1);
  top->addLayout(grid, 1);

  chkForAll = new QCheckBox(Q(std::string(kSharedAddressForAll)), this);
  chkForAll->setObjectName(QStringLiteral("chkForAll"));
  chkForAll->setVisible(q.remaining > 0);
  top->addWidget(chkForAll);

  btnMerge = new QPushButton(QStringLiteral("&Merge"), this);
  btnMerge->setObjectName(QStringLiteral("btnMerge"));
  btnMerge->setToolTip(QStringLiteral("Add what only the card has to the contact"));
  btnKeepBoth = new QPushButton(QStringLiteral("&Keep both"), this);
  btnKeepBoth->setObjectName(QStringLiteral("btnKeepBoth"));
  btnKeepBoth->setToolTip(QStringLiteral("Add the card as a contact of its own"));
  btnSkip = new QPushButton(QStringLiteral("&Skip"), this);
  btnSkip->setObjectName(QStringLiteral("btnSkip"));
  btnSkip->setToolTip(QStringLiteral("Leave the card out"));
  btnMerge->setDefault(true);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(btnMerge);
  row->addWidget(btnKeepBoth);
  row->addWidget(btnSkip);
  top->addLayout(row);
  top->setSizeConstraint(QLayout::SetMinimumSize);

  auto answer = [this](SharedAddressChoice c) {
    choice_ = c;
    accept();
  };
  connect(btnMerge, &QPushButton::clicked, this, [answer] { answer(SharedAddressChoice::Merge); });
  connect(btnKeepBoth, &QPushButton::clicked, this, [answer] { answer(SharedAddressChoice::KeepBoth); });
  connect(btnSkip, &QPushButton::clicked, this, [answer] { answer(SharedAddressChoice::Skip); });
  connect(this, &QDialog::rejected, this, [this] { choice_ = SharedAddressChoice::Skip; });
}

SharedAddressAnswer TfrmSharedAddress::Answer() const {
  return {choice_, !chkForAll->isHidden() && chkForAll->isChecked()};
}

SharedAddressAnswer TfrmSharedAddress::Ask(const SharedAddressQuestion& q, bool firstNameFirst, QWidget* parent) {
  TfrmSharedAddress dlg(q, firstNameFirst, parent);
  dlg.exec();
  return dlg.Answer();
}

}  // namespace px::contacts::ui
