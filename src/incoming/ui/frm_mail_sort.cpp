#include "incoming/ui/frm_mail_sort.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <utility>

namespace px::incoming {

namespace {
constexpr const char* kFieldNames[7] = {"From:", "To:", "Cc:", "Bcc:", "Subject", "Text", "Account"};
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

TfrmMailSort::TfrmMailSort(MailSortRules& rules, store::IniRegistry& registry, std::string documentsFolder,
                           std::string trashFolder, QWidget* parent)
    : QDialog(parent), model_(rules, documentsFolder, std::move(trashFolder)), registry_(registry),
      documents_(std::move(documentsFolder)) {
  setWindowTitle("Mail Sorting");
  setObjectName("frmMailSort");
  auto* top = new QHBoxLayout(this);

  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel("Rules"));
  lstRules = new QListWidget;
  lstRules->setObjectName("lstRules");
  left->addWidget(lstRules);
  auto* ruleButtons = new QHBoxLayout;
  auto button = [this](QBoxLayout* l, const char* text, const char* name) {
    auto* b = new QPushButton(text);
    b->setObjectName(name);
    l->addWidget(b);
    return b;
  };
  btnNew = button(ruleButtons, "New", "btnNew");
  btnDelete = button(ruleButtons, "Delete", "btnDelete");
  btnRename = button(ruleButtons, "Rename", "btnRename");
  btnUp = button(ruleButtons, "Up", "btnUp");
  btnDown = button(ruleButtons, "Down", "btnDown");
  left->addLayout(ruleButtons);
  edtName = new QLineEdit;
  edtName->setObjectName("edtName");
  left->addWidget(edtName);
  top->addLayout(left, 1);

  auto* right = new QVBoxLayout;
  auto* conds = new QGroupBox("Conditions");
  auto* cl = new QVBoxLayout(conds);
  lstConditions = new QListWidget;
  lstConditions->setObjectName("lstConditions");
  cl->addWidget(lstConditions);
  auto* combo = new QHBoxLayout;
  rbOr = new QRadioButton("OR");
  rbAnd = new QRadioButton("AND");
  combo->addWidget(rbOr);
  combo->addWidget(rbAnd);
  cl->addLayout(combo);
  auto* fields = new QHBoxLayout;
  for (int i = 0; i < 7; ++i) {
    cbField[i] = new QCheckBox(kFieldNames[i]);
    fields->addWidget(cbField[i]);
  }
  cl->addLayout(fields);
  auto* valueLine = new QHBoxLayout;
  cbRelation = new QComboBox;
  cbRelation->addItems({"includes", "does not include"});
  edtValue = new QLineEdit;
  edtValue->setObjectName("edtValue");
  valueLine->addWidget(cbRelation);
  valueLine->addWidget(edtValue, 1);
  cl->addLayout(valueLine);
  auto* condButtons = new QHBoxLayout;
  btnAddCondition = button(condButtons, "Add", "btnAddCondition");
  btnDeleteCondition = button(condButtons, "Delete", "btnDeleteCondition");
  btnSaveCondition = button(condButtons, "Save", "btnSaveCondition");
  cl->addLayout(condButtons);
  right->addWidget(conds);

  right->addWidget(new QLabel("Incoming messages that meet these conditions will be"));
  auto* actionLine = new QHBoxLayout;
  cbAction = new QComboBox;
  cbAction->setObjectName("cbAction");
  cbAction->addItems({"copied to folder", "moved to folder", "deleted"});
  edtFolder = new QLineEdit;
  edtFolder->setObjectName("edtFolder");
  btnFolder = new QPushButton("...");
  actionLine->addWidget(cbAction);
  actionLine->addWidget(edtFolder, 1);
  actionLine->addWidget(btnFolder);
  right->addLayout(actionLine);

  auto* testLine = new QHBoxLayout;
  btnTest = button(testLine, "Test...", "btnTest");
  testLine->addStretch();
  btnClose = button(testLine, "Close", "btnClose");
  right->addLayout(testLine);
  lstTest = new QListWidget;
  lstTest->setObjectName("lstTest");
  right->addWidget(lstTest);
  top->addLayout(right, 2);

