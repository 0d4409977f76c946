#include "transport/ui/frm_reg.h"

#include <algorithm>

#include "foundation/address.h"
#include "transport/service_protocol.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace px::transport {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }
}  // namespace

TfrmReg::TfrmReg(RegMode mode, RegRequest request, RegNotify notify, std::string host, QWidget* parent)
    : QDialog(parent), mode_(mode), request_(std::move(request)), notify_(std::move(notify)), host_(std::move(host)) {
  setObjectName(QStringLiteral("frmReg"));
  setWindowTitle(Q(RegCaption(mode)));
  auto* outer = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  outer->addLayout(form);

  edtName = new QLineEdit(this);
  edtName->setObjectName(QStringLiteral("edtName"));
  edtName->setMaxLength(kNameLimit);
  form->addRow(QStringLiteral("Enter your name:"), edtName);

  edtUser = new QLineEdit(this);
  edtUser->setObjectName(QStringLiteral("edtUser"));
  edtUser->setMaxLength(kUserLimit);
  auto* userRow = new QHBoxLayout;
  userRow->addWidget(edtUser);
  auto* domain = new QLineEdit(QStringLiteral("@") + Q(std::string(kServiceMailDomain)), this);
  domain->setReadOnly(true);
  userRow->addWidget(domain);
  form->addRow(Q(UserLabel(mode)), userRow);

  edtPassword = new QLineEdit(this);
  edtPassword->setObjectName(QStringLiteral("edtPassword"));
  edtPassword->setEchoMode(QLineEdit::Password);
  edtPassword->setMaxLength(kPasswordLimit);
  form->addRow(QStringLiteral("Enter your password:"), edtPassword);
  edtRepeat = new QLineEdit(this);
  edtRepeat->setObjectName(QStringLiteral("edtRepeat"));
  edtRepeat->setEchoMode(QLineEdit::Password);
  edtRepeat->setMaxLength(kPasswordLimit);
  form->addRow(QStringLiteral("Re-enter your password:"), edtRepeat);

  cbQuestion = new QComboBox(this);
  cbQuestion->setObjectName(QStringLiteral("cbQuestion"));
  for (const std::string& q : RecoveryQuestions()) cbQuestion->addItem(Q(q));
  cbQuestion->setCurrentIndex(-1);
  edtAnswer = new QLineEdit(this);
  edtAnswer->setObjectName(QStringLiteral("edtAnswer"));
  if (mode == RegMode::Register) {
    form->addRow(QStringLiteral("Choose password recovery question:"), cbQuestion);
    form->addRow(QStringLiteral("Enter password recovery answer:"), edtAnswer);
  } else {
    cbQuestion->hide();
    edtAnswer->hide();
  }
  // The mail service's server: the standard one unless the user names another (a server of
  // their organisation); kept once the address is stored.
  edtServer = new QLineEdit(Q(host_), this);
  edtServer->setObjectName(QStringLiteral("edtServer"));
  edtServer->setPlaceholderText(Q(std::string(kDefaultServiceHost)));
  form->addRow(QStringLiteral("Server:"), edtServer);

  lblForgot = new QLabel(QStringLiteral("<a href=\"#\">Click here if you forgot your password</a>"), this);
  lblForgot->setObjectName(QStringLiteral("lblForgot"));
  lblForgot->setVisible(mode == RegMode::Verify);
  connect(lblForgot, &QLabel::linkActivated, this,
          [this] {
            const std::string server = S(edtServer->text().trimmed());
            QDesktopServices::openUrl(QUrl(Q(ForgottenPasswordUrl(server.empty() ? host_ : server))));
          });
  outer->addWidget(lblForgot);

  lblStatus = new QLabel(QStringLiteral("Make sure you are connected to the Internet."), this);
  lblStatus->setObjectName(QStringLiteral("lblStatus"));
  outer->addWidget(lblStatus);

  btnRegister = new QPushButton(QStringLiteral("Register my new Plumadex e-mail address"), this);
  btnRegister->setObjectName(QStringLiteral("btnRegister"));
  btnVerify = new QPushButton(QStringLiteral("Verify my existing address"), this);
  btnVerify->setObjectName(QStringLiteral("btnVerify"));
  btnRegister->setVisible(mode == RegMode::Register);
  btnVerify->setVisible(mode == RegMode::Verify);
  outer->addWidget(btnRegister);
  outer->addWidget(btnVerify);
  connect(btnRegister, &QPushButton::clicked, this, &TfrmReg::btnActionClick);
  connect(btnVerify, &QPushButton::clicked, this, &TfrmReg::btnActionClick);

  connect(edtUser, &QLineEdit::textEdited, this, [this](const QString& t) {
    const QString lower = Q(LowerUserName(S(t)));
    if (lower != t) {
      const int pos = edtUser->cursorPosition();
      edtUser->setText(lower);
      edtUser->setCursorPosition(pos);
    }
  });
  for (QLineEdit* e : {edtName, edtUser, edtPassword, edtRepeat})
    connect(e, &QLineEdit::textChanged, this, &TfrmReg::UpdateEnabled);
  UpdateEnabled();
}

