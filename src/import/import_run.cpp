#include "import/import_run.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "foundation/locations.h"
#include "foundation/strings.h"
#include "incoming/service_envelope.h"
#include "import/dbx_reader.h"
#include "import/mbox_splitter.h"
#include "mailformat/mime_header.h"
#include "mailformat/pseudo_headers.h"
#include "mailformat/spool.h"

namespace px::import {

namespace mf = px::mailformat;

namespace {

constexpr size_t kReadChunk = 256 * 1024;
constexpr size_t kMaxMessageId = 998;
constexpr size_t kMaxHeldHeader = 256 * 1024;
constexpr size_t kKeysPerBatch = 500;
constexpr size_t kMaxFolderName = 100;  // bytes of one folder name made from a source's name

std::string Hex(const QByteArray& b) { return b.toHex().toStdString(); }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string SysText(int err) { return std::strerror(err); }

// Receives the lines of one message after another and writes each into the spool.
class MessageWriter final : public MboxSink {
public:
  MessageWriter(mf::MailSpool& spool, ImportRecord& record, const ImportOptions& options, ImportSummary& summary,
                const std::atomic<bool>& cancel, std::function<void()> step)
      : spool_(spool), record_(record), options_(options), summary_(summary), cancel_(cancel),
        step_(std::move(step)) {}

  // The folder of the messages that follow.
  void SetFolder(std::string folderValue, std::string sourceFolder, bool draft, bool outbound = false) {
    folderValue_ = std::move(folderValue);
    sourceFolder_ = std::move(sourceFolder);
    draft_ = draft;
    outbound_ = outbound;
  }
  void SetUnread(bool unread) { unread_ = unread; }
  // Whether spooled messages are flushed to the disk before their keys are recorded.
  void SetFlush(bool on) { flush_ = on; }
  // Messages of a mailbox file: their status headers tell read and deleted ones.
  void SetMailbox(bool mailbox) { mailbox_ = mailbox; }
  void SetDraftMessage(bool draft) { draftMessage_ = draft; }
  bool stopped() const { return stopped_ || cancel_.load(std::memory_order_relaxed); }

  void BeginMessage(uint64_t) override {
    Reset();
    if (stopped()) return;
    open_ = true;
    if (options_.dryRun) return;
    name_ = incoming::RawSpoolName(spool_.NewName(), mf::SourceTrust::Trusted);
    if (!writer_.Open(spool_, name_, mf::kRawExt)) return Fail();
  }

  // The header is held until its end (or kMaxHeldHeader), so its status lines can decide the
  // pseudo-headers that must come first in the file.
  void FlushHead() {
    if (headWritten_) return;
    headWritten_ = true;
    bool unread = unread_;
    if (mailbox_) {
      if (mozillaStatus_) {
        unread = !(*mozillaStatus_ & 0x0001);
        if (*mozillaStatus_ & 0x0008) deleted_ = true;  // expunged, not yet compacted away
      } else if (status_) {
        unread = status_->find('R') == std::string::npos;
      }
    }
    std::string pseudo = mf::ImportPseudoHeaders(folderValue_, outbound_ && !(draft_ || draftMessage_),
                                                 draft_ || draftMessage_);
    if (unread) pseudo += std::string(mf::kUnreadHeader) + ": *\r\n";
    Write(pseudo);
    Write(held_);
    held_.clear();
  }

  void LinePiece(std::string_view text, bool first, bool last) override {
    if (!open_) return;
    if (inHeader_) {
      headerHash_.addData(QByteArrayView(text.data(), qsizetype(text.size())));
      if (last) headerHash_.addData("\n");
      if (first) {
        if (text.empty() && last) {
          inHeader_ = false;
          FlushHead();
        } else if (text[0] == ' ' || text[0] == '\t') {
          if (inMessageId_ && messageId_.size() < kMaxMessageId) messageId_.append(text.substr(0, kMaxMessageId - messageId_.size()));
        } else {
          inMessageId_ = false;
          if (mailbox_ && mf::HeaderNameMatches(text, "X-Mozilla-Status") && !mozillaStatus_) {
            std::string v = Trim(text.substr(text.find(':') + 1, 16));
            mozillaStatus_ = static_cast<unsigned>(std::strtoul(v.c_str(), nullptr, 16));
          } else if (mailbox_ && mf::HeaderNameMatches(text, "Status") && !status_) {
            status_ = Trim(text.substr(text.find(':') + 1, 16));
          }
          if (mf::HeaderNameMatches(text, "Message-ID") && messageId_.empty()) {
            inMessageId_ = true;
            size_t colon = text.find(':');
            messageId_ = std::string(text.substr(colon + 1, kMaxMessageId));
          }
          // The message's own pseudo-headers never steer filing.
          if (mf::IsPseudoHeaderLine(text)) Write(mf::kNeutralisedPrefix);
        }
      } else if (inMessageId_ && messageId_.size() < kMaxMessageId) {
        messageId_.append(text.substr(0, kMaxMessageId - messageId_.size()));
      }
    } else {
      bodyHash_.addData(QByteArrayView(text.data(), qsizetype(text.size())));
      if (last) bodyHash_.addData("\n");
    }
    if (!headWritten_ && held_.size() + text.size() > kMaxHeldHeader) FlushHead();
    Write(text);
    if (last) Write("\r\n");
  }

