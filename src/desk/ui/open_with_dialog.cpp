#include "desk/ui/open_with_dialog.h"

#include <QDialogButtonBox>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace px::desk {

namespace {
constexpr int kEntryRole = Qt::UserRole + 1;
}

TfrmOpenWith::TfrmOpenWith(const std::string& fileName, const std::string& mimeType,
                           std::vector<platform::DesktopEntry> forType, std::vector<platform::DesktopEntry> others,
                           QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("TfrmOpenWith"));
  setWindowTitle(QStringLiteral("Open with"));
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(QStringLiteral("Choose the program to open \"%1\" (%2):")
                               .arg(QString::fromStdString(fileName), QString::fromStdString(mimeType)),
                           this);
  label->setWordWrap(true);
  layout->addWidget(label);
  lstPrograms_ = new QListWidget(this);
  lstPrograms_->setObjectName(QStringLiteral("lstPrograms"));
  layout->addWidget(lstPrograms_, 1);
  auto addSection = [&](const QString& caption, const std::vector<platform::DesktopEntry>& list) {
    if (list.empty()) return;
    auto* header = new QListWidgetItem(caption, lstPrograms_);
    header->setFlags(Qt::NoItemFlags);
    QFont f = header->font();
    f.setBold(true);
    header->setFont(f);
    for (const platform::DesktopEntry& e : list) {
      auto* item = new QListWidgetItem(QIcon::fromTheme(QString::fromStdString(e.icon)),
                                       QString::fromStdString(e.name.empty() ? e.id : e.name), lstPrograms_);
      item->setData(kEntryRole, static_cast<int>(entries_.size()));
      entries_.push_back(e);
    }
  };
  addSection(QStringLiteral("Programs for this type"), forType);
  addSection(QStringLiteral("Other programs"), others);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  QPushButton* open = buttons->button(QDialogButtonBox::Open);
  open->setEnabled(false);
  connect(lstPrograms_, &QListWidget::currentItemChanged, this,
          [open](QListWidgetItem* cur) { open->setEnabled(cur && cur->data(kEntryRole).isValid()); });
  connect(lstPrograms_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    if (item->data(kEntryRole).isValid()) accept();
  });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  for (int i = 0; i < lstPrograms_->count(); ++i)
    if (lstPrograms_->item(i)->data(kEntryRole).isValid()) {
      lstPrograms_->setCurrentRow(i);
      break;
    }
  resize(QSize(420, 460).expandedTo(sizeHint()));
}

std::optional<platform::DesktopEntry> TfrmOpenWith::Chosen() const {
  QListWidgetItem* cur = lstPrograms_->currentItem();
  if (result() != QDialog::Accepted || !cur || !cur->data(kEntryRole).isValid()) return std::nullopt;
  return entries_[static_cast<size_t>(cur->data(kEntryRole).toInt())];
}

}  // namespace px::desk
