#include "desk/ui/frm_options.h"

#include "desk/account_editor.h"
#include "foundation/charset.h"
#include "foundation/random.h"
#include "foundation/strings.h"
#include "foundation/ui/font_value_qt.h"
#include "incoming/blocked_senders.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace px::desk {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

void PaintSwatch(QPushButton* b, ColorRef c) {
  const QColor q = c == kDefaultColor ? QColor(Qt::lightGray) : ui::ToQColor(c);
  b->setStyleSheet(QStringLiteral("background-color: %1; border: 1px solid gray;").arg(q.name()));
}

QLabel* MakeNote(QWidget* parent, const std::string& text) {
  auto* l = new QLabel(Q(text), parent);
  l->setWordWrap(true);
  l->setStyleSheet(QStringLiteral("color: #705000; font-style: italic;"));
  return l;
}

}  // namespace

TfrmOptions::TfrmOptions(OptionsServices services, OptionPage first, QWidget* parent)
    : QDialog(parent), svc_(std::move(services)) {
  setObjectName(QStringLiteral("frmOptions"));
  setWindowTitle(QStringLiteral("Options"));
  auto* outer = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  outer->addLayout(row, 1);
  lstPages = new QListWidget(this);
  lstPages->setObjectName(QStringLiteral("lstPages"));
  lstPages->setFixedWidth(330);
  lstPages->setSpacing(2);
  row->addWidget(lstPages);
  pnlPages = new QStackedWidget(this);
  row->addWidget(pnlPages, 1);
  for (int i = 0; i < kOptionPageCount; ++i) {
    const auto page = static_cast<OptionPage>(i);
    lstPages->addItem(Q(OptionPageCaption(page)));
    auto* frame = new QFrame(pnlPages);
    frame->setObjectName(Q(OptionPanelName(page)));
    panels_[i] = frame;
    pnlPages->addWidget(frame);
    switch (page) {
      case OptionPage::Personal: BuildPersonal(frame); break;
      case OptionPage::Appearance: BuildAppearance(frame); break;
      case OptionPage::PXMail: BuildPXMail(frame); break;
      case OptionPage::ExtMail: BuildExtMail(frame); break;
      case OptionPage::BlackList: BuildBlackList(frame); break;
      case OptionPage::Encryption:
        if (svc_.encryptionState) BuildEncryption(frame);
        else BuildWaiting(frame, page);
        break;
      default: BuildWaiting(frame, page); break;
    }
  }
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  btnApplySettings = new QPushButton(QStringLiteral("OK"), this);
  btnApplySettings->setObjectName(QStringLiteral("btnApplySettings"));
  btnApplySettings->setDefault(true);
  bottom->addWidget(btnApplySettings);
  bottom->addStretch(1);
  outer->addLayout(bottom);
  connect(btnApplySettings, &QPushButton::clicked, this, &TfrmOptions::accept);
  connect(lstPages, &QListWidget::currentRowChanged, this, [this](int r) {
    if (r < 0 || (anyShown_ && static_cast<int>(shown_) == r)) return;
    ShowSettings(static_cast<OptionPage>(r));
  });
  ShowSettings(first);
  resize(QSize(980, 580).expandedTo(sizeHint()));
}

TfrmOptions::~TfrmOptions() = default;

// --- building ---

