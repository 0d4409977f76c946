// plumadex-cli file [MESSAGE...]: files what waits in the mail spool; raw messages given on the
// command line are put into the spool first, as mail from the network.
#include "app/cli_commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "foundation/locations.h"
#include "foundation/message_queue.h"
#include "foundation/random.h"
#include "incoming/mail_filer.h"
#include "incoming/mail_sort.h"
#include "incoming/service_envelope.h"
#include "mailformat/spool.h"
#include "store/index_file.h"
#include "store/leftover_sweep.h"
#include "store/run_mark.h"
#include "store/newmail_list.h"
#include "store/unread_list.h"

namespace px::cli {

namespace {

class StderrPresenter final : public MessagePresenter {
public:
  void ShowBox(MessageKind kind, const std::string& text) override {
    std::string t = text;
    for (auto& c : t)
      if (c == '\r') c = '\n';
    const char* what = kind == MessageKind::Error ? "error" : kind == MessageKind::Warning ? "warning" : "note";
    PrintErr("plumadex-cli: %s: %s\n", what, t.c_str());
  }
  void CloseBox() override {}
};

// Copies one raw message into the spool under a name that marks it as network mail.
bool PutIntoSpool(mailformat::MailSpool& spool, const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    PrintErr("plumadex-cli: %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  mailformat::SpoolFileWriter w;
  const std::string name = incoming::RawSpoolName(spool.NewName(), mailformat::SourceTrust::Network);
  bool ok = w.Open(spool, name, mailformat::kRawExt);
  std::string buf(256 * 1024, '\0');
  while (ok) {
    ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      PrintErr("plumadex-cli: %s: %s\n", path.c_str(), std::strerror(errno));
      ok = false;
      break;
    }
    if (n == 0) break;
    ok = w.Write(std::string_view(buf.data(), static_cast<size_t>(n)));
  }
  ::close(fd);
  if (ok && !w.Commit()) ok = false;
  if (!ok && w.error()) PrintErr("plumadex-cli: %s\n", w.errorText().c_str());
  return ok;
}

}  // namespace

int FileWaitingMail(bool quiet) {
  Locations loc = ComputeLocations();
  MakeDataFolders(loc);
  StderrPresenter presenter;
  MessageQueue messages(&presenter);
  messages.SetWakeUp([&messages] { messages.ShowQueuedMessages(); });
  store::IniRegistry registry;
  RandomSource random;
  store::UnreadList unread;
  unread.Load(loc.UnreadList());
  store::NewMailList newMail;
  newMail.Load(loc.NewMailList());
  TPXIniBase sent(loc.SentIni());

  incoming::FilingServices s;
  s.registry = &registry;
  s.random = &random;
  s.unread = &unread;
  s.newMail = &newMail;
  s.sent = &sent;
  s.messages = &messages;
  s.spoolFolder = loc.inbox;
  s.documentsFolder = loc.documents;
  s.quarantineFolder = incoming::QuarantineFolderOf(loc.dataRoot);
  s.trashFolder = loc.trash;
  incoming::MailSortRules rules;
  rules.SetMessages(&messages);
  rules.SetDocumentsFolder(loc.documents);
  rules.SetTrashFolder(loc.trash);
  (void)rules.Load(loc.dataRoot + std::string(incoming::kMailSortFile));
  s.rules = &rules;
  incoming::MailFiler filer(s);
  filer.onFiled = [quiet](const incoming::FiledDocument& d) {
    if (!quiet && d.newMessage) std::printf("%s%s\t%s\n", d.folder.c_str(), d.fileName.c_str(), d.sender.c_str());
  };
  // What a stopped run may have left in the spool and the folders.
  const time_t runStart = std::time(nullptr);
  store::RunMark mark(loc.dataRoot, runStart);
  store::SweepAfterStoppedRuns(loc, registry, mark, runStart);
  const incoming::FilingReport& r = filer.Run();
  if (r.busy) {
    PrintErr("plumadex-cli: another program is filing this mail now\n");
    return 1;
  }
  int status = r.failed() || !r.quarantined.empty() ? 1 : 0;
  if (!unread.Save(loc.UnreadList()).ok()) status = 1;
  if (!newMail.Save(loc.NewMailList()).ok()) status = 1;
  if (sent.Modified() && !sent.UpdateFile().ok()) status = 1;
  messages.ShowQueuedMessages();
  return status;
}

int runRefileQuarantine(const Args& args) {
  bool quiet = false;
  for (const auto& a : args) {
    if (a == "--quiet") {
      quiet = true;
    } else {
      PrintErr("plumadex-cli: usage: refile-quarantine [--quiet]\n");
      return 2;
    }
  }
  Locations loc = ComputeLocations();
  MakeDataFolders(loc);
  std::vector<std::string> errors;
  const size_t n = incoming::RefileQuarantine(incoming::QuarantineFolderOf(loc.dataRoot), loc.inbox, &errors);
  for (const auto& e : errors) {
    std::string t = e;
    for (auto& c : t)
      if (c == '\r') c = '\n';
    PrintErr("plumadex-cli: error: %s\n", t.c_str());
  }
  if (!quiet) std::printf("%zu message(s) put back to be filed\n", n);
  const int status = FileWaitingMail(quiet);
  return errors.empty() ? status : 1;
}

int runFile(const Args& args) {
  bool quiet = false;
  std::vector<std::string> files;
  for (const auto& a : args) {
    if (a == "--quiet") quiet = true;
    else if (a.size() > 1 && a[0] == '-') {
      PrintErr("plumadex-cli: usage: file [MESSAGE...] [--quiet]\n");
      return 2;
    } else files.push_back(a);
  }
  if (!files.empty()) {
    Locations loc = ComputeLocations();
    MakeDataFolders(loc);
    RandomSource random;
    mailformat::MailSpool spool(loc.inbox, random);
    for (const auto& f : files)
      if (!PutIntoSpool(spool, f)) return 1;
  }
  return FileWaitingMail(quiet);
}

}  // namespace px::cli