RegFields TfrmReg::Fields() const {
  RegFields f;
  f.name = S(edtName->text());
  f.user = S(edtUser->text());
  f.password = S(edtPassword->text());
  f.repeat = S(edtRepeat->text());
  f.question = cbQuestion->currentIndex() + 1;
  f.answer = S(edtAnswer->text());
  f.server = S(edtServer->text().trimmed());
  return f;
}

void TfrmReg::UpdateEnabled() {
  const bool on = ActionsEnabled(Fields());
  btnRegister->setEnabled(on);
  btnVerify->setEnabled(on);
}

void TfrmReg::FocusOn(RegFocus f) {
  switch (f) {
    case RegFocus::Name: edtName->setFocus(); break;
    case RegFocus::User: edtUser->setFocus(); break;
    case RegFocus::Password: edtPassword->setFocus(); break;
    case RegFocus::Question: cbQuestion->setFocus(); break;
    case RegFocus::Answer: edtAnswer->setFocus(); break;
    case RegFocus::Server: edtServer->setFocus(); break;
    case RegFocus::None: break;
  }
}

void TfrmReg::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (edtName->text().isEmpty())
    edtName->setFocus();
  else if (edtUser->text().isEmpty())
    edtUser->setFocus();
  else
    edtPassword->setFocus();
}

void TfrmReg::btnActionClick() {
  const RegCheck check = CheckRegFields(mode_, Fields());
  if (!check.proceed) {
    if (check.warning.empty()) return;
    if (check.clearPasswords) {
      edtPassword->clear();
      edtRepeat->clear();
    }
    if (notify_) notify_(MessageKind::Warning, check.warning);
    FocusOn(check.focus);
    btnRegister->setEnabled(false);
    btnVerify->setEnabled(false);
    return;
  }
  const bool regShown = btnRegister->isVisible(), verShown = btnVerify->isVisible();
  btnRegister->hide();
  btnVerify->hide();
  lblStatus->setText(Q(BusyText(mode_)));
  lblStatus->show();
  repaint();
  const RegResult r = request_ ? request_(mode_, Fields()) : RegResult{};
  lblStatus->hide();
  btnRegister->setVisible(regShown);
  btnVerify->setVisible(verShown);
  edtUser->setFocus();
  if (!r.message.empty() && notify_) notify_(r.kind, r.message);
  if (r.stored) {
    completed_ = true;
    accept();
  }
}

TfrmReg2::TfrmReg2(const WelcomeView& view, std::function<bool(RegMode)> openAddressWindow, QWidget* parent)
    : QDialog(parent), openAddressWindow_(std::move(openAddressWindow)) {
  setObjectName(QStringLiteral("frmReg2"));
  setWindowTitle(Q(view.caption));
  auto* outer = new QVBoxLayout(this);
  auto* prompt = new QLabel(Q(view.prompt), this);
  prompt->setObjectName(QStringLiteral("lblPrompt"));
  prompt->setWordWrap(true);
  outer->addWidget(prompt);
  for (WelcomeChoice c : view.choices) {
    auto* b = new QPushButton(Q(WelcomeChoiceText(c)), this);
    b->setAutoDefault(false);
    outer->addWidget(b);
    buttons_.emplace_back(c, b);
    connect(b, &QPushButton::clicked, this, [this, c] { choose(c); });
  }
  // Wide enough for the title bar to show the whole caption beside its buttons.
  setMinimumWidth(std::max(sizeHint().width(), fontMetrics().horizontalAdvance(windowTitle()) + 160));
}

QPushButton* TfrmReg2::Button(WelcomeChoice c) const {
  for (const auto& [choice, b] : buttons_)
    if (choice == c) return b;
  return nullptr;
}

void TfrmReg2::choose(WelcomeChoice c) {
  switch (c) {
    case WelcomeChoice::UseThis:
    case WelcomeChoice::OwnAccountsOnly:
      chosen_ = c;
      accept();
      return;
    default:
      if (openAddressWindow_ && openAddressWindow_(ModeOf(c))) {
        chosen_ = c;
        accept();
      }
  }
}

}  // namespace px::transport
