#include "app/info_hint_glue.h"

#include "contacts/address_map.h"
#include "contacts/contact_summary.h"
#include "contacts/groups.h"
#include "desk/desk_browser.h"
#include "desk/desk_state.h"
#include "desk/hint_builder.h"
#include "desk/ui/carry_view.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/frm_hint.h"
#include "desk/ui/grid_view.h"
#include "desk/ui/tree_view.h"
#include "foundation/address.h"
#include "foundation/dates.h"
#include "store/folder_files.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QLocale>
#include <QMimeDatabase>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>

namespace px::app {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The information pop-up over the grid: tmrHint starts when the pointer comes to rest on a
// zone; a document's preview is read on a worker, which is cancelled when the pointer moves on.
class HintHost : public QObject {
public:
  HintHost(desk::TfrmDesk& desk, desk::DeskState& state) : QObject(&desk), desk_(desk), state_(state) {
    setObjectName(QStringLiteral("hintHost"));
    hint_ = new desk::TfrmHint(&desk);
    tmrHint_.setSingleShot(true);
    connect(&tmrHint_, &QTimer::timeout, this, [this] { Tick(); });
  }

  ~HintHost() override { Cancel(); }

  void Wire() {
    auto* view = desk_.findChild<desk::DeskBrowserView*>();
    if (!view || !view->grid()) return;
    viewport_ = view->grid()->grid()->viewport();
    viewport_->installEventFilter(this);
  }

  desk::TfrmHint* Hint() const { return hint_; }

protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (watched != viewport_) return false;
    switch (e->type()) {
      case QEvent::MouseMove:
        // The grid sets its hot row and zone when it handles the move: look after it.
        QTimer::singleShot(0, this, [this] { AfterMove(); });
        break;
      case QEvent::Leave:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::Hide:
        HideHint();
        tmrHint_.stop();
        lastRow_ = -1;
        break;
      default: break;
    }
    return false;
  }

private:
  desk::GridPanel* Grid() const {
    auto* view = desk_.findChild<desk::DeskBrowserView*>();
    return view ? view->grid() : nullptr;
  }

  void AfterMove() {
    desk::GridPanel* grid = Grid();
    if (!grid) return;
    const int row = grid->grid()->HotRow();
    const int zone = grid->grid()->HotZone();
    if (row != lastRow_ || zone != lastZone_) {
      HideHint();
      lastRow_ = row;
      lastZone_ = zone;
    }
    if (row < 0 || zone == 0) {
      tmrHint_.stop();
      return;
    }
    if (hint_->isVisible()) return;
    desk::DeskBrowser* b = desk_.findChild<desk::DeskBrowser*>();
    // On the contacts tab the pop-up comes at once.
    tmrHint_.start(b && b->CurrentTab() == desk::GridTab::Contacts ? 1 : desk::kHintDelayMs);
  }

  void HideHint() {
    Cancel();
    hint_->hide();
  }

  void Cancel() {
    if (cancel_) cancel_->store(true);
    cancel_.reset();
    ++token_;
  }

  desk::HintEnvironment Environment(desk::DeskBrowser& b) {
    desk::HintEnvironment env;
    env.tab = b.CurrentTab();
    env.showPreview = state_.settings.ShowPreview();
    env.showSize = state_.settings.ShowSize();
    auto* view = desk_.findChild<desk::DeskBrowserView*>();
    if (desk::DeskCarry* carry = view ? view->carry() : nullptr)
      env.dragging = carry->hand().state() == desk::Hand::Documents || carry->hand().state() == desk::Hand::Snapshot;
    const std::string contacts = store::WithSlash(state_.locations.contacts);
    const bool firstFirst = state_.settings.FirstNameFirst();
    env.contactSummary = [contacts, firstFirst](const store::DocRecord& r) {
      const std::string path = r.IsContactRef() || r.folder.empty() ? contacts + r.name : r.folder + r.name;
      return contacts::ContactSummaryOf(path, '\n', firstFirst);
    };
    env.summaryOfAddress = [this, contacts, firstFirst](std::string_view address) {
      const contacts::AddrAliasRec* rec = state_.addressMap ? state_.addressMap->FindAddress(address) : nullptr;
      if (!rec || contacts::IsGroupSection(rec->section)) return std::string();
      return contacts::ContactSummaryOf(contacts + rec->section, '\n', firstFirst);
    };
    auto members = [this, contacts, firstFirst](std::string_view group) {
      return contacts::GroupMembers(contacts, state_.indexRegistry, group, firstFirst);
    };
    env.groupMembers = [members](const store::DocRecord& r) { return members(r.name); };
    env.expandGroups = [members](std::string_view list, std::string_view exclude) {
      return ExpandGroups(list, exclude, members);
    };
    env.typeName = [](const std::string& path) {
      static QMimeDatabase db;
      const QMimeType t = db.mimeTypeForFile(Q(path), QMimeDatabase::MatchExtension);
      return t.isDefault() ? std::string() : t.comment().toStdString();
    };
    env.formatDate = [](DateTime t) {
      return QLocale().toString(DateTimeToQDateTime(t), QLocale::ShortFormat).toStdString();
    };
    return env;
  }