void TfrmOptions::BuildPersonal(QFrame* p) {
  auto* form = new QFormLayout(p);
  edtUserName = new QLineEdit(p);
  form->addRow(QStringLiteral("Your name:"), edtUserName);
  edtUserAddress = new QLineEdit(p);
  edtUserAddress->setReadOnly(true);
  form->addRow(QStringLiteral("Plumadex address:"), edtUserAddress);
  cbFrom = new QCheckBox(QStringLiteral("Use alternative 'From' address"), p);
  form->addRow(cbFrom);
  lstFrom = new QListWidget(p);
  lstFrom->setMaximumHeight(90);
  form->addRow(lstFrom);
  auto* fromButtons = new QHBoxLayout;
  btnFromAdd = new QPushButton(QStringLiteral("Add"), p);
  btnFromEdit = new QPushButton(QStringLiteral("Edit"), p);
  btnFromRemove = new QPushButton(QStringLiteral("Remove"), p);
  edtFrom = new QLineEdit(p);
  btnFromSave = new QPushButton(QStringLiteral("Save"), p);
  for (QWidget* w : {static_cast<QWidget*>(btnFromAdd), static_cast<QWidget*>(btnFromEdit),
                     static_cast<QWidget*>(btnFromRemove), static_cast<QWidget*>(edtFrom),
                     static_cast<QWidget*>(btnFromSave)})
    fromButtons->addWidget(w);
  edtFrom->hide();
  btnFromSave->hide();
  form->addRow(fromButtons);
  auto* formats = new QHBoxLayout;
  rbRichText = new QRadioButton(QStringLiteral("Rich Text (HTML)"), p);
  rbPlainText = new QRadioButton(QStringLiteral("Plain text"), p);
  formats->addWidget(rbRichText);
  formats->addWidget(rbPlainText);
  formats->addStretch(1);
  form->addRow(QStringLiteral("Message format:"), formats);
  cbCharset = new QComboBox(p);
  for (const auto& r : CharsetRows()) cbCharset->addItem(Q(r.description));
  form->addRow(QStringLiteral("Default character set:"), cbCharset);
  chkUseSignature = new QCheckBox(QStringLiteral("Add Signature"), p);
  form->addRow(chkUseSignature);
  edtSignature = new QPlainTextEdit(p);
  edtSignature->setMaximumHeight(90);
  form->addRow(edtSignature);
  chkNoTags = new QCheckBox(QStringLiteral("Do not add the Plumadex line to sent mail"), p);
  form->addRow(chkNoTags);

  connect(chkUseSignature, &QCheckBox::toggled, edtSignature, &QWidget::setVisible);
  connect(btnFromAdd, &QPushButton::clicked, this, &TfrmOptions::btnFromAddClick);
  connect(btnFromEdit, &QPushButton::clicked, this, &TfrmOptions::btnFromEditClick);
  connect(btnFromRemove, &QPushButton::clicked, this, &TfrmOptions::btnFromRemoveClick);
  connect(btnFromSave, &QPushButton::clicked, this, &TfrmOptions::btnFromSaveClick);
  connect(edtFrom, &QLineEdit::returnPressed, this, &TfrmOptions::btnFromSaveClick);
  connect(lstFrom, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    TickFromEntry(personalEdit_, lstFrom->row(item), item->checkState() == Qt::Checked);
    FillFromList();  // at most one entry stays ticked
  });
}

void TfrmOptions::BuildAppearance(QFrame* p) {
  auto* v = new QVBoxLayout(p);
  auto* skin = new QGroupBox(QStringLiteral("Skin"), p);
  auto* sl = new QVBoxLayout(skin);
  rbNoSkin = new QRadioButton(QStringLiteral("No Skin"), skin);
  rbPXSkin = new QRadioButton(QStringLiteral("Plumadex Skin"), skin);
  rbNoSkin->setChecked(true);
  sl->addWidget(rbNoSkin);
  sl->addWidget(rbPXSkin);
  sl->addWidget(MakeNote(skin, "Skins will be offered here once the skin engine is part of Plumadex."));
  rbNoSkin->setEnabled(false);
  rbPXSkin->setEnabled(false);
  v->addWidget(skin);

  auto* dash = new QGroupBox(QStringLiteral("Quickboard color"), p);
  auto* dl = new QHBoxLayout(dash);
  rbDefaultColor = new QRadioButton(QStringLiteral("Default system color"), dash);
  rbCustomColor = new QRadioButton(QStringLiteral("Custom color:"), dash);
  pnlDashColor = new QPushButton(dash);
  pnlDashColor->setObjectName(QStringLiteral("pnlDashColor"));
  pnlDashColor->setFixedSize(40, 20);
  dl->addWidget(rbDefaultColor);
  dl->addWidget(rbCustomColor);
  dl->addWidget(pnlDashColor);
  dl->addStretch(1);
  v->addWidget(dash);

  chkSliding = new QCheckBox(QStringLiteral("Use sliding effects"), p);
  v->addWidget(chkSliding);

  auto* hl = new QGroupBox(QStringLiteral("Pending files highlighting"), p);
  auto* hll = new QHBoxLayout(hl);
  chkHighlightFontBold = new QCheckBox(QStringLiteral("Bold font"), hl);
  chkHighlightFontColor = new QCheckBox(QStringLiteral("Different color"), hl);
  pnlHighlightFontColor = new QPushButton(hl);
  pnlHighlightFontColor->setObjectName(QStringLiteral("pnlHighlightFontColor"));
  pnlHighlightFontColor->setFixedSize(40, 20);
  hll->addWidget(chkHighlightFontBold);
  hll->addWidget(chkHighlightFontColor);
  hll->addWidget(pnlHighlightFontColor);
  hll->addStretch(1);
  v->addWidget(hl);

  auto* fonts = new QGroupBox(QStringLiteral("Fonts"), p);
  auto* fl = new QHBoxLayout(fonts);
  btnTreeFont = new QPushButton(QStringLiteral("Folder tree..."), fonts);
  btnGridFont = new QPushButton(QStringLiteral("File list..."), fonts);
  btnTextFont = new QPushButton(QStringLiteral("Plain Text editor..."), fonts);
  btnHTMLFont = new QPushButton(QStringLiteral("Rich Text (HTML) editor..."), fonts);
  for (auto* b : {btnTreeFont, btnGridFont, btnTextFont, btnHTMLFont}) fl->addWidget(b);
  v->addWidget(fonts);
  v->addStretch(1);

  connect(btnTreeFont, &QPushButton::clicked, this, [this] { ChooseFont(FontRole::Folder); });
  connect(btnGridFont, &QPushButton::clicked, this, [this] { ChooseFont(FontRole::File); });
  connect(btnTextFont, &QPushButton::clicked, this, [this] { ChooseFont(FontRole::TextEditor); });
  connect(btnHTMLFont, &QPushButton::clicked, this, [this] { ChooseFont(FontRole::HtmlEditor); });
  connect(pnlDashColor, &QPushButton::clicked, this, [this] { ChooseColor(pnlDashColor); });
  connect(pnlHighlightFontColor, &QPushButton::clicked, this, [this] { ChooseColor(pnlHighlightFontColor); });
}

