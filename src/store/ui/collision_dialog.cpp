#include "store/ui/collision_dialog.h"

#include "foundation/charset.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace px::store::ui {

namespace {
// Titles travel in their own charset; the edit field shows and returns them as text.
QString shown(const std::string& text, const std::string& charset) {
  return QString::fromStdString(charset.empty() ? text : DecodeFromCharset(text, charset));
}
std::string stored(const QString& text, const std::string& charset) {
  const std::string utf8 = text.toStdString();
  return charset.empty() ? utf8 : EncodeToCharset(utf8, charset);
}
}  // namespace

TfrmRename::TfrmRename(const CollisionQuestion& q, QWidget* parent) : QDialog(parent), question_(q) {
  setWindowTitle(QString::fromUtf8(kCollisionTitle.data(), static_cast<int>(kCollisionTitle.size())));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QString::fromUtf8(kCollisionLead.data(), static_cast<int>(kCollisionLead.size())), this));
  auto* name = new QLabel(QString::fromStdString(q.fileName), this);
  QFont bold = name->font();
  bold.setBold(true);
  name->setFont(bold);
  name->setTextFormat(Qt::PlainText);
  layout->addWidget(name);
  layout->addWidget(new QLabel(QString::fromUtf8(kCollisionQuestion.data(), static_cast<int>(kCollisionQuestion.size())), this));
  rbReplace = new QRadioButton(QString::fromUtf8(kCollisionReplace.data(), static_cast<int>(kCollisionReplace.size())), this);
  rbRename = new QRadioButton(QString::fromUtf8(kCollisionRename.data(), static_cast<int>(kCollisionRename.size())), this);
  edtName = new QLineEdit(shown(q.proposedTitle, q.charset), this);
  layout->addWidget(rbReplace);
  layout->addWidget(rbRename);
  layout->addWidget(edtName);
  rbReplace->setEnabled(q.offerReplace);
  rbRename->setChecked(true);
  connect(rbRename, &QRadioButton::toggled, edtName, &QLineEdit::setEnabled);
  if (q.severalItems) {
    cbApplyAll = new QCheckBox(QString::fromUtf8(kCollisionApplyAll.data(), static_cast<int>(kCollisionApplyAll.size())), this);
    layout->addWidget(cbApplyAll);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // An empty name cannot be used.
  auto* ok = buttons->button(QDialogButtonBox::Ok);
  auto update = [this, ok] { ok->setEnabled(rbReplace->isChecked() || !edtName->text().trimmed().isEmpty()); };
  connect(edtName, &QLineEdit::textChanged, this, update);
  connect(rbReplace, &QRadioButton::toggled, this, update);
}

CollisionAnswer TfrmRename::Answer() const {
  CollisionAnswer a;
  if (result() != QDialog::Accepted) return a;
  a.action = rbReplace->isChecked() ? CollisionAction::Replace : CollisionAction::Rename;
  if (a.action == CollisionAction::Rename) a.title = stored(edtName->text().trimmed(), question_.charset);
  a.applyToAll = cbApplyAll && cbApplyAll->isChecked();
  return a;
}

CollisionAnswer DialogCollisionResolver::Ask(const CollisionQuestion& q) {
  TfrmRename dlg(q, parent_);
  dlg.exec();
  return dlg.Answer();
}

}  // namespace px::store::ui
