#include "contacts/ui/frm_addr.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace px::contacts::ui {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

QString NotesForMemo(const std::string& notes) {
  QString t = Q(notes);
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return t;
}

std::string NotesFromMemo(const QString& text) {
  QString t = text;
  t.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return S(t);
}

}  // namespace

TfrmAddr::TfrmAddr(AddrRec rec, bool firstNameFirst, bool encryptionAvailable, QWidget* parent)
    : QDialog(parent), model_(std::move(rec), encryptionAvailable) {
  setObjectName(QStringLiteral("TfrmAddr"));
  setWindowTitle(QStringLiteral("Contact Information"));
  warn = [this](const std::string& text) { QMessageBox::warning(this, QStringLiteral("Plumadex"), Q(text)); };
  openUrl = [](const std::string& url) {
    QUrl u = QUrl::fromUserInput(Q(url));
    if (u.isValid() && (u.scheme() == QLatin1String("http") || u.scheme() == QLatin1String("https")))
      QDesktopServices::openUrl(u);
  };

  auto* top = new QVBoxLayout(this);
  auto* person = new QGridLayout;
  top->addLayout(person);
  auto edit = [this](const char* name) {
    auto* e = new QLineEdit(this);
    e->setObjectName(QLatin1String(name));
    return e;
  };
  edtFirstName = edit("edtFirstName");
  edtLastName = edit("edtLastName");
  // The name order decides which name comes first.
  QLineEdit* left = firstNameFirst ? edtFirstName : edtLastName;
  QLineEdit* right = firstNameFirst ? edtLastName : edtFirstName;
  person->addWidget(new QLabel(firstNameFirst ? QStringLiteral("First Name") : QStringLiteral("Last Name"), this), 0, 0);
  person->addWidget(left, 0, 1);
  person->addWidget(new QLabel(firstNameFirst ? QStringLiteral("Last Name") : QStringLiteral("First Name"), this), 0, 2);
  person->addWidget(right, 0, 3);
  edtOrg = edit("edtOrg");
  edtPosition = edit("edtPosition");
  person->addWidget(new QLabel(QStringLiteral("Organization"), this), 1, 0);
  person->addWidget(edtOrg, 1, 1);
  person->addWidget(new QLabel(QStringLiteral("Position"), this), 1, 2);
  person->addWidget(edtPosition, 1, 3);
  edtURL = edit("edtURL");
  btnGo = new QPushButton(QStringLiteral("Go"), this);
  btnGo->setObjectName(QStringLiteral("btnGo"));
  auto* urlRow = new QHBoxLayout;
  urlRow->addWidget(edtURL, 1);
  urlRow->addWidget(btnGo);
  person->addWidget(new QLabel(QStringLiteral("Home Page"), this), 2, 0);
  person->addLayout(urlRow, 2, 1, 1, 3);

  // E-mail addresses.
  auto* mailBox = new QGroupBox(QStringLiteral("E-mail addresses"), this);
  auto* mail = new QGridLayout(mailBox);
  lstEmailAddresses = new QListWidget(mailBox);
  lstEmailAddresses->setObjectName(QStringLiteral("lstEmailAddresses"));
  mail->addWidget(lstEmailAddresses, 0, 0, 4, 1);
  auto button = [&](const char* name, const QString& caption, QWidget* owner) {
    auto* b = new QPushButton(caption, owner);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
  };
  btnAddEmail = button("btnAddEmail", QStringLiteral("Add"), mailBox);
  btnEditEmail = button("btnEditEmail", QStringLiteral("Edit"), mailBox);
  btnRemoveEmail = button("btnRemoveEmail", QStringLiteral("Remove"), mailBox);
  mail->addWidget(btnAddEmail, 0, 1);
  mail->addWidget(btnEditEmail, 1, 1);
  mail->addWidget(btnRemoveEmail, 2, 1);
  edtEmail = new QLineEdit(mailBox);
  edtEmail->setObjectName(QStringLiteral("edtEmail"));
  btnSaveEmail = button("btnSaveEmail", QStringLiteral("Save"), mailBox);
  mail->addWidget(edtEmail, 4, 0);
  mail->addWidget(btnSaveEmail, 4, 1);
  edtEmail->hide();
  btnSaveEmail->hide();
  lblPrimaryEmail = new QLabel(mailBox);
  lblPrimaryEmail->setObjectName(QStringLiteral("lblPrimaryEmail"));
  mail->addWidget(lblPrimaryEmail, 5, 0, 1, 2);
  chkEncryption = new QCheckBox(QStringLiteral("Encrypt messages sent to this address"), mailBox);
  chkEncryption->setObjectName(QStringLiteral("chkEncryption"));
  mail->addWidget(chkEncryption, 6, 0, 1, 2);
  top->addWidget(mailBox);

  // Postal address and phones side by side.
  auto* lower = new QHBoxLayout;
  top->addLayout(lower);
  auto* postBox = new QGroupBox(QStringLiteral("Postal address"), this);
  auto* post = new QGridLayout(postBox);
  cbAddrType = new QComboBox(postBox);
  cbAddrType->setObjectName(QStringLiteral("cbAddrType"));
  for (int t = 0; t < 3; ++t) cbAddrType->addItem(Q(std::string(AddressTypeName(t))));
  post->addWidget(cbAddrType, 0, 0, 1, 2);
  const char* captions[6] = {"Street 1", "Street 2", "City", "State/Province", "Postal code", "Country"};
  for (int i = 0; i < 6; ++i) {
    post->addWidget(new QLabel(QLatin1String(captions[i]), postBox), i + 1, 0);
    edtAddress[i] = new QLineEdit(postBox);
    edtAddress[i]->setObjectName(QStringLiteral("edtAddress%1").arg(i));
    post->addWidget(edtAddress[i], i + 1, 1);
  }
  lower->addWidget(postBox);
  auto* phoneBox = new QGroupBox(QStringLiteral("Phone numbers"), this);
  auto* phones = new QGridLayout(phoneBox);
  for (int row = 0; row < kShownPhones; ++row) {
    cbPhoneKind[row] = new QComboBox(phoneBox);
    cbPhoneKind[row]->setObjectName(QStringLiteral("cbPhoneKind%1").arg(row));
    for (int k = 0; k < kPhoneKinds; ++k) cbPhoneKind[row]->addItem(Q(std::string(PhoneKindName(k))));
    edtPhone[row] = new QLineEdit(phoneBox);
    edtPhone[row]->setObjectName(QStringLiteral("edtPhone%1").arg(row));
    phones->addWidget(cbPhoneKind[row], row, 0);
    phones->addWidget(edtPhone[row], row, 1);
  }
  lower->addWidget(phoneBox);

  top->addWidget(new QLabel(QStringLiteral("Notes"), this));
  edtNotes = new QPlainTextEdit(this);
  edtNotes->setObjectName(QStringLiteral("edtNotes"));
  edtNotes->setTabChangesFocus(true);
  top->addWidget(edtNotes, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  btnSave = button("btnSave", QStringLiteral("Save"), this);
  btnSave->setDefault(true);
  btnCancel = button("btnCancel", QStringLiteral("Cancel"), this);
  buttons->addWidget(btnSave);
  buttons->addWidget(btnCancel);
  top->addLayout(buttons);

  // ---- fill from the record ----
  filling_ = true;
  AddrRec& r = model_.Record();
  edtFirstName->setText(Q(r.firstName));
  edtLastName->setText(Q(r.lastName));
  edtOrg->setText(Q(r.organisation));
  edtPosition->setText(Q(r.position));
  edtURL->setText(Q(r.homePage));
  edtNotes->setPlainText(NotesForMemo(r.notes));
  cbAddrType->setCurrentIndex(model_.AddressType());
  for (int row = 0; row < kShownPhones; ++row) cbPhoneKind[row]->setCurrentIndex(model_.PhoneKindOfRow(row));
  filling_ = false;
  FillEmails();
  FillAddress();
  for (int row = 0; row < kShownPhones; ++row) FillPhone(row);

  // ---- edits go to the working copy ----
  auto bind = [this](QLineEdit* e, std::string AddrRec::*field) {
    connect(e, &QLineEdit::textEdited, this, [this, field](const QString& t) { model_.Record().*field = S(t); });
  };
  bind(edtFirstName, &AddrRec::firstName);
  bind(edtLastName, &AddrRec::lastName);
  bind(edtOrg, &AddrRec::organisation);
  bind(edtPosition, &AddrRec::position);
  bind(edtURL, &AddrRec::homePage);
  connect(edtNotes, &QPlainTextEdit::textChanged, this, [this] {
    if (!filling_) model_.Record().notes = NotesFromMemo(edtNotes->toPlainText());
  });
  std::string PostalAddress::*postal[6] = {&PostalAddress::street1, &PostalAddress::street2, &PostalAddress::city,
                                           &PostalAddress::state, &PostalAddress::postalCode, &PostalAddress::country};
  for (int i = 0; i < 6; ++i)
    connect(edtAddress[i], &QLineEdit::textEdited, this,
            [this, f = postal[i]](const QString& t) { model_.ShownAddress().*f = S(t); });
  connect(cbAddrType, &QComboBox::currentIndexChanged, this, [this](int t) {
    if (filling_) return;
    model_.SetAddressType(t);
    FillAddress();
  });
  for (int row = 0; row < kShownPhones; ++row) {
    connect(cbPhoneKind[row], &QComboBox::currentIndexChanged, this, [this, row](int k) {
      if (filling_) return;
      model_.SetPhoneKindOfRow(row, k);
      FillPhone(row);
    });
    connect(edtPhone[row], &QLineEdit::textEdited, this, [this, row](const QString& t) { model_.PhoneOfRow(row) = S(t); });
  }
  connect(lstEmailAddresses, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (filling_) return;
    const int row = lstEmailAddresses->row(item);
    if (item->checkState() == Qt::Checked) model_.CheckEmail(row);
    FillEmails();  // the check stays on exactly one entry
  });
  connect(btnAddEmail, &QPushButton::clicked, this, [this] {
    lstEmailAddresses->clearSelection();
    lstEmailAddresses->setCurrentRow(-1);
    editing_ = -1;
    edtEmail->clear();
    edtEmail->show();
    edtEmail->setFocus();
    UpdateEmailSave();
  });
  connect(btnEditEmail, &QPushButton::clicked, this, [this] {
    const int row = lstEmailAddresses->currentRow();
    if (row < 0) return;
    editing_ = row;
    edtEmail->setText(lstEmailAddresses->item(row)->text());
    edtEmail->show();
    edtEmail->setFocus();
    UpdateEmailSave();
  });
  connect(btnRemoveEmail, &QPushButton::clicked, this, [this] {
    const int row = lstEmailAddresses->currentRow();
    if (row < 0) return;
    model_.RemoveEmail(row);
    FillEmails();
  });
  connect(edtEmail, &QLineEdit::textChanged, this, [this] { UpdateEmailSave(); });
  connect(edtEmail, &QLineEdit::returnPressed, this, [this] { EmailSaveClick(); });
  connect(btnSaveEmail, &QPushButton::clicked, this, [this] { EmailSaveClick(); });
  connect(chkEncryption, &QCheckBox::toggled, this, [this](bool on) {
    if (!filling_) model_.SetEncrypt(on);
  });
  connect(btnGo, &QPushButton::clicked, this, [this] {
    if (openUrl && !edtURL->text().trimmed().isEmpty()) openUrl(S(edtURL->text().trimmed()));
  });
  connect(btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  (firstNameFirst ? edtFirstName : edtLastName)->setFocus();
  resize(620, 640);
}

void TfrmAddr::FillEmails() {
  filling_ = true;
  const int current = lstEmailAddresses->currentRow();
  lstEmailAddresses->clear();
  for (int i = 0; i < static_cast<int>(model_.Emails().size()); ++i) {
    auto* item = new QListWidgetItem(Q(model_.Emails()[i]), lstEmailAddresses);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(i == model_.CheckedEmail() ? Qt::Checked : Qt::Unchecked);
  }
  if (current >= 0 && current < lstEmailAddresses->count()) lstEmailAddresses->setCurrentRow(current);
  lblPrimaryEmail->setText(QStringLiteral("Primary e-mail address: ") + Q(model_.PrimaryEmail()));
  chkEncryption->setVisible(model_.EncryptionVisible());
  chkEncryption->setChecked(model_.Record().encrypt);
  filling_ = false;
}

void TfrmAddr::FillAddress() {
  const PostalAddress& a = model_.ShownAddress();
  const std::string* values[6] = {&a.street1, &a.street2, &a.city, &a.state, &a.postalCode, &a.country};
  for (int i = 0; i < 6; ++i)
    edtAddress[i]->setText(Q(i < 2 ? ContactEditor::StreetForField(*values[i]) : *values[i]));
}

void TfrmAddr::FillPhone(int row) { edtPhone[row]->setText(Q(model_.PhoneOfRow(row))); }

void TfrmAddr::UpdateEmailSave() {
  btnSaveEmail->setVisible(edtEmail->isVisible() && !edtEmail->text().trimmed().isEmpty());
}

void TfrmAddr::EmailSaveClick() {
  const std::string text = S(edtEmail->text());
  const bool ok = editing_ >= 0 ? model_.ReplaceEmail(editing_, text) : model_.AddEmail(text);
  if (!ok) return;
  editing_ = -1;
  edtEmail->clear();
  edtEmail->hide();
  btnSaveEmail->hide();
  FillEmails();
}

void TfrmAddr::btnSaveClick() {
  // An address typed but not yet added is not lost.
  if (edtEmail->isVisible() && !edtEmail->text().trimmed().isEmpty()) EmailSaveClick();
  AddrRec saved = model_.Saved();
  if (onSave) {
    const std::string refusal = onSave(saved);
    if (!refusal.empty()) {
      if (warn) warn(refusal);
      return;  // the window stays open with the edits
    }
  }
  result_ = std::move(saved);
  accept();
}

}  // namespace px::contacts::ui