void TfrmOptions::BuildPXMail(QFrame* p) {
  auto* v = new QVBoxLayout(p);
  auto* check = new QHBoxLayout;
  chkAutoCheck = new QCheckBox(QStringLiteral("Check new mail every"), p);
  edtInterval = new QSpinBox(p);
  edtInterval->setRange(kMinCheckInterval, kMaxCheckInterval);
  check->addWidget(chkAutoCheck);
  check->addWidget(edtInterval);
  check->addWidget(new QLabel(QStringLiteral("minutes"), p));
  check->addStretch(1);
  v->addLayout(check);
  auto* local = new QHBoxLayout;
  cbLocal = new QCheckBox(QStringLiteral("Connect to local server"), p);
  edtLocalServer = new QLineEdit(p);
  edtLocalServer->setPlaceholderText(QStringLiteral("host or host:port"));
  local->addWidget(cbLocal);
  local->addWidget(edtLocalServer, 1);
  v->addLayout(local);
  chkKeepOnServer = new QCheckBox(QStringLiteral("Leave a copy of messages on the server"), p);
  v->addWidget(chkKeepOnServer);
  connect(cbLocal, &QCheckBox::toggled, edtLocalServer, &QWidget::setEnabled);
  // The server is used from the moment it is changed (the address set-up of this page, the
  // next transfer), not only once the page is left.
  connect(cbLocal, &QCheckBox::toggled, this, [this] { ApplyLocalServer(); });
  connect(edtLocalServer, &QLineEdit::editingFinished, this, [this] { ApplyLocalServer(); });

  auto* address = new QGroupBox(QStringLiteral("Plumadex address"), p);
  auto* al = new QHBoxLayout(address);
  lblServiceAddress = new QLabel(address);
  lblServiceAddress->setWordWrap(true);
  btnSetUpAddress = new QPushButton(QStringLiteral("Set up Plumadex address..."), address);
  al->addWidget(lblServiceAddress, 1);
  al->addWidget(btnSetUpAddress);
  v->addWidget(address);
  connect(btnSetUpAddress, &QPushButton::clicked, this, [this] {
    if (svc_.setUpAddress) svc_.setUpAddress();
    FillServiceAddress();
    if (svc_.settings) personalShown_.userAddress = ShowPersonal(*svc_.settings).userAddress;
  });

  auto* pass = new QGroupBox(QStringLiteral("Change password"), p);
  auto* pf = new QFormLayout(pass);
  edtOldPassword = new QLineEdit(pass);
  edtNewPassword = new QLineEdit(pass);
  edtConfirmPassword = new QLineEdit(pass);
  for (auto* e : {edtOldPassword, edtNewPassword, edtConfirmPassword}) {
    e->setEchoMode(QLineEdit::Password);
    e->setMaxLength(20);
    connect(e, &QLineEdit::textChanged, this, [this] { UpdatePasswordButton(); });
  }
  pf->addRow(QStringLiteral("Old password:"), edtOldPassword);
  pf->addRow(QStringLiteral("New password:"), edtNewPassword);
  pf->addRow(QStringLiteral("Confirm new password:"), edtConfirmPassword);
  chkSavePassword = new QCheckBox(QStringLiteral("Save password on disk"), pass);
  pf->addRow(chkSavePassword);
  btnChangePassword = new QPushButton(QStringLiteral("Change password"), pass);
  pf->addRow(btnChangePassword);
  v->addWidget(pass);
  v->addStretch(1);
  connect(btnChangePassword, &QPushButton::clicked, this, &TfrmOptions::btnChangePasswordClick);
}

