#include "desk/ui/desk_mail_view.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "desk/desk_mail.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/tree_view.h"

namespace px::desk {

namespace {

// "Processing mail. Please wait..." with a bar, centred over the window while filing has work.
class FilingPanel : public QFrame {
public:
  explicit FilingPanel(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("pnlFiling"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto* l = new QVBoxLayout(this);
    auto* text = new QLabel(QStringLiteral("Processing mail. Please wait. This may take a few minutes..."), this);
    l->addWidget(text);
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("pbFiling"));
    l->addWidget(bar_);
    hide();
    parent->installEventFilter(this);
  }
  void Show(qint64 done, qint64 total) {
    if (total <= 0) return;
    bar_->setMaximum(static_cast<int>(std::min<qint64>(total, INT_MAX)));
    bar_->setValue(static_cast<int>(std::min<qint64>(done, INT_MAX)));
    if (!isVisible()) {
      place();
      show();
      raise();
    }
  }

protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (o == parent() && e->type() == QEvent::Resize && isVisible()) place();
    return false;
  }

private:
  void place() {
    adjustSize();
    const QWidget* p = parentWidget();
    resize(std::max(width(), 360), height());
    move((p->width() - width()) / 2, (p->height() - height()) / 2);
  }
  QProgressBar* bar_;
};

}  // namespace

DeskMail* InstallDeskMail(TfrmDesk& desk, DeskState& state, DeskBrowser* browser) {
  auto* mail = new DeskMail(state, &desk);
  auto* panel = new FilingPanel(&desk);
  DeskHooks& hooks = desk.hooks();
  if (browser) mail->shownFolder = [browser] { return browser->ShownFolder(); };
  hooks.createLists = [mail, before = hooks.createLists] {
    if (before) before();
    mail->LoadLists();
  };
  // Filing runs on from the event loop; the listing follows when it ends.
  hooks.fileReceivedMail = [mail] {
    mail->StartFiling();
    return false;
  };
  QObject::connect(mail, &DeskMail::filingProgress, panel,
                   [panel](int, qint64 done, qint64 total) { panel->Show(done, total); });
  QObject::connect(mail, &DeskMail::filingFinished, &desk, [&desk, panel](qint64, bool changed) {
    panel->hide();
    DeskHooks& h = desk.hooks();
    if (changed && h.folderSelected && h.folderSelected() && h.relistFolder) h.relistFolder();
    if (changed && h.repaint) h.repaint();
  });
  return mail;
}

}  // namespace px::desk