  void EndMessage() override {
    if (!open_) return;
    FlushHead();
    open_ = false;
    if (stopped()) {
      writer_.Discard();
      return;
    }
    if (deleted_) {
      writer_.Discard();
      ++summary_.deleted;
      step_();
      return;
    }
    const std::string key = Key();
    if (record_.Contains(key)) {
      writer_.Discard();
      ++summary_.duplicates;
    } else {
      if (!options_.dryRun) {
        if (!writer_.Commit()) return Fail();
        pending_.push_back(key);
        if (pending_.size() >= kKeysPerBatch) Persist();
      }
      record_.Remember(key);  // a message met twice in one run counts once
      ++summary_.messages;
    }
    step_();
  }

  // The spool files written so far reach the disk, then their keys reach the record: after a
  // crash a message may come again, but none is recorded that is not safely spooled.
  void Persist() {
    if (pending_.empty()) return;
    if (flush_) {
      int fd = ::open(spool_.folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
      }
    }
    if (!record_.Append(pending_) && summary_.error.empty()) {
      summary_.error = "Cannot write the record of imported messages";
      stopped_ = true;
    }
    pending_.clear();
  }

  // Ends a message cut short by a read error.
  void Abandon() {
    if (open_) writer_.Discard();
    open_ = false;
  }

private:
  void Reset() {
    inHeader_ = true;
    headWritten_ = false;
    deleted_ = false;
    held_.clear();
    mozillaStatus_.reset();
    status_.reset();
    inMessageId_ = false;
    messageId_.clear();
    headerHash_.reset();
    bodyHash_.reset();
  }

  void Write(std::string_view bytes) {
    if (options_.dryRun || !open_ || bytes.empty()) return;
    if (!headWritten_) {
      held_.append(bytes);
      return;
    }
    if (!writer_.Write(bytes)) Fail();
  }

  void Fail() {
    summary_.error = writer_.errorText();
    if (summary_.error.empty()) summary_.error = "Cannot write into the mail spool " + spool_.folder();
    writer_.Discard();
    open_ = false;
    stopped_ = true;
  }

  // The same message in the same source folder has the same key: by its Message-ID and body,
  // or by header and body when it has no Message-ID.
  std::string Key() {
    QCryptographicHash k(QCryptographicHash::Sha1);
    k.addData(QByteArrayView(sourceFolder_.data(), qsizetype(sourceFolder_.size())));
    k.addData(QByteArrayView("\0", 1));
    std::string id = Trim(messageId_);
    if (!id.empty()) {
      k.addData("m");
      k.addData(QByteArrayView(id.data(), qsizetype(id.size())));
    } else {
      k.addData("h");
      k.addData(headerHash_.result());
    }
    k.addData(QByteArrayView("\0", 1));
    k.addData(bodyHash_.result());
    return Hex(k.result());
  }

  mf::MailSpool& spool_;
  ImportRecord& record_;
  const ImportOptions& options_;
  ImportSummary& summary_;
  const std::atomic<bool>& cancel_;
  std::function<void()> step_;
  mf::SpoolFileWriter writer_;
  std::string name_, folderValue_, sourceFolder_, messageId_;
  QCryptographicHash headerHash_{QCryptographicHash::Sha1}, bodyHash_{QCryptographicHash::Sha1};
  bool open_ = false, inHeader_ = true, inMessageId_ = false, stopped_ = false;
  bool draft_ = false, draftMessage_ = false, unread_ = false, mailbox_ = false, outbound_ = false;
  bool headWritten_ = false, deleted_ = false, flush_ = true;
  std::string held_;
  std::vector<std::string> pending_;  // keys of spooled messages not yet in the record
  std::optional<unsigned> mozillaStatus_;
  std::optional<std::string> status_;
};

// Feeds a file through the splitter; false (and *err) on a read error.
bool FeedFile(const std::string& path, MboxSplitter& splitter, MessageWriter& writer, int* err) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *err = errno;
    return false;
  }
  std::string buf(kReadChunk, '\0');
  bool ok = true;
  while (!writer.stopped()) {
    ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *err = errno;
      ok = false;
      break;
    }
    if (n == 0) break;
    splitter.Feed(std::string_view(buf.data(), static_cast<size_t>(n)));
  }
  ::close(fd);
  if (ok) splitter.Finish();
  else writer.Abandon();
  return ok;
}

