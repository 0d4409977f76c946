#include "app/document_opener_glue.h"

#include "desk/desk_browser.h"
#include "desk/desk_state.h"
#include "desk/document_opener.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/grid_view.h"
#include "desk/ui/open_with_dialog.h"
#include "desk/ui/tree_view.h"
#include "foundation/random.h"
#include "store/doc_operations.h"
#include "store/doc_record.h"

#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <QDesktopServices>
#include <QFileInfo>
#include <QInputDialog>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace px::app {

namespace {

// Owns the opener and what it needs for storing changed copies; lives as long as the desk.
class OpenerHost : public QObject {
public:
  OpenerHost(desk::TfrmDesk& desk, desk::DeskState& state) : QObject(&desk), desk_(desk), state_(state) {
    tmrRun_.setInterval(1000);
    connect(&tmrRun_, &QTimer::timeout, this, [this] {
      opener_->OnRunTimer();
      if (!opener_->HasOpenDocuments()) tmrRun_.stop();
    });
  }

  void Make() {
    desk::OpenerServices svc;
    svc.messages = &state_.messages;
    svc.privateFolder = state_.locations.dataRoot + ".opened/";
    svc.documentsFolder = state_.locations.documents;
    svc.documentsName = QFileInfo(QString::fromStdString(state_.locations.documents).chopped(1)).fileName().toStdString();
    const platform::XdgDirs dirs = platform::XdgDirs::FromSystem();
    svc.templatesFolder = dirs.templates;
    svc.askName = [this](const std::string& proposed) -> std::optional<std::string> {
      bool ok = false;
      const QString name = QInputDialog::getText(&desk_, QStringLiteral("New document"),
                                                 QStringLiteral("Enter name for new file"), QLineEdit::Normal,
                                                 QString::fromStdString(proposed), &ok);
      if (!ok || name.trimmed().isEmpty()) return std::nullopt;
      return name.trimmed().toStdString();
    };
    svc.askYesNo = [this](const std::string& question) {
      return QMessageBox::question(&desk_, QStringLiteral("Plumadex"), QString::fromStdString(question).replace('\r', '\n')) ==
             QMessageBox::Yes;
    };
    svc.chooseApplication = [this](const std::string& fileName, const std::string& type,
                                   const std::vector<platform::DesktopEntry>& forType,
                                   const std::vector<platform::DesktopEntry>& others) {
      desk::TfrmOpenWith dlg(fileName, type, forType, others, &desk_);
      dlg.exec();
      return dlg.Chosen();
    };
    svc.storeNew = [this](const std::string& file, const std::string& folder, const std::string& title, bool move) {
      store::OpItem item;
      item.sourceFile = file;
      item.targetFolder = folder;
      item.title = title;
      item.name = QFileInfo(QString::fromStdString(file)).fileName().toStdString();
      item.ext = QFileInfo(QString::fromStdString(file)).suffix().toStdString();
      return runOperation(move ? store::opStoreMove : store::opStoreCopy, item);
    };
    svc.changedInPlace = [this](const std::string&, const std::string&) {
      if (browser()) browser()->Relist();
    };
    svc.openInMessageWindow = [this](const store::DocRecord& r) {
      return previousOpen_ && previousOpen_(r);
    };
    opener_ = std::make_unique<desk::DocumentOpener>(std::move(svc), platform::AppRegistry(dirs),
                                                     platform::MakeSystemWindowProbe());
    opener_->RecoverLeftovers();
  }

  void Wire() {
    desk::DeskBrowser* b = browser();
    if (b) {
      previousOpen_ = b->openDocument;
      b->openDocument = [this, b](const store::DocRecord& r) {
        // The message window takes ".txt" and ".eml"; everything else is the opener's.
        if (previousOpen_ && previousOpen_(r)) return true;
        const bool handled = opener_->OpenDocument(r, b->ShownRestricted());
        afterOpen();
        return handled;
      };
      if (auto* view = desk_.findChild<desk::DeskBrowserView*>())
        view->extendContextMenu = [this, b](QMenu& menu, const store::DocRecord* row) { extendMenu(menu, row, b); };
      // Copy, move, delete and rename leave documents alone while their program has them open.
      b->SetOpenDocuments(opener_.get());
      // New Text Document (menu bar and context menus): an empty text document in the shown
      // folder, opened at once.
      desk_.commands().Provide(
          "actNewDocument",
          [this, b] {
            desk::TreeNode* node = b->ShownNode();
            if (!node) return;
            for (const desk::NewDocumentTemplate& t : opener_->Templates()) {
              if (t.ext != "txt") continue;
              const QDateTime now = QDateTime::currentDateTime();
              const QLocale locale;
              const std::string when = (locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                                        locale.toString(now.time(), QLocale::LongFormat))
                                           .toStdString();
              opener_->NewDocument(t, node->path, b->ShownRestricted(), when);
              afterOpen();
              return;
            }
          },
          [b] {
            return b->CurrentTab() == desk::GridTab::Files && b->ShownNode() && !b->ShownNode()->path.empty() &&
                   !b->ShownRestricted();
          });
    }
    if (auto* grid = desk_.findChild<desk::GridPanel*>()) {
      connect(grid, &desk::GridPanel::OpenSticker, this, [this, grid](int record) { editSticker(grid, record, false); });
      // A pending document's cover note is the text that goes with it when it is sent: its
      // sticker value, which travels in the upload record.
      connect(grid, &desk::GridPanel::OpenCoverNote, this, [this, grid](int record) { editSticker(grid, record, true); });
    }
    desk_.hooks().openedDocumentsStillOpen = [this] { return opener_->HasOpenDocuments(); };
    desk_.hooks().watchOpenedDocuments = [this] { opener_->OnRunTimer(); };
  }