void TfrmOptions::BuildExtMail(QFrame* p) {
  auto* v = new QVBoxLayout(p);
  v->addWidget(new QLabel(QStringLiteral("Your own mail accounts (POP3 for receiving, SMTP for sending):"), p));
  lstAccount = new QListWidget(p);
  v->addWidget(lstAccount, 1);
  btnAccounts = new QPushButton(QStringLiteral("Set up accounts..."), p);
  btnAccounts->setObjectName(QStringLiteral("btnAccounts"));
  v->addWidget(btnAccounts, 0, Qt::AlignLeft);
  connect(btnAccounts, &QPushButton::clicked, this, [this] {
    if (svc_.openAccounts) svc_.openAccounts();
    FillAccounts();
  });
  connect(lstAccount, &QListWidget::itemDoubleClicked, btnAccounts, &QPushButton::click);
}

void TfrmOptions::BuildBlackList(QFrame* p) {
  auto* v = new QVBoxLayout(p);
  v->addWidget(new QLabel(QStringLiteral("Mail from these senders is not received:"), p));
  lstBlocked = new QListWidget(p);
  lstBlocked->setSelectionMode(QAbstractItemView::ExtendedSelection);
  v->addWidget(lstBlocked, 1);
  auto* h = new QHBoxLayout;
  edtBlocked = new QLineEdit(p);
  edtBlocked->setPlaceholderText(QStringLiteral("sender@example.org"));
  btnBlockedAdd = new QPushButton(QStringLiteral("Block"), p);
  btnBlockedRemove = new QPushButton(QStringLiteral("Remove"), p);
  h->addWidget(edtBlocked, 1);
  h->addWidget(btnBlockedAdd);
  h->addWidget(btnBlockedRemove);
  v->addLayout(h);
  connect(btnBlockedAdd, &QPushButton::clicked, this, &TfrmOptions::btnBlockedAddClick);
  connect(edtBlocked, &QLineEdit::returnPressed, this, &TfrmOptions::btnBlockedAddClick);
  connect(btnBlockedRemove, &QPushButton::clicked, this, &TfrmOptions::btnBlockedRemoveClick);
  if (!svc_.blocked) {
    notes_[static_cast<int>(OptionPage::BlackList)] = MakeNote(p, "The blocked senders list is not available.");
    v->insertWidget(0, notes_[static_cast<int>(OptionPage::BlackList)]);
    for (QWidget* w : {static_cast<QWidget*>(lstBlocked), static_cast<QWidget*>(edtBlocked),
                       static_cast<QWidget*>(btnBlockedAdd), static_cast<QWidget*>(btnBlockedRemove)})
      w->setEnabled(false);
  }
}

void TfrmOptions::BuildEncryption(QFrame* p) {
  auto* v = new QVBoxLayout(p);
  lblPgpHint = MakeNote(p, "In order to activate PGP encryption in Plumadex, you must first install PGP. Please "
                           "click here for help.");
  lblPgpHint->setObjectName(QStringLiteral("lblPgpHint"));
  v->addWidget(lblPgpHint);
  btnPgpKey = new QPushButton(QStringLiteral("Create encryption key"), p);
  btnPgpKey->setObjectName(QStringLiteral("btnPgpKey"));
  v->addWidget(btnPgpKey, 0, Qt::AlignLeft);
  lblPgpBusy = new QLabel(QStringLiteral("Contacting key server..."), p);
  lblPgpBusy->setObjectName(QStringLiteral("lblPgpBusy"));
  lblPgpBusy->hide();
  v->addWidget(lblPgpBusy);
  v->addWidget(new QLabel(QStringLiteral("Keys you hold:"), p));
  lstKeys = new QListWidget(p);
  lstKeys->setObjectName(QStringLiteral("lstKeys"));
  v->addWidget(lstKeys, 1);
  btnImportKey = new QPushButton(QStringLiteral("Import key..."), p);
  btnImportKey->setObjectName(QStringLiteral("btnImportKey"));
  btnImportKey->setToolTip(QStringLiteral("Take public keys from another program (for example the output of gpg --export --armor)"));
  v->addWidget(btnImportKey, 0, Qt::AlignLeft);
  connect(btnPgpKey, &QPushButton::clicked, this, [this] {
    if (!svc_.encryptionKeyAction) return;
    // The key server is asked on this thread: the window waits, saying so.
    btnPgpKey->hide();
    lblPgpBusy->show();
    setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    svc_.encryptionKeyAction();
    QApplication::restoreOverrideCursor();
    setEnabled(true);
    lblPgpBusy->hide();
    FillEncryption();
  });
  connect(btnImportKey, &QPushButton::clicked, this, [this] {
    if (svc_.importKey) svc_.importKey();
    FillEncryption();
  });
}