struct MaildirFile {
  std::string name, path;
  bool inNew;
};

std::string MaildirFlags(const std::string& name) {
  size_t p = name.rfind(":2,");
  if (p == std::string::npos) p = name.rfind("!2,");  // the form used where ":" cannot be in a name
  return p == std::string::npos ? std::string() : name.substr(p + 3);
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string r;
  for (const auto& n : names) {
    if (!r.empty()) r += '/';
    r += n;
  }
  return r;
}

}  // namespace

// ---- ImportRecord ----

ImportRecord::~ImportRecord() { Close(); }

bool ImportRecord::Open(const std::string& path, std::string* error, bool forWriting) {
  Close();
  keys_.clear();
  int rfd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (rfd >= 0) {
    std::string data, buf(64 * 1024, '\0');
    for (;;) {
      ssize_t n = ::read(rfd, buf.data(), buf.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      data.append(buf.data(), static_cast<size_t>(n));
      size_t start = 0;
      for (size_t nl; (nl = data.find('\n', start)) != std::string::npos; start = nl + 1)
        if (nl > start) keys_.insert(data.substr(start, nl - start));
      data.erase(0, start);
    }
    ::close(rfd);
    // A last line without its end was cut short by a crash: it is left out (its message was
    // spooled before it was recorded, so at worst it comes again).
  } else if (errno != ENOENT) {
    if (error) *error = "Cannot read " + path + "\r\rError " + std::to_string(errno) + ": " + SysText(errno);
    return false;
  }
  if (!forWriting) return true;
  fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    if (error) *error = "Cannot write " + path + "\r\rError " + std::to_string(errno) + ": " + SysText(errno);
    return false;
  }
  // A torn last line gets its end, so the next key starts a line of its own.
  struct stat st;
  if (::fstat(fd_, &st) == 0 && st.st_size > 0) {
    char last = '\n';
    int r2 = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (r2 >= 0) {
      if (::pread(r2, &last, 1, st.st_size - 1) != 1) last = '\n';
      ::close(r2);
    }
    if (last != '\n' && ::write(fd_, "\n", 1) != 1) return false;
  }
  return true;
}

bool ImportRecord::Add(const std::string& key) {
  Remember(key);
  return Append({key});
}

