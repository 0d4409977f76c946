#include "dialogs/ui/frm_rename.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace px::dialogs::ui {

namespace {
QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
}  // namespace

TfrmRename::TfrmRename(const store::CollisionQuestion& q, QWidget* parent)
    : QDialog(parent), prompt_(q), answer_(prompt_.Dismissed()) {
  setObjectName(QStringLiteral("TfrmRename"));
  setWindowTitle(Q(prompt_.Title()));
  auto* layout = new QVBoxLayout(this);
  // The window takes the size its contents need at the font in use, never less.
  layout->setSizeConstraint(QLayout::SetMinimumSize);
  layout->addWidget(new QLabel(Q(prompt_.Lead()), this));
  lblName = new QLabel(Q(prompt_.ExistingName()), this);
  lblName->setObjectName(QStringLiteral("lblName"));
  lblName->setTextFormat(Qt::PlainText);
  QFont bold = lblName->font();
  bold.setBold(true);
  lblName->setFont(bold);
  layout->addWidget(lblName);
  layout->addWidget(new QLabel(Q(prompt_.Question()), this));
  layout->addSpacing(6);
  layout->addWidget(new QLabel(Q(kCollisionKeepBothLabel), this));
  edtName = new QLineEdit(Q(prompt_.ProposedName()), this);
  edtName->setObjectName(QStringLiteral("edtName"));
  // Long file names stay readable: the field is as wide as about forty characters.
  edtName->setMinimumWidth(QFontMetrics(edtName->font()).averageCharWidth() * 40);
  layout->addWidget(edtName);
  if (!prompt_.ReplaceOffered()) {
    auto* note = new QLabel(Q(kCollisionNoReplace), this);
    note->setWordWrap(true);
    layout->addWidget(note);
  }
  if (prompt_.ForAllShown()) {
    chkAll = new QCheckBox(Q(kCollisionForAll), this);
    chkAll->setObjectName(QStringLiteral("chkAll"));
    layout->addWidget(chkAll);
  }
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  btnReplace = new QPushButton(Q(kCollisionReplaceButton), this);
  btnReplace->setObjectName(QStringLiteral("btnReplace"));
  btnReplace->setEnabled(prompt_.ReplaceOffered());
  btnKeepBoth = new QPushButton(Q(kCollisionKeepBothButton), this);
  btnKeepBoth->setObjectName(QStringLiteral("btnKeepBoth"));
  btnKeepBoth->setDefault(true);
  btnSkip = new QPushButton(Q(kCollisionSkipButton), this);
  btnSkip->setObjectName(QStringLiteral("btnSkip"));
  row->addWidget(btnReplace);
  row->addWidget(btnKeepBoth);
  row->addWidget(btnSkip);
  layout->addLayout(row);
  connect(btnReplace, &QPushButton::clicked, this, [this] { Choose(store::CollisionAction::Replace); });
  connect(btnKeepBoth, &QPushButton::clicked, this, [this] { Choose(store::CollisionAction::Rename); });
  connect(btnSkip, &QPushButton::clicked, this, [this] { Choose(store::CollisionAction::Skip); });
  connect(edtName, &QLineEdit::textChanged, this,
          [this](const QString& t) { btnKeepBoth->setEnabled(CollisionPrompt::KeepBothAllowed(t.toStdString())); });
  edtName->setFocus();
  adjustSize();
}

void TfrmRename::Choose(store::CollisionAction action) {
  answer_ = prompt_.Choose(action, edtName->text().toStdString(), chkAll && chkAll->isChecked());
  accept();
}

store::CollisionAnswer DialogCollisionResolver::Ask(const store::CollisionQuestion& q) {
  TfrmRename dlg(q, parent_);
  dlg.exec();
  return dlg.Answer();
}

}  // namespace px::dialogs::ui