void TfrmOptions::FillEncryption() {
  if (!svc_.encryptionState || !btnPgpKey) return;
  const OptionsServices::EncryptionState st = svc_.encryptionState();
  lblPgpHint->setVisible(!st.available);
  if (!st.available && !st.reason.empty())
    lblPgpHint->setText(QStringLiteral("In order to activate PGP encryption in Plumadex, you must first install PGP "
                                       "(GnuPG). Please click here for help.\n(") +
                        Q(st.reason) + QStringLiteral(")"));
  btnPgpKey->setVisible(st.available && st.hasUser);
  btnPgpKey->setText(st.hasOwnKey ? QStringLiteral("Delete encryption key") : QStringLiteral("Create encryption key"));
  btnImportKey->setEnabled(st.available && static_cast<bool>(svc_.importKey));
  lstKeys->clear();
  for (const auto& k : st.keys) lstKeys->addItem(Q(k));
}

void TfrmOptions::BuildWaiting(QFrame* p, OptionPage page) {
  auto* v = new QVBoxLayout(p);
  notes_[static_cast<int>(page)] = MakeNote(p, OptionPageNote(page));
  v->addWidget(notes_[static_cast<int>(page)]);
  // The controls as they will be, disabled unless the command is there: no click leads nowhere.
  auto add = [&](const QString& text, const std::function<void()>& run = {}) {
    auto* b = new QPushButton(text, p);
    b->setEnabled(static_cast<bool>(run));
    if (run) connect(b, &QPushButton::clicked, this, [run] { run(); });
    v->addWidget(b, 0, Qt::AlignLeft);
    return b;
  };
  switch (page) {
    case OptionPage::Encryption:
      add(QStringLiteral("Generate encryption key..."));
      add(QStringLiteral("Publish my public key"));
      break;
    case OptionPage::Import:
      add(QStringLiteral("Import mail..."), svc_.importMail)->setObjectName(QStringLiteral("btnImportMail"));
      add(QStringLiteral("Import contacts..."), svc_.importContacts)->setObjectName(QStringLiteral("btnImportContacts"));
      add(QStringLiteral("Import accounts..."), svc_.importMail)->setObjectName(QStringLiteral("btnImportAccounts"));
      break;
    case OptionPage::Wizard: add(QStringLiteral("Launch Configuration Wizard")); break;
    default: break;
  }
  v->addStretch(1);
}

// --- showing and saving ---

void TfrmOptions::ShowSettings(OptionPage page) {
  if (anyShown_ && !SaveSettingsPage()) {
    const QSignalBlocker block(lstPages);
    lstPages->setCurrentRow(static_cast<int>(shown_));
    return;
  }
  shown_ = page;
  anyShown_ = true;
  filling_ = true;
  fill(page);
  filling_ = false;
  pnlPages->setCurrentIndex(static_cast<int>(page));
  const QSignalBlocker block(lstPages);
  lstPages->setCurrentRow(static_cast<int>(page));
}

