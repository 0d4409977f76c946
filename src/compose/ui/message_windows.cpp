#include "compose/ui/message_windows.h"

#include "transport/identities.h"

#include "compose/open_request.h"
#include "foundation/message_queue.h"
#include "foundation/settings.h"
#include "foundation/strings.h"
#include "foundation/ui/font_value_qt.h"
#include "foundation/ui/standard_font.h"
#include "store/index_value.h"
#include "transport/accounts.h"

#include <QFileInfo>

namespace px::compose::ui {

namespace {
// Every address of the user: the service address and each enabled account's address (an
// account is named after its address; its user name when that is an address too).
StringList OwnAddresses(const Settings& settings) {
  StringList out;
  if (std::string own = OwnFromAddress(settings); !own.empty()) out.push_back(own);
  for (const transport::ExternalAccount& a : transport::ReadAccounts(settings)) {
    if (!a.enabled || a.IsService()) continue;
    if (a.name.find('@') != std::string::npos) out.push_back(a.name);
    if (a.user.find('@') != std::string::npos) out.push_back(a.user);
  }
  return out;
}
}  // namespace

MessageWindows::MessageWindows(MessageWindowsConfig config, QObject* parent)
    : QObject(parent), cfg_(std::move(config)) {
  MakeOperations();
}

void MessageWindows::MakeOperations() {
  if (cfg_.refreshServices) cfg_.refreshServices(cfg_.opServices);
  store::OpServices s = cfg_.opServices;
  if (!s.random) s.random = &random_;
  if (!s.messages) s.messages = cfg_.messages;
  if (s.documentsFolder.empty()) s.documentsFolder = cfg_.documentsFolder;
  if (s.ownFromAddress.empty() && cfg_.settings) s.ownFromAddress = OwnFromAddress(*cfg_.settings);
  ops_ = std::make_unique<store::DocOperations>(std::move(s), collaborators_.Get());
}

MessageWindows::~MessageWindows() {
  // Windows still open go first: their web views must not outlive the program's web engine.
  for (auto& w : windows_) delete w.data();
}

EditServices MessageWindows::ServicesForWindow() {
  EditServices e;
  e.outbox = &outbox_;
  e.messages = cfg_.messages;
  e.random = &random_;
  e.tempFolder = cfg_.tempFolder;
  e.contacts = cfg_.contactEntries ? cfg_.contactEntries() : cfg_.contacts;
  if (cfg_.quickList) e.quickList = cfg_.quickList();
  e.addToContacts = cfg_.addToContacts;
  e.openAttachment = cfg_.openAttachment;
  e.askSaveFile = cfg_.askSaveFile;
  e.blockSender = cfg_.blockSender;
  e.openUrl = cfg_.openUrl;
  e.ask = cfg_.ask;
  e.sendRefusal = cfg_.sendRefusal;
  if (store::IniRegistry* reg = ops_->Services().registry)
    e.titleOf = [reg](const std::string& path) { return IndexTitleOf(*reg, path); };
  ComposeEnv& env = e.env;
  env.online = cfg_.online ? cfg_.online() : true;
  env.encryptionAvailable = cfg_.encryptionReady ? cfg_.encryptionReady() : cfg_.encryptionAvailable;
  env.alwaysEncrypt = cfg_.alwaysEncrypt;
  env.groupMembers = cfg_.groupMembers;
  FontValue textBase, htmlBase;
  textBase.name = "Courier New";
  textBase.size = 10;
  htmlBase.name = "Arial";
  // Unless the user chose a size, new text has the size of the desktop's own font.
  const int standardSize = px::ui::StandardFont().pointSize();
  htmlBase.size = standardSize > 0 ? standardSize : 10;
  if (Settings* s = cfg_.settings) {
    env.userName = s->Name();
    env.userId = s->ID();
    env.identities = transport::SenderAddresses(*s);
    env.defaultSender = env.identities.empty() ? OwnFromAddress(*s) : env.identities.front();
    env.alternativeFrom = s->AlternativeFromAddresses();
    env.ownAddresses = OwnAddresses(*s);
    env.htmlMessages = s->MessageFormat() != 1;
    if (s->UseSignature()) env.signature = MakeSignature(SplitLines(store::DecodeIndexText(s->Signature()).text));
    e.defaultCharset = s->DefaultCharset();
    textBase = s->TextEditorFont(textBase);
    htmlBase = s->HtmlEditorFont(htmlBase);
  }
  env.htmlFont.name = htmlBase.name;
  env.htmlFont.size = htmlBase.size;
  e.textFont = px::ui::ToQFont(textBase);
  e.htmlFont = px::ui::ToQFont(htmlBase);
  return e;
}

TfrmEdit* MessageWindows::Open(const OpenRequest& request) {
  auto* w = new TfrmEdit(ServicesForWindow());
  windows_.push_back(w);
  connect(w, &TfrmEdit::WindowClosed, this, [this] {
    // Filed once the window is gone, so the document it showed is free again.
    QMetaObject::invokeMethod(this, [this] { FileQueued(); }, Qt::QueuedConnection);
  });
  if (!w->Open(request)) {
    w->deleteLater();
    return nullptr;
  }
  if (!(request.options & eoHidden)) {
    w->show();
    // A window opened for another program (a mailto link) comes to the front with the focus,
    // not behind the desk.
    w->raise();
    w->activateWindow();
  }
  return w;
}

TfrmEdit* MessageWindows::OpenDocument(const std::string& folder, const std::string& name, const std::string& prefix,
                                       int extraOptions) {
  store::IniRegistry* reg = ops_->Services().registry;
  if (!reg) return nullptr;
  OpenRequest r = OpenRequestForEntry(*reg, folder, name, prefix);
  r.options |= extraOptions;
  return Open(r);
}

TfrmEdit* MessageWindows::NewMessage(const std::string& folder, const std::string& to) {
  const bool html = !cfg_.settings || cfg_.settings->MessageFormat() != 1;
  return Open(NewMessageRequest(folder.empty() ? cfg_.documentsFolder : folder, to, html));
}

void MessageWindows::FileQueued() {
  if (!outbox_.Empty() && cfg_.refreshServices) MakeOperations();
  while (!outbox_.Empty()) {
    TNewMessageRec rec = outbox_.Take();
    FilerServices f;
    f.ops = ops_.get();
    f.messages = cfg_.messages;
    f.dataRoot = cfg_.dataRoot;
    f.documentsFolder = cfg_.documentsFolder;
    f.defaultSender = cfg_.settings ? OwnFromAddress(*cfg_.settings) : std::string();
    f.normaliseTo = cfg_.normaliseTo;
    if (store::IniRegistry* reg = ops_->Services().registry)
      f.titleOf = [reg](const std::string& path) { return IndexTitleOf(*reg, path); };
    f.offline = cfg_.online && !cfg_.online();
    f.sendNow = cfg_.sendNow;
    filed_.push_back(FileNewMessage(rec, f));
  }
  if (cfg_.filed) cfg_.filed();
  if (cfg_.messages) cfg_.messages->ShowQueuedMessages();
}

int MessageWindows::OpenWindows() const {
  int n = 0;
  for (const auto& w : windows_)
    if (w && w->isVisible()) ++n;
  return n;
}

void MessageWindows::QuickListChanged() {
  if (!cfg_.quickList) return;
  const StringList entries = cfg_.quickList();
  for (const auto& w : windows_)
    if (w) w->SetQuickList(entries);
}

}  // namespace px::compose::ui