  connect(lstRules, &QListWidget::currentRowChanged, this, [this] { showRule(); });
  connect(lstRules, &QListWidget::itemChanged, this, [this](QListWidgetItem* it) {
    if (filling_) return;
    model_.SetEnabled(static_cast<size_t>(lstRules->row(it)), it->checkState() == Qt::Checked);
  });
  connect(btnNew, &QPushButton::clicked, this, [this] {
    fillRules(static_cast<int>(model_.New(documents_)));
    edtName->setFocus();
    edtName->selectAll();
  });
  connect(btnDelete, &QPushButton::clicked, this, [this] {
    const int r = row();
    if (r < 0) return;
    model_.Delete(static_cast<size_t>(r));
    // The next rule is chosen, or the previous one when the last went.
    fillRules(std::min(r, static_cast<int>(model_.Count()) - 1));
  });
  auto rename = [this] {
    const int r = row();
    if (r >= 0 && model_.Rename(static_cast<size_t>(r), edtName->text().toStdString())) fillRules(r);
  };
  connect(btnRename, &QPushButton::clicked, this, rename);
  connect(edtName, &QLineEdit::returnPressed, this, rename);
  connect(btnUp, &QPushButton::clicked, this, [this] {
    if (row() >= 0) fillRules(static_cast<int>(model_.MoveBy(static_cast<size_t>(row()), -1)));
  });
  connect(btnDown, &QPushButton::clicked, this, [this] {
    if (row() >= 0) fillRules(static_cast<int>(model_.MoveBy(static_cast<size_t>(row()), +1)));
  });
  connect(lstConditions, &QListWidget::currentRowChanged, this, [this] { showCondition(); });
  connect(btnAddCondition, &QPushButton::clicked, this, [this] {
    if (row() < 0) return;
    model_.AddCondition(static_cast<size_t>(row()), editedCondition());
    showRule();
    lstConditions->setCurrentRow(lstConditions->count() - 1);
  });
  connect(btnSaveCondition, &QPushButton::clicked, this, [this] { saveCondition(); });
  connect(btnDeleteCondition, &QPushButton::clicked, this, [this] {
    if (row() < 0 || lstConditions->currentRow() < 0) return;
    model_.DeleteCondition(static_cast<size_t>(row()), static_cast<size_t>(lstConditions->currentRow()));
    showRule();
  });
  for (int i = 0; i < 7; ++i)
    connect(cbField[i], &QCheckBox::toggled, this, [this, i](bool on) {
      // "Account" stands alone: ticking it unticks the others, and the other way round.
      if (!on || filling_) return;
      filling_ = true;
      if (i == 6)
        for (int j = 0; j < 6; ++j) cbField[j]->setChecked(false);
      else
        cbField[6]->setChecked(false);
      filling_ = false;
    });
  connect(rbOr, &QRadioButton::toggled, this, [this](bool on) {
    if (!filling_ && row() >= 0) model_.SetAll(static_cast<size_t>(row()), !on);
  });
  connect(cbAction, &QComboBox::currentIndexChanged, this, [this] { actionChanged(); });
  connect(edtFolder, &QLineEdit::editingFinished, this, [this] { actionChanged(); });
  connect(btnFolder, &QPushButton::clicked, this, [this] {
    const QString f = QFileDialog::getExistingDirectory(this, "Select destination folder", Q(documents_));
    if (f.isEmpty()) return;
    edtFolder->setText(f + (f.endsWith('/') ? "" : "/"));
    actionChanged();
  });
  connect(btnTest, &QPushButton::clicked, this, [this] { testRule(); });
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
  connect(this, &QDialog::finished, this, [this] { (void)model_.Save(); });
  fillRules(model_.Count() > 0 ? 0 : -1);
}

TfrmMailSort::~TfrmMailSort() = default;

void TfrmMailSort::SelectRule(const std::string& name) {
  for (size_t i = model_.Count(); i-- > 0;)
    if (model_.At(i).name == name) {
      fillRules(static_cast<int>(i));
      return;
    }
}

int TfrmMailSort::row() const { return lstRules->currentRow(); }

void TfrmMailSort::fillRules(int select) {
  filling_ = true;
  lstRules->clear();
  for (size_t i = 0; i < model_.Count(); ++i) {
    // Made whole before it joins the list, so no change of it reaches the model.
    auto* it = new QListWidgetItem(Q(model_.At(i).name));
    it->setFlags(it->flags() | Qt::ItemIsUserCheckable);
    it->setCheckState(model_.At(i).enabled ? Qt::Checked : Qt::Unchecked);
    lstRules->addItem(it);
  }
  filling_ = false;
  lstRules->setCurrentRow(select);
  showRule();
}

void TfrmMailSort::showRule() {
  const bool wasFilling = std::exchange(filling_, true);
  lstConditions->clear();
  const int r = row();
  const bool any = r >= 0;
  for (QWidget* w : std::initializer_list<QWidget*>{btnDelete, btnRename, btnUp, btnDown, btnAddCondition,
                                                    btnDeleteCondition, btnSaveCondition, cbAction, edtFolder,
                                                    btnFolder, btnTest, rbOr, rbAnd})
    w->setEnabled(any);
  if (any) {
    const SortRule& rule = model_.At(static_cast<size_t>(r));
    edtName->setText(Q(rule.name));
    for (size_t i = 0; i < rule.conditions.size(); ++i)
      lstConditions->addItem(Q((i > 0 ? std::string(rule.all ? "AND  " : "OR  ") : std::string()) +
                               ConditionText(rule.conditions[i])));
    cbAction->setCurrentIndex(rule.action == 'C' ? 0 : rule.action == 'M' ? 1 : 2);
    edtFolder->setText(Q(rule.folder));
    edtFolder->setVisible(rule.action != 'D');
    btnFolder->setVisible(rule.action != 'D');
    rbOr->setChecked(!rule.all);
    rbAnd->setChecked(rule.all);
    rbOr->setVisible(rule.conditions.size() >= 2);
    rbAnd->setVisible(rule.conditions.size() >= 2);
  }
  filling_ = wasFilling;
}

void TfrmMailSort::showCondition() {
  const int r = row(), c = lstConditions->currentRow();
  if (r < 0 || c < 0) return;
  const SortCondition& cond = model_.At(static_cast<size_t>(r)).conditions.at(static_cast<size_t>(c));
  const bool wasFilling = std::exchange(filling_, true);
  for (int i = 0; i < 7; ++i) cbField[i]->setChecked(cond.fields.find("FTCBSXA"[i]) != std::string::npos);
  cbRelation->setCurrentIndex(cond.includes ? 0 : 1);
  edtValue->setText(Q(cond.value));
  filling_ = wasFilling;
}

SortCondition TfrmMailSort::editedCondition() const {
  SortCondition c;
  for (int i = 0; i < 7; ++i)
    if (cbField[i]->isChecked()) c.fields += "FTCBSXA"[i];
  if (c.fields.empty()) c.fields = "_";
  c.includes = cbRelation->currentIndex() == 0;
  c.value = edtValue->text().toStdString();
  return c;
}

void TfrmMailSort::saveCondition() {
  const int r = row(), c = lstConditions->currentRow();
  if (r < 0) return;
  if (c < 0) {
    model_.AddCondition(static_cast<size_t>(r), editedCondition());
  } else {
    model_.SetCondition(static_cast<size_t>(r), static_cast<size_t>(c), editedCondition());
  }
  fillRules(r);
}

void TfrmMailSort::actionChanged() {
  if (filling_ || row() < 0) return;
  const char action = "CMD"[std::max(0, cbAction->currentIndex())];
  model_.SetAction(static_cast<size_t>(row()), action, edtFolder->text().toStdString());
  showRule();
}

void TfrmMailSort::testRule() {
  if (row() < 0) return;
  std::string folder;
  if (chooseFolder) {
    folder = chooseFolder();
  } else {
    const QString f = QFileDialog::getExistingDirectory(this, "Test the rule on the folder", Q(documents_));
    folder = f.toStdString();
  }
  if (folder.empty()) return;
  lstTest->clear();
  auto res = model_.Test(static_cast<size_t>(row()), registry_, folder);
  for (const auto& h : res.hits) lstTest->addItem(Q(h.title + "  (" + h.sender + ")"));
  if (res.hits.empty()) lstTest->addItem("No message in this folder meets the conditions.");
}

}  // namespace px::incoming