void TfrmOptions::fill(OptionPage page) {
  if (!svc_.settings) return;
  const Settings& s = *svc_.settings;
  switch (page) {
    case OptionPage::Personal: {
      personalShown_ = personalEdit_ = ShowPersonal(s);
      const PersonalValues& v = personalShown_;
      edtUserName->setText(Q(v.name));
      edtUserAddress->setText(Q(v.userAddress));
      cbFrom->setChecked(v.useAlternativeFrom);
      FillFromList();
      edtFrom->hide();
      btnFromSave->hide();
      (v.messageFormat == 1 ? rbPlainText : rbRichText)->setChecked(true);
      cbCharset->setCurrentIndex(v.charsetRow);
      chkUseSignature->setChecked(v.useSignature);
      edtSignature->setVisible(v.useSignature);
      edtSignature->setPlainText(Q(v.signature));
      chkNoTags->setChecked(v.noTags);
      break;
    }
    case OptionPage::Appearance: {
      appearanceShown_ = ShowAppearance(s);
      const AppearanceValues& v = appearanceShown_;
      (v.useDashboardColor ? rbCustomColor : rbDefaultColor)->setChecked(true);
      dashColor_ = v.dashboardColor;
      highlightColor_ = v.highlightColor;
      PaintSwatch(pnlDashColor, dashColor_);
      PaintSwatch(pnlHighlightFontColor, highlightColor_);
      chkSliding->setChecked(v.useSliding);
      chkHighlightFontBold->setChecked(v.highlightBold);
      chkHighlightFontColor->setChecked(v.useHighlightColor);
      break;
    }
    case OptionPage::PXMail: {
      pxMailShown_ = ShowPXMail(s);
      const PXMailValues& v = pxMailShown_;
      chkAutoCheck->setChecked(v.autoCheck);
      edtInterval->setValue(v.interval);
      cbLocal->setChecked(v.useLocalServer);
      edtLocalServer->setText(Q(v.localServer));
      edtLocalServer->setEnabled(v.useLocalServer);
      chkKeepOnServer->setChecked(v.keepOnServer);
      for (auto* e : {edtOldPassword, edtNewPassword, edtConfirmPassword}) e->clear();
      chkSavePassword->setChecked(!s.Password().empty());
      FillServiceAddress();
      break;
    }
    case OptionPage::ExtMail: FillAccounts(); break;
    case OptionPage::BlackList: FillBlocked(); break;
    case OptionPage::Encryption: FillEncryption(); break;
    default: break;
  }
}

void TfrmOptions::FillFromList() {
  const QSignalBlocker block(lstFrom);
  const int current = lstFrom->currentRow();
  lstFrom->clear();
  for (size_t i = 0; i < personalEdit_.fromList.size(); ++i) {
    auto* item = new QListWidgetItem(Q(personalEdit_.fromList[i]), lstFrom);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(static_cast<int>(i) == personalEdit_.checkedFrom ? Qt::Checked : Qt::Unchecked);
  }
  if (current >= 0 && current < lstFrom->count()) lstFrom->setCurrentRow(current);
}

void TfrmOptions::FillAccounts() {
  lstAccount->clear();
  if (!svc_.settings) return;
  RandomSource random;
  AccountEditor editor(*svc_.settings, random);
  for (const auto& f : editor.Forms()) {
    std::string line = f.name + "  -  ";
    if (!Trim(f.server).empty()) line += "receives from " + Trim(f.server) + (f.enabled ? "" : " (off)");
    if (!Trim(f.server).empty() && !Trim(f.smtpServer).empty()) line += ", ";
    if (!Trim(f.smtpServer).empty()) line += "sends through " + Trim(f.smtpServer);
    lstAccount->addItem(Q(line));
  }
  if (lstAccount->count() == 0) lstAccount->addItem(QStringLiteral("(no accounts yet: press \"Set up accounts...\")"));
}

void TfrmOptions::FillBlocked() {
  lstBlocked->clear();
  if (!svc_.blocked) return;
  for (const auto& e : svc_.blocked->Entries()) lstBlocked->addItem(Q(e));
}

void TfrmOptions::FillServiceAddress() {
  const bool set = svc_.settings && !svc_.settings->ID().empty();
  if (set) {
    lblServiceAddress->setText(QStringLiteral("Your address is ") + Q(ShowPersonal(*svc_.settings).userAddress) +
                               QStringLiteral("."));
    btnSetUpAddress->setText(QStringLiteral("Use another address..."));
  } else {
    lblServiceAddress->setText(
        QStringLiteral("No Plumadex address is set up: mail goes through your own accounts only."));
    btnSetUpAddress->setText(QStringLiteral("Set up Plumadex address..."));
  }
  btnSetUpAddress->setEnabled(static_cast<bool>(svc_.setUpAddress));
  const bool canChange = set && static_cast<bool>(svc_.changePassword);
  for (QWidget* w : {static_cast<QWidget*>(edtOldPassword), static_cast<QWidget*>(edtNewPassword),
                     static_cast<QWidget*>(edtConfirmPassword), static_cast<QWidget*>(chkSavePassword)})
    w->setEnabled(canChange);
  UpdatePasswordButton();
}

