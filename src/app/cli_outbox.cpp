// plumadex-cli outbox: documents queued as outgoing mail (the outbox operation).
#include "app/cli_commands.h"
#include "app/cli_console.h"

#include "foundation/locations.h"
#include "foundation/message_queue.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "store/doc_operations.h"
#include "store/op_services.h"
#include "store/doc_record.h"
#include "store/folder_listing.h"
#include "store/index_file.h"
#include "store/tree_ops.h"
#include "store/unread_list.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <string>
#include <vector>

namespace px::cli {

using namespace px::store;

int runOutbox(const Args& args) {
  const char* usage = "usage: outbox PATH... --to ADDRESSES [--encrypt]";
  std::string to;
  bool encrypt = false;
  std::vector<std::string> paths;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--to" && i + 1 < args.size()) to = args[++i];
    else if (args[i] == "--encrypt") encrypt = true;
    else if (args[i].size() > 1 && args[i][0] == '-') {
      PrintErr("plumadex-cli: %s\n", usage);
      return 2;
    } else paths.push_back(args[i]);
  }
  if (paths.empty() || to.empty()) {
    PrintErr("plumadex-cli: %s\n", usage);
    return 2;
  }
  Locations loc = ComputeLocations();
  MakeDataFolders(loc);
  StderrPresenter presenter;
  MessageQueue messages(&presenter);
  PrintAsQueued(messages);
  Settings settings(loc.UserIni());
  IniRegistry registry;
  RandomSource random;
  UnreadList unread;
  unread.Load(loc.UnreadList());
  TPXIniBase sent(loc.SentIni());

  OpServices svc;
  svc.registry = &registry;
  svc.random = &random;
  svc.messages = &messages;
  svc.unread = &unread;
  svc.sent = &sent;
  svc.documentsFolder = loc.documents;
  svc.trashFolder = loc.trash;
  svc.contactsFolder = loc.contacts;
  svc.ownFromAddress = OwnFromAddress(settings);

  std::vector<OpItem> items;
  bool bad = false;
  for (const auto& p : paths) {
    const std::string abs = QDir::cleanPath(QFileInfo(QString::fromStdString(p)).absoluteFilePath()).toStdString();
    if (!PathExists(abs) || IsDirectory(abs)) {
      PrintErr("plumadex-cli: %s: not a document\n", p.c_str());
      bad = true;
      continue;
    }
    OpItem it;
    const size_t slash = abs.rfind('/');
    it.folder = abs.substr(0, slash + 1);
    it.name = abs.substr(slash + 1);
    it.refFolder = it.folder;
    it.ext = ExtensionOf(it.name);
    TPXIniFile ix(registry, IndexPathOf(it.folder));
    it.title = ix.ReadString(it.name, "Title", "");
    if (it.title.empty()) it.title = StripExtension(it.name);
    it.flags = static_cast<int>(ix.ReadInteger(it.name, "Flags", 0));
    it.charset = ix.ReadString(it.name, "Charset", "");
    it.msgId = ix.ReadString(it.name, "MsgID", "");
    it.sticker = ix.ReadString(it.name, "Sticker", "");
    if (IsPendingFlags(it.flags)) {
      PrintErr("plumadex-cli: %s: already waiting to be sent\n", p.c_str());
      bad = true;
      continue;
    }
    it.address = to;
    items.push_back(std::move(it));
  }
  NullCollaborators none;
  DocOperations ops(svc, none.Get());
  std::vector<std::pair<std::string, std::string>> queued;
  const size_t done = ops.RunOnSelection(opOutbox, items, [&](OpItem& it, bool ok) {
    if (ok) std::printf("%s%s %s\n", it.folder.c_str(), it.name.c_str(), it.seriesId.c_str());
    if (ok) queued.emplace_back(it.folder, it.name);
  });
  int status = done == items.size() && !bad ? 0 : 1;
  // Marked to go encrypted: sending holds them back rather than send them in clear.
  for (const auto& [folder, name] : encrypt ? queued : decltype(queued){}) {
    TPXIniFile ix(registry, IndexPathOf(folder));
    ix.WriteInteger(name, "Flags", ix.ReadInteger(name, "Flags", 0) | dfEncrypted);
    if (const FileStatus st = ix.Release(); !st.ok()) {
      messages.QueueMessage(MessageKind::Error, st.message);
      status = 1;
    }
  }
  const FileStatus us = unread.Save(loc.UnreadList());
  if (!us.ok()) status = 1;
  const FileStatus ss = sent.UpdateFile();
  if (!ss.ok()) {
    messages.QueueMessage(MessageKind::Error, ss.message);
    status = 1;
  }
  return status;
}

}  // namespace px::cli