bool ImportRecord::Append(const std::vector<std::string>& keys) {
  if (fd_ < 0) return true;
  std::string text;
  for (const auto& k : keys) text += k + "\n";
  return ::write(fd_, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fdatasync(fd_) == 0;
}

void ImportRecord::Close() {
  if (fd_ >= 0) {
    ::fsync(fd_);
    ::close(fd_);
  }
  fd_ = -1;
}

std::string RecordPathOf(const std::string& recordFolder, const ImportSource& source) {
  QString real = QFileInfo(QString::fromStdString(source.root())).canonicalFilePath();
  std::string path = real.isEmpty() ? source.root() : real.toStdString();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::string id = source.kind() + "\n" + path;
  return WithSlash(recordFolder) +
         Hex(QCryptographicHash::hash(QByteArrayView(id.data(), qsizetype(id.size())), QCryptographicHash::Sha1)) +
         ".lst";
}

std::optional<std::string> TargetFolderOf(std::string_view target, const std::vector<std::string>& names) {
  auto base = mf::SafeFolderValue(target);
  if (!base) return std::nullopt;
  std::string r = *base;
  for (const auto& n : names) {
    if (!r.empty()) r += '\\';
    r += SafeFileName(n, kMaxFolderName);
  }
  // Every piece is a safe file name, so the whole stays a safe folder value; checked all the same.
  auto safe = mf::SafeFolderValue(r);
  if (!safe || safe->size() < base->size() || safe->compare(0, base->size(), *base) != 0) return std::nullopt;
  return safe;
}

std::string DefaultTarget(const std::string& kind) { return "Imported\\" + kind; }

// ---- ImportRun ----

ImportRun::ImportRun(mf::MailSpool& spool, std::string recordFolder)
    : spool_(spool), recordFolder_(std::move(recordFolder)) {}

ImportSummary ImportRun::Run(const ImportSource& source, const ImportOptions& options, const std::atomic<bool>& cancel,
                             const ProgressFn& progress) {
  ImportSummary summary;
  if (!mf::SafeFolderValue(options.target)) {
    summary.error = "The target folder \"" + options.target + "\" is not a folder inside the documents folder";
    return summary;
  }
  ImportRecord record;
  // A dry run reads the record (to count only what is new) but never writes it.
  if (!options.dryRun) ::mkdir(recordFolder_.c_str(), 0700);
  if (!record.Open(RecordPathOf(recordFolder_, source), &summary.error, !options.dryRun)) return summary;

  ImportProgress shown;
  auto last = std::chrono::steady_clock::now() - kProgressInterval;
  auto report = [&](bool force) {
    if (!progress) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - last < kProgressInterval) return;
    last = now;
    shown.messages = summary.messages;
    shown.duplicates = summary.duplicates;
    progress(shown);
  };

  const bool sync = spool_.sync();
  spool_.setSync(false);
  struct Restore {
    mf::MailSpool& s;
    bool on;
    ~Restore() { s.setSync(on); }
  } restore{spool_, sync};
  MessageWriter writer(spool_, record, options, summary, cancel, [&] { report(false); });
  writer.SetFlush(sync);
  std::vector<SourceFolder> folders = source.Folders(summary.skipped);
  for (const SourceFolder& f : folders) {
    if (writer.stopped()) break;
    auto folderValue = TargetFolderOf(options.target, f.names);
    if (!folderValue) {
      summary.skipped.push_back({f.path, "its folder name cannot be made a folder inside the target"});
      continue;
    }
    ++summary.folders;
    shown.folder = JoinNames(f.names);
    const bool drafts = !f.names.empty() && EqualNoCase(f.names.back(), "Drafts");
    // The other program's sent-side folders hold outgoing mail.
    bool sent = false;
    for (const char* n : {"Sent", "Sent Items", "Sent Messages", "Sent Mail", "Outbox", "Unsent Messages"})
      sent = sent || (!f.names.empty() && EqualNoCase(f.names.back(), n));
    writer.SetFolder(*folderValue, JoinNames(f.names), drafts, sent);
    report(true);
    if (f.kind == SourceFolder::Kind::Mbox) {
      writer.SetUnread(false);
      writer.SetDraftMessage(false);
      writer.SetMailbox(true);
      MboxSplitter splitter(writer);
      int err = 0;
      if (!FeedFile(f.path, splitter, writer, &err))
        summary.skipped.push_back({f.path, "cannot be read: " + SysText(err)});
      continue;
    }
    if (f.kind == SourceFolder::Kind::Dbx) {
      DbxBytes file;
      if (!file.Open(f.path)) {
        summary.skipped.push_back({f.path, "cannot be read: " + SysText(errno)});
        continue;
      }
      writer.SetMailbox(false);
      writer.SetUnread(false);
      writer.SetDraftMessage(false);
      uint64_t cut = 0;
      const bool ok = ForEachDbxMessage(file, [&](std::string_view text) {
        MboxSplitter splitter(writer, MboxSplitter::Mode::Single);
        splitter.Feed(text);
        splitter.Finish();
        return !writer.stopped();
      }, &cut);
      if (!ok) summary.skipped.push_back({f.path, "not an Outlook Express folder file"});
      if (cut) summary.skipped.push_back({f.path, std::to_string(cut) + " message(s) cut off at 64 MiB"});
      continue;
    }
    // Maildir: cur/ and new/, in name order (names begin with the delivery time).
    std::vector<MaildirFile> files;
    for (bool inNew : {false, true}) {
      const std::string dir = f.path + (inNew ? "new/" : "cur/");
      DIR* d = ::opendir(dir.c_str());
      if (!d) continue;
      while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n.empty() || n[0] == '.') continue;
        struct stat st;
        if (::lstat((dir + n).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        files.push_back({n, dir + n, inNew});
      }
      ::closedir(d);
    }
    std::sort(files.begin(), files.end(), [](const MaildirFile& a, const MaildirFile& b) { return a.name < b.name; });
    for (const MaildirFile& m : files) {
      if (writer.stopped()) break;
      const std::string flags = m.inNew ? std::string() : MaildirFlags(m.name);
      writer.SetMailbox(false);
      writer.SetUnread(flags.find('S') == std::string::npos);
      writer.SetDraftMessage(flags.find('D') != std::string::npos);
      MboxSplitter splitter(writer, MboxSplitter::Mode::Single);
      int err = 0;
      if (!FeedFile(m.path, splitter, writer, &err))
        summary.skipped.push_back({m.path, "cannot be read: " + SysText(err)});
      else if (splitter.messages() == 0)
        summary.skipped.push_back({m.path, "empty file"});
    }
  }
  summary.cancelled = cancel.load();
  writer.Persist();
  record.Close();
  report(true);
  return summary;
}

}  // namespace px::import