void TfrmOptions::UpdatePasswordButton() {
  // Shown only while the new and the confirm boxes agree.
  const QString n = edtNewPassword->text().trimmed(), c = edtConfirmPassword->text().trimmed();
  btnChangePassword->setVisible(!n.isEmpty() && n == c);
  btnChangePassword->setEnabled(edtNewPassword->isEnabled());
}

PersonalValues TfrmOptions::PersonalNow() const {
  PersonalValues v = personalEdit_;
  v.name = S(edtUserName->text());
  v.useAlternativeFrom = cbFrom->isChecked();
  v.messageFormat = rbPlainText->isChecked() ? 1 : 0;
  v.charsetRow = cbCharset->currentIndex();
  v.useSignature = chkUseSignature->isChecked();
  v.signature = S(edtSignature->toPlainText());
  v.noTags = chkNoTags->isChecked();
  return v;
}

AppearanceValues TfrmOptions::AppearanceNow() const {
  AppearanceValues v;
  v.useDashboardColor = rbCustomColor->isChecked();
  v.dashboardColor = dashColor_;
  v.useSliding = chkSliding->isChecked();
  v.highlightBold = chkHighlightFontBold->isChecked();
  v.useHighlightColor = chkHighlightFontColor->isChecked();
  v.highlightColor = highlightColor_;
  return v;
}

PXMailValues TfrmOptions::PxMailNow() const {
  PXMailValues v;
  v.autoCheck = chkAutoCheck->isChecked();
  v.interval = edtInterval->value();
  v.useLocalServer = cbLocal->isChecked();
  v.localServer = S(edtLocalServer->text());
  v.keepOnServer = chkKeepOnServer->isChecked();
  return v;
}

void TfrmOptions::ApplyLocalServer() {
  if (!svc_.settings || !anyShown_ || filling_ || shown_ != OptionPage::PXMail) return;
  PXMailValues now = pxMailShown_;
  now.useLocalServer = cbLocal->isChecked();
  now.localServer = S(edtLocalServer->text());
  // A server still being typed (or one that would be refused) waits for the page to be left.
  if (!CheckPXMail(now).empty()) return;
  (void)SavePXMail(*svc_.settings, pxMailShown_, now);
  pxMailShown_.useLocalServer = now.useLocalServer;
  pxMailShown_.localServer = svc_.settings->LocalServer();
  if (svc_.serverChanged) svc_.serverChanged();
}

bool TfrmOptions::SaveSettingsPage() {
  if (!svc_.settings || !anyShown_) return true;
  Settings& s = *svc_.settings;
  switch (shown_) {
    case OptionPage::Personal: {
      const PersonalValues now = PersonalNow();
      if (SavePersonal(s, personalShown_, now)) {
        personalShown_ = personalEdit_ = ShowPersonal(s);
        if (svc_.personalSaved) svc_.personalSaved();
      }
      break;
    }
    case OptionPage::Appearance: {
      const AppearanceValues now = AppearanceNow();
      if (SaveAppearance(s, appearanceShown_, now)) {
        appearanceShown_ = now;
        if (svc_.appearanceSaved) svc_.appearanceSaved();
      }
      break;
    }
    case OptionPage::PXMail: {
      const PXMailValues now = PxMailNow();
      const std::string problem = CheckPXMail(now);
      if (!problem.empty()) {
        if (svc_.notify) svc_.notify(problem);
        (now.useLocalServer ? static_cast<QWidget*>(edtLocalServer) : edtInterval)->setFocus();
        return false;
      }
      const PXMailSaved saved = SavePXMail(s, pxMailShown_, now);
      pxMailShown_ = ShowPXMail(s);
      if (saved.checkTimerChanged && svc_.checkMailChanged) svc_.checkMailChanged();
      break;
    }
    default: break;
  }
  return true;
}

void TfrmOptions::accept() {
  if (!SaveSettingsPage()) return;
  QDialog::accept();
}

void TfrmOptions::reject() {
  // Closing the window leaves the page as the tree does: its values are kept.
  if (!SaveSettingsPage()) return;
  QDialog::reject();
}

// --- actions ---

void TfrmOptions::btnFromAddClick() {
  fromEditing_ = -1;
  edtFrom->clear();
  edtFrom->show();
  btnFromSave->show();
  edtFrom->setFocus();
}