  void Tick() {
    if (!desk_.isActiveWindow() || QApplication::activeModalWidget() || QApplication::activePopupWidget()) return;
    desk::GridPanel* grid = Grid();
    desk::DeskBrowser* b = desk_.findChild<desk::DeskBrowser*>();
    if (!grid || !b) return;
    const int row = grid->grid()->HotRow();
    const int zone = grid->grid()->HotZone();
    if (row < 0 || static_cast<size_t>(row) >= grid->model().VisibleCount()) return;
    const size_t rec = grid->model().RecordOfVisible(static_cast<size_t>(row));
    if (rec >= grid->model().rows().size()) return;
    desk::HintContent content = BuildHint(zone, grid->model().rows()[rec], Environment(*b));
    if (content.Empty()) return;
    const int rowHeight = grid->grid()->rowHeight();
    const QPoint topLeft = viewport_->mapToGlobal(QPoint(0, (row - grid->grid()->topRow()) * rowHeight));
    const QRect rowRect(topLeft, QSize(viewport_->width(), rowHeight));
    const QScreen* screen = viewport_->screen();
    const int half = screen ? screen->availableGeometry().width() / 2 : 600;
    const int wrap = zone == 5 && b->CurrentTab() == desk::GridTab::Files ? half : half + half / 3;
    const int left = QCursor::pos().x() + 4;
    const bool above = zone >= 1 && zone <= 4 && content.lines.size() == 1 && !content.gridInfo &&
                       [&] {
                         auto* view = desk_.findChild<desk::DeskBrowserView*>();
                         return view && view->carry() && !view->carry()->hand().Empty();
                       }();
    if (content.previewPath.empty()) {
      hint_->ShowFor(std::move(content), rowRect, left, wrap, above);
      return;
    }
    // The document's text is read on a worker; a move of the pointer cancels it.
    Cancel();
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    cancel_ = cancel;
    const uint64_t token = token_;
    auto result = std::make_shared<desk::HintContent>(std::move(content));
    QThread* worker = QThread::create([result, cancel] { desk::FinishHint(*result, cancel.get()); });
    connect(worker, &QThread::finished, this, [this, worker, result, cancel, token, rowRect, left, wrap, above] {
      worker->deleteLater();
      if (cancel->load() || token != token_) return;
      cancel_.reset();
      hint_->ShowFor(std::move(*result), rowRect, left, wrap, above);
    });
    worker->start(QThread::LowPriority);
  }

  desk::TfrmDesk& desk_;
  desk::DeskState& state_;
  desk::TfrmHint* hint_ = nullptr;
  QTimer tmrHint_;
  QPointer<QWidget> viewport_;
  int lastRow_ = -1;
  int lastZone_ = 0;
  std::shared_ptr<std::atomic<bool>> cancel_;
  uint64_t token_ = 0;
};

}  // namespace

desk::TfrmHint* InstallInfoHint(desk::TfrmDesk& desk, desk::DeskState& state) {
  auto* host = new HintHost(desk, state);
  host->Wire();
  return host->Hint();
}

}  // namespace px::app