  desk::DocumentOpener* Opener() const { return opener_.get(); }

  // One document operation with the desk's lists; the folder is listed again afterwards.
  bool runOperation(int code, store::OpItem& item) {
    store::OpServices ops = desk::DeskOpServices(state_, random_);
    store::NullCollaborators none;
    store::DocOperations operations(ops, none.Get());
    const bool ok = operations.RunDocOperation(code, item);
    state_.messages.ShowQueuedMessages();
    if (browser()) browser()->Relist();
    return ok;
  }

  // The sticker mark of a row: the note in a small editor, written back with its entry.
  void editSticker(desk::GridPanel* grid, int record, bool cover) {
    const auto& rows = grid->model().rows();
    if (record < 0 || static_cast<size_t>(record) >= rows.size()) return;
    const store::DocRecord r = rows[static_cast<size_t>(record)];
    QDialog dlg(&desk_);
    dlg.setObjectName(QStringLiteral("TfrmSticker"));
    dlg.setWindowTitle((cover ? QStringLiteral("Cover message for %1") : QStringLiteral("Sticker note for %1"))
                           .arg(QString::fromStdString(r.title)));
    auto* layout = new QVBoxLayout(&dlg);
    auto* edit = new QPlainTextEdit(&dlg);
    edit->setObjectName(QStringLiteral("memSticker"));
    edit->setPlainText(QString::fromStdString(desk::StickerTextForEditing(r.sticker)));
    layout->addWidget(edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, &dlg);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    dlg.resize(360, 260);
    if (dlg.exec() != QDialog::Accepted) return;
    store::OpItem item;
    item.folder = r.folder;
    item.name = r.name;
    item.prefix = r.prefix;
    item.title = r.title;
    item.ext = r.ext;
    item.flags = r.flags;
    item.sticker = desk::StickerValueFromText(edit->toPlainText().toStdString());
    runOperation(store::opWriteSticker, item);
  }

private:
  desk::DeskBrowser* browser() const { return desk_.findChild<desk::DeskBrowser*>(); }

  void afterOpen() {
    state_.messages.ShowQueuedMessages();
    if (opener_->HasOpenDocuments() && !tmrRun_.isActive()) tmrRun_.start();
  }

  void extendMenu(QMenu& menu, const store::DocRecord* row, desk::DeskBrowser* b) {
    menu.addSeparator();
    if (row) {
      const store::DocRecord r = *row;
      menu.addAction(QStringLiteral("Open With..."), this, [this, r, b] {
        opener_->OpenWith(r, b->ShownRestricted());
        afterOpen();
      });
      menu.addAction(QStringLiteral("Print"), this, [this, r] {
        opener_->Print(r);
        state_.messages.ShowQueuedMessages();
      });
    }
    QMenu* newMenu = menu.addMenu(QStringLiteral("New"));
    desk::TreeNode* node = b->ShownNode();
    const bool restricted = b->ShownRestricted();
    newMenu->setEnabled(node && !node->path.empty() && !restricted);
    for (const desk::NewDocumentTemplate& t : opener_->Templates()) {
      const std::string folder = node ? node->path : std::string();
      newMenu->addAction(QString::fromStdString(t.name), this, [this, t, folder, restricted] {
        const QDateTime now = QDateTime::currentDateTime();
        const QLocale locale;
        const std::string when = (locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                                  locale.toString(now.time(), QLocale::LongFormat))
                                     .toStdString();
        opener_->NewDocument(t, folder, restricted, when);
        afterOpen();
      });
    }
  }

  desk::TfrmDesk& desk_;
  desk::DeskState& state_;
  RandomSource random_;
  std::unique_ptr<desk::DocumentOpener> opener_;
  std::function<bool(const store::DocRecord&)> previousOpen_;
  QTimer tmrRun_;
};

}  // namespace

px::desk::DocumentOpener* InstallDocumentOpener(px::desk::TfrmDesk& desk, px::desk::DeskState& state) {
  auto* host = new OpenerHost(desk, state);
  host->Make();
  // Wired once the event loop runs, after every other part has set its own open handler, so
  // that the message window keeps ".txt" and ".eml" and the opener takes the rest.
  QTimer::singleShot(0, host, [host] { host->Wire(); });
  return host->Opener();
}

}  // namespace px::app
