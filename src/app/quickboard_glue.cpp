#include "app/quickboard_glue.h"

#include "contacts/address_map.h"
#include "contacts/contact_summary.h"
#include "desk/desk_browser.h"
#include "desk/desk_state.h"
#include "desk/document_opener.h"
#include "desk/quickboard.h"
#include "desk/ui/carry_view.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/quickboard_view.h"
#include "desk/ui/tree_view.h"
#include "foundation/dates.h"
#include "foundation/random.h"
#include "foundation/strings.h"
#include "platform/desktop_apps.h"
#include "platform/process_launch.h"
#include "store/folder_files.h"
#include "store/index_file.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPointer>
#include <QThread>
#include <QUrl>

#include <memory>

namespace px::app {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string FolderOf(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

// The Quickboard of the desk: the model, its bar, its commands and what its buttons open.
class QuickboardHost : public QObject {
public:
  QuickboardHost(desk::TfrmDesk& desk, desk::DeskState& state, desk::DocumentOpener* opener)
      : QObject(&desk), desk_(desk), state_(state), opener_(opener) {
    setObjectName(QStringLiteral("quickboardHost"));
    const std::string contacts = store::WithSlash(state_.locations.contacts);
    fs_ = std::make_unique<desk::SystemQuickboardFs>(
        [&registry = state_.indexRegistry, contacts, firstFirst = state_.settings.FirstNameFirst()](
            const std::string& path, std::string* charset) {
          // Title (and Charset) of a document or folder in its folder's index; read only.
          const std::string folder = FolderOf(path);
          if (folder.empty()) return std::string();
          store::TPXIniFile index(registry, store::IndexPathOf(folder));
          const std::string section = NameOf(path);
          std::string title = index.ReadString(section, "Title", "");
          if (charset) *charset = index.ReadString(section, "Charset", "");
          (void)index.Release();
          // A contact is shown by its name in the user's name order.
          if (folder == contacts && !title.empty() && !contacts::IsGroupSection(section))
            title = contacts::ContactDisplayName(title, firstFirst);
          return title;
        },
        [&registry = state_.indexRegistry, contacts](const std::string& name) {
          if (contacts.size() < 2) return false;
          store::TPXIniFile index(registry, store::IndexPathOf(contacts));
          const bool has = index.SectionExists(name);
          (void)index.Release();
          return has;
        });
    desk::Quickboard::Env env;
    env.iniPath = state_.locations.QuickboardIni();
    env.iconsFolder = store::WithSlash(state_.locations.icons);
    env.contactsFolder = contacts;
    env.trashFolder = store::WithSlash(state_.locations.trash);
    env.fs = fs_.get();
    env.templates = Templates();
    model_ = std::make_unique<desk::Quickboard>(env);
    model_->saveFailed = [this](const FileStatus& s) {
      state_.messages.QueueMessage(MessageKind::Error, s.message);
      // shown by the event loop (SetWakeUp) at a safe point
    };
  }

  std::vector<desk::QuickboardTemplate> Templates() const {
    std::vector<desk::QuickboardTemplate> out;
    if (!opener_) return out;
    static QMimeDatabase db;
    for (const desk::NewDocumentTemplate& t : opener_->Templates()) {
      if (t.ext.empty()) continue;
      QString type = db.mimeTypeForFile(QStringLiteral("x.") + Q(t.ext), QMimeDatabase::MatchExtension).comment();
      if (t.ext == "txt" && t.path.empty()) type = QStringLiteral("Text Document");
      out.push_back({"." + t.ext, "New " + type.toStdString() + " (." + t.ext + ")"});
    }
    return out;
  }

  void Install() {
    QFrame* panel = desk_.pnlQuickboard();
    auto* layout = panel ? qobject_cast<QBoxLayout*>(panel->layout()) : nullptr;
    if (!layout) return;
    // The frame's placeholder gives way to the bar.
    while (QLayoutItem* item = layout->takeAt(0)) {
      if (QWidget* w = item->widget()) w->deleteLater();
      delete item;
    }
    layout->setContentsMargins(0, 0, 0, 0);
    bar_ = new desk::DashBoard(*model_, panel);
    layout->addWidget(bar_);
    ApplyColour();
    bar_->openItem = [this](const desk::QuickboardItem& item) { Open(item); };
    bar_->openWith = [this](const std::string& program, const std::vector<std::string>& files) {
      OpenWith(program, files);
    };
    bar_->customiseItem = [this](int slot) { Customise(slot); };
    bar_->summaryOf = [this](const desk::QuickboardItem& item) {
      // A contact's hint is its card's summary.
      return Q(contacts::ContactSummaryOf(item.path, '\n', state_.settings.FirstNameFirst()));
    };
    bar_->dropCarried = [this](int slot) { return DropCarried(slot); };
    bar_->extendMenu = [this](QMenu& menu, int) {
      for (const char* id : {"aHand", "aCustomizeIcons", "btnResizeDashUp", "btnResizeDashDn"}) {
        const desk::DeskCommand* c = desk_.commands().Find(id);
        if (!c) continue;
        QAction* a = menu.addAction(Q(c->text), this, [this, id] { desk_.commands().Run(id); });
        a->setEnabled(desk_.commands().Enabled(id));
      }
    };
    AddCommands();
    if (desk::DeskBrowser* b = desk_.findChild<desk::DeskBrowser*>()) b->SetQuickboard(model_.get());
    desk_.hooks().freeQuickboard = [this] { bar_ = nullptr; };
    LoadOnWorker();
  }

  void ApplyColour() {
    if (!bar_ || !state_.settings.UseDashboardColor()) return;
    const ColorRef c = state_.settings.DashboardColor();
    QPalette p = bar_->palette();
    // A stored colour is 0x00BBGGRR.
    p.setColor(QPalette::Window, QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
    bar_->setPalette(p);
    bar_->setAutoFillBackground(true);
  }

  // The look at every target (stat, desktop entries, indexes) runs on a worker; the model takes
  // the result on the main thread.
  void LoadOnWorker() {
    const std::vector<std::string> paths = model_->ReadPaths();
    bar_->Rebuild();
    const desk::Quickboard::Env env = model_->env();
    QPointer<QuickboardHost> self(this);
    auto result = std::make_shared<std::vector<desk::QuickboardItem>>();
    QThread* worker = QThread::create([env, paths, result] { *result = desk::Quickboard::MakeItems(env, paths); });
    connect(worker, &QThread::finished, this, [this, worker, paths, result] {
      worker->deleteLater();
      (void)model_->Apply(paths, std::move(*result));
    });
    worker->start(QThread::LowPriority);
  }

  void AddCommands() {
    desk::DeskCommands& cmds = desk_.commands();
    auto add = [&cmds](std::string id, std::string text, bool separator) {
      desk::DeskCommand c;
      c.id = std::move(id);
      c.menus = {"View"};
      c.text = std::move(text);
      c.separatorBefore = separator;
      cmds.Add(std::move(c));
    };
    add("aHand", "Move icons", true);
    add("aCustomizeIcons", "Customize icons", false);
    add("btnResizeDashUp", "Decrease dashboard height", false);
    add("btnResizeDashDn", "Increase dashboard height", false);
    cmds.Provide("aHand", [this] {
      model_->SetMode(model_->Mode() == desk::QuickboardMode::Move ? desk::QuickboardMode::Normal
                                                                   : desk::QuickboardMode::Move);
    });
    cmds.Provide("aCustomizeIcons", [this] {
      model_->SetMode(model_->Mode() == desk::QuickboardMode::Customise ? desk::QuickboardMode::Normal
                                                                        : desk::QuickboardMode::Customise);
    });
    cmds.Provide("btnResizeDashUp", [this] { model_->SetRows(model_->Rows() - 1); },
                 [this] { return model_->Rows() > 1; });
    cmds.Provide("btnResizeDashDn", [this] { model_->SetRows(model_->Rows() + 1); },
                 [this] { return model_->Rows() < desk::kQuickboardMaxRows; });
  }

  desk::DeskBrowser* Browser() const { return desk_.findChild<desk::DeskBrowser*>(); }

  void ShowFolder(desk::GridTab tab, const std::string& folder) {
    desk::DeskBrowser* b = Browser();
    if (!b) return;
    if (b->CurrentTab() != tab && !b->SwitchTab(tab)) return;
    desk::TreeNode* node = b->Model(desk::DeskBrowser::Ix(tab)).FindNode(store::WithSlash(folder), true);
    if (node) b->ShowNode(node, true);
    else if (b->openWithDesktop) b->openWithDesktop(folder);
  }

  store::DocRecord RecordOf(const std::string& path) const {
    store::DocRecord r;
    r.folder = FolderOf(path);
    r.name = NameOf(path);
    const QString suffix = QFileInfo(Q(r.name)).suffix();
    r.ext = suffix.toStdString();
    return r;
  }

  void Open(const desk::QuickboardItem& item) {
    desk::DeskBrowser* b = Browser();
    switch (item.kind) {
      case desk::SlotKind::Folder: ShowFolder(desk::GridTab::Files, item.path); return;
      case desk::SlotKind::Group: {
        std::string name = NameOf(item.path);
        if (!name.empty() && name.back() == '.') name.pop_back();
        ShowFolder(desk::GridTab::Contacts, store::WithSlash(state_.locations.contacts) + name + "/");
        return;
      }
      case desk::SlotKind::Template: {
        if (!opener_ || !b) return;
        for (const desk::NewDocumentTemplate& t : opener_->Templates()) {
          if ("." + t.ext != item.path) continue;
          const bool filesFolder = b->CurrentTab() == desk::GridTab::Files && !b->ShownFolder().empty();
          const std::string folder = filesFolder ? b->ShownFolder() : state_.locations.documents;
          opener_->NewDocument(t, folder, filesFolder && b->ShownRestricted(),
                               QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh.mm")).toStdString());
          break;
        }
        state_.messages.ShowQueuedMessages();
        return;
      }
      case desk::SlotKind::Program:
        if (QFileInfo(Q(item.path)).suffix() == QLatin1String("desktop")) {
          LaunchDesktopFile(item.path, {});
          return;
        }
        break;
      default: break;
    }
    store::DocRecord r = RecordOf(item.path);
    if (item.kind == desk::SlotKind::Contact) r.ext = "vcf";
    if (b && b->openDocument && b->openDocument(r)) return;
    if (item.kind == desk::SlotKind::Program || item.kind == desk::SlotKind::Shortcut) {
      if (b && b->openWithDesktop) b->openWithDesktop(item.path);
      return;
    }
    if (b && b->openWithDesktop) b->openWithDesktop(item.path);
  }

  std::optional<platform::DesktopEntry> EntryOf(const std::string& program) const {
    if (QFileInfo(Q(program)).suffix() == QLatin1String("desktop")) {
      QFile f(Q(program));
      if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
      const QByteArray text = f.read(256 * 1024);
      auto e = platform::ParseDesktopEntry(std::string_view(text.constData(), static_cast<size_t>(text.size())));
      if (e) e->path = program;
      return e;
    }
    // A plain program: it gets the files as its arguments.
    platform::DesktopEntry e;
    e.path = program;
    e.name = NameOf(program);
    std::string quoted = "\"";
    for (char c : program) {
      if (c == '"' || c == '\\' || c == '`' || c == '$') quoted.push_back('\\');
      quoted.push_back(c);
    }
    e.exec = quoted + "\" %F";
    e.application = true;
    return e;
  }

  void LaunchDesktopFile(const std::string& program, const std::vector<std::string>& files) {
    auto entry = EntryOf(program);
    if (!entry) return;
    const platform::ExecCommand cmd = platform::ExpandExec(*entry, files);
    if (!cmd.ok()) {
      state_.messages.QueueMessage(MessageKind::Error, cmd.error.empty() ? "Cannot run " + program : cmd.error);
      state_.messages.ShowQueuedMessages();
      return;
    }
    const platform::LaunchResult lr = platform::SpawnProgram(cmd.argv, state_.locations.documents);
    if (!lr.ok()) {
      state_.messages.QueueMessage(MessageKind::Error, "An error occurred while running program \"" + cmd.argv[0] + "\"");
      state_.messages.ShowQueuedMessages();
    }
  }

  // Documents dropped on a program's button open there, watched like any document opened from
  // the desk.
  void OpenWith(const std::string& program, const std::vector<std::string>& files) {
    auto entry = EntryOf(program);
    if (!entry) return;
    desk::DeskBrowser* b = Browser();
    for (const std::string& f : files) {
      if (opener_) opener_->OpenWithProgram(RecordOf(f), *entry, b && b->ShownRestricted());
    }
    state_.messages.ShowQueuedMessages();
  }

  // A click on a button while the desk carries documents or a folder: the drop of Part carrying.
  bool DropCarried(int slot) {
    auto* view = desk_.findChild<desk::DeskBrowserView*>();
    desk::DeskCarry* carry = view ? view->carry() : nullptr;
    desk::DeskBrowser* b = Browser();
    if (!carry || !b) return false;
    const desk::Hand hand = carry->hand().state();
    desk::SlotDrop drop;
    if (hand == desk::Hand::Documents || hand == desk::Hand::Snapshot) {
      std::unique_ptr<QMimeData> mime(carry->MimeOfSelection());
      for (const QUrl& u : mime->urls())
        if (u.isLocalFile()) drop.paths.push_back(u.toLocalFile().toStdString());
      const store::DocRows& rows = b->grid()->model().rows();
      bool contacts = !rows.empty(), messages = !rows.empty();
      for (const auto& r : rows) {
        if (!r.selected) continue;
        contacts = contacts && r.IsContact();
        messages = messages && IsMessageExt(r.ext) && store::IsMailFlags(r.flags);
        if (r.IsContact()) {
          // A contact is its section in the Contacts folder.
          const std::string path = store::WithSlash(state_.locations.contacts) + r.name;
          if (r.IsContactRef()) drop.paths.push_back(path);
        }
      }
      drop.kind = contacts ? desk::SlotDrop::Contacts : desk::SlotDrop::Documents;
      drop.messages = messages;
    } else if (hand == desk::Hand::Folder) {
      drop.kind = desk::SlotDrop::Folder;
      drop.paths = {b->ShownFolder()};
      drop.fromContactsTree = b->CurrentTab() == desk::GridTab::Contacts;
      if (b->CurrentTab() == desk::GridTab::Tools) return false;
    } else {
      return false;
    }
    if (drop.paths.empty()) return false;
    const desk::DropPlan plan = model_->PlanDrop(slot, drop);
    if (plan.action == desk::DropPlan::Refuse) return false;
    if (plan.action == desk::DropPlan::Place) model_->Place(slot, plan.item);
    else if (plan.action == desk::DropPlan::OpenWith) OpenWith(plan.program, plan.files);
    carry->PutDown();
    return true;
  }

  // Customise mode: a picture for the button and its caption.
  void Customise(int slot) {
    const desk::QuickboardItem* item = model_->Item(slot);
    if (!item || item->Empty()) return;
    bool ok = false;
    const QString label = QInputDialog::getText(&desk_, QStringLiteral("Customize Icon"), QStringLiteral("Caption:"),
                                                QLineEdit::Normal, Q(item->label), &ok);
    if (!ok) return;
    std::string icon = item->icon;
    const QString startDir = Q(model_->Ini().ReadString(desk::kQuickboardSection, "Path", ""));
    const QString picture = QFileDialog::getOpenFileName(&desk_, QStringLiteral("Choose an icon"), startDir,
                                                         QStringLiteral("Pictures (*.ico *.png *.bmp *.svg)"));
    if (!picture.isEmpty()) {
      // The picture is copied into the icons folder under a new name.
      RandomSource random;
      const QString suffix = QFileInfo(picture).suffix().toLower();
      const std::string name = NewUniqueId(random) + "." + suffix.toStdString();
      QDir().mkpath(Q(model_->env().iconsFolder));
      if (desk::IsSafeIconName(name) && QFile::copy(picture, Q(model_->env().iconsFolder + name))) icon = name;
      model_->Ini().WriteString(desk::kQuickboardSection, "Path", QFileInfo(picture).absolutePath().toStdString() + "/");
    }
    model_->Customise(slot, label.toStdString(), icon);
  }

  desk::Quickboard& Model() { return *model_; }
  desk::DashBoard* Bar() const { return bar_; }

private:
  desk::TfrmDesk& desk_;
  desk::DeskState& state_;
  desk::DocumentOpener* opener_;
  std::unique_ptr<desk::SystemQuickboardFs> fs_;
  std::unique_ptr<desk::Quickboard> model_;
  QPointer<desk::DashBoard> bar_;
};

}  // namespace

void InstallQuickboard(desk::TfrmDesk& desk, desk::DeskState& state, desk::DocumentOpener* opener) {
  auto* host = new QuickboardHost(desk, state, opener);
  host->Install();
}

}  // namespace px::app