void TfrmOptions::btnFromEditClick() {
  const int row = lstFrom->currentRow();
  if (row < 0) return;
  fromEditing_ = row;
  edtFrom->setText(Q(personalEdit_.fromList[static_cast<size_t>(row)]));
  edtFrom->show();
  btnFromSave->show();
  edtFrom->setFocus();
}

void TfrmOptions::btnFromRemoveClick() {
  const int row = lstFrom->currentRow();
  if (row < 0) return;
  RemoveFromEntry(personalEdit_, row);
  FillFromList();
}

void TfrmOptions::btnFromSaveClick() {
  const std::string text = S(edtFrom->text());
  if (Trim(text).empty()) {
    edtFrom->hide();
    btnFromSave->hide();
    return;
  }
  const int row = SaveFromEntry(personalEdit_, fromEditing_, text);
  if (row < 0) {
    if (svc_.notify) svc_.notify("Sorry, but an address cannot contain commas or line breaks.");
    return;
  }
  edtFrom->hide();
  btnFromSave->hide();
  FillFromList();
  lstFrom->setCurrentRow(row);
}

void TfrmOptions::btnChangePasswordClick() {
  const std::string oldPw = Trim(S(edtOldPassword->text()));
  const std::string newPw = Trim(S(edtNewPassword->text()));
  const std::string confirm = Trim(S(edtConfirmPassword->text()));
  if (oldPw.empty() || newPw.empty() || confirm.empty() || !svc_.changePassword) return;
  const std::string tooShort = transport::CheckNewPassword(newPw);
  if (!tooShort.empty()) {
    if (svc_.notify) svc_.notify(tooShort);
    edtNewPassword->clear();
    edtConfirmPassword->clear();
    edtNewPassword->setFocus();
    return;
  }
  if (newPw != confirm) return;
  setEnabled(false);
  setCursor(Qt::WaitCursor);
  const transport::PasswordChangeOutcome r = svc_.changePassword(oldPw, newPw, chkSavePassword->isChecked());
  unsetCursor();
  setEnabled(true);
  if (!r.message.empty()) {
    if (r.kind == MessageKind::Information) {
      if (svc_.inform) svc_.inform(r.message);
    } else if (svc_.notify) {
      svc_.notify(r.message);
    }
  }
  if (r.reply == transport::PasswordChangeReply::Changed) {
    for (auto* e : {edtOldPassword, edtNewPassword, edtConfirmPassword}) e->clear();
  } else if (r.clearOldPassword) {
    edtOldPassword->clear();
    edtOldPassword->setFocus();
  }
}

void TfrmOptions::btnBlockedAddClick() {
  if (!svc_.blocked) return;
  const std::string text = Trim(S(edtBlocked->text()));
  if (text.empty()) return;
  if (svc_.blocked->Block(text).empty()) {
    if (svc_.notify) svc_.notify("Sorry, but \"" + text + "\" is not an e-mail address.");
    return;
  }
  edtBlocked->clear();
  FillBlocked();
}

void TfrmOptions::btnBlockedRemoveClick() {
  if (!svc_.blocked) return;
  StringList gone;
  for (auto* item : lstBlocked->selectedItems()) gone.push_back(S(item->text()));
  if (gone.empty()) return;
  svc_.blocked->Unblock(gone);
  FillBlocked();
}

void TfrmOptions::ChooseFont(FontRole role) {
  if (!svc_.settings || !svc_.chooseFont) return;
  const FontValue current = ReadFont(*svc_.settings, role, svc_.baseFont);
  const auto chosen = svc_.chooseFont(current, FontDialogCaption(role));
  if (!chosen) return;
  WriteFont(*svc_.settings, role, *chosen);
  if (svc_.fontChanged) svc_.fontChanged(role);
}

void TfrmOptions::ChooseColor(QPushButton* panel) {
  if (!svc_.settings || !svc_.chooseColor) return;
  ColorRef& target = panel == pnlDashColor ? dashColor_ : highlightColor_;
  std::string custom = svc_.settings->CustomColors();
  const std::string before = custom;
  const auto chosen = svc_.chooseColor(target == kDefaultColor ? 0x00FFFFFF : target, custom);
  if (custom != before) {
    svc_.settings->SetCustomColors(custom);
    (void)svc_.settings->UpdateFile();  // a failure reaches the settings' save-failure handler
  }
  if (!chosen) return;
  target = *chosen;
  PaintSwatch(panel, target);
}

}  // namespace px::desk
