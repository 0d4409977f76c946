#include "desk/ui/password_prompt.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace px::desk {

TfrmPassword::TfrmPassword(const QString& prompt, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmPassword"));
  setWindowTitle(QStringLiteral("Plumadex"));
  auto* v = new QVBoxLayout(this);
  lblPrompt = new QLabel(prompt, this);
  v->addWidget(lblPrompt);
  edtPassword = new QLineEdit(this);
  edtPassword->setEchoMode(QLineEdit::Password);
  v->addWidget(edtPassword);
  chkSavePassword = new QCheckBox(QStringLiteral("Save password on disk"), this);
  v->addWidget(chkSavePassword);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  v->addWidget(buttons);
  edtPassword->setFocus();
}

PasswordAnswer TfrmPassword::Answer() const {
  return {edtPassword->text().toStdString(), chkSavePassword->isChecked()};
}

std::optional<PasswordAnswer> AskPassword(QWidget* parent, const QString& prompt) {
  TfrmPassword dlg(prompt, parent);
  if (dlg.exec() != QDialog::Accepted) return std::nullopt;
  PasswordAnswer a = dlg.Answer();
  if (a.password.empty()) return std::nullopt;
  return a;
}

}  // namespace px::desk
