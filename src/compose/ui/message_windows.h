#pragma once
// The desk's side of the message windows: opens them on documents (".txt" and ".eml"), on a
// mailto URL or for a new message, collects the messages they queue and files each one as
// soon as its window has closed (the most recently queued first).
#include "compose/compose_model.h"
#include "compose/new_message_filer.h"
#include "compose/ui/frm_edit.h"
#include "foundation/random.h"
#include "store/doc_operations.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>

namespace px {
class Settings;
class MessageQueue;
}  // namespace px

namespace px::compose::ui {

struct MessageWindowsConfig {
  Settings* settings = nullptr;           // required
  MessageQueue* messages = nullptr;
  store::OpServices opServices;           // registry, sent.ini, lists ... for filing
  // Brings the filing services up to date (lists made after the windows were set up).
  std::function<void(store::OpServices&)> refreshServices;
  std::string tempFolder;
  std::string dataRoot;
  std::string documentsFolder;
  bool encryptionAvailable = false;
  std::function<bool()> encryptionReady;  // asked when a window opens; overrides the flag above
  // Mail to this address is always encrypted (the contact says so).
  std::function<bool(std::string_view address)> alwaysEncrypt;
  StringList contacts;                    // the address map's entries, when there is one
  std::function<std::string(const std::string& to)> normaliseTo;
  std::function<bool()> online;           // [true]
  // Starts a send-only run for a message queued with Send Now.
  std::function<void(const std::string& seriesBase)> sendNow;
  // Why a message from `from` to `recipients` cannot go now ("" when it can).
  std::function<std::string(const std::string& from, const std::string& recipients)> sendRefusal;
  std::function<void()> filed;            // a message was filed (the desk lists the folder again)
  std::function<void(const std::string& address)> blockSender;
  std::function<void(const QUrl&)> openUrl;
  std::function<int(const QString& text, bool withCancel)> ask;
  // The contacts as they are when a window opens (overrides `contacts`), the members of a
  // group, and "Add to Contacts..." on the address fields.
  std::function<StringList()> contactEntries;
  // The known people of the folder the desk shows, as entries (the "Quick List" tab).
  std::function<StringList()> quickList;
  GroupMembersFn groupMembers;
  std::function<void(const std::string& addresses, QWidget* parent)> addToContacts;
  // Opens a part of a viewed message (the desk's document opener); by default the system's handler.
  std::function<void(const std::string& path)> openAttachment;
  std::function<QString(const QString& proposedPath)> askSaveFile;  // [a file dialog]
};

class MessageWindows : public QObject {
  Q_OBJECT
public:
  explicit MessageWindows(MessageWindowsConfig config, QObject* parent = nullptr);
  ~MessageWindows() override;

  // A document of a folder (the grid's row): mail with its header lines, or a plain document.
  TfrmEdit* OpenDocument(const std::string& folder, const std::string& name, const std::string& prefix = {},
                         int extraOptions = 0);
  // A new message to be filed in `folder`; `to` may be a mailto URL.
  TfrmEdit* NewMessage(const std::string& folder, const std::string& to = {});
  TfrmEdit* Open(const OpenRequest& request);

  // Files every queued record (called when a window closes).
  void FileQueued();
  NewMessageList& Outbox() { return outbox_; }
  const std::vector<FiledMessage>& Filed() const { return filed_; }
  int OpenWindows() const;
  // The quick list changed: every open window's tab follows.
  void QuickListChanged();
  void SetQuickListSource(std::function<StringList()> source) { cfg_.quickList = std::move(source); }
  EditServices ServicesForWindow();

private:
  void MakeOperations();
  MessageWindowsConfig cfg_;
  RandomSource random_;
  NewMessageList outbox_;
  // Filing never asks: names that are taken get a new one.
  store::NullCollaborators collaborators_;
  std::unique_ptr<store::DocOperations> ops_;
  std::vector<QPointer<TfrmEdit>> windows_;
  std::vector<FiledMessage> filed_;
};

}  // namespace px::compose::ui
