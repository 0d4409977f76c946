#include "incoming/mail_filer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <unordered_map>

#include "foundation/atomic_file.h"
#include "foundation/charset.h"
#include "foundation/dates.h"
#include "foundation/fd_io.h"
#include "foundation/file_status.h"
#include "foundation/message_queue.h"
#include "foundation/locations.h"
#include "foundation/random.h"
#include "foundation/text_case.h"
#include "foundation/strings.h"
#include "incoming/service_envelope.h"
#include "mailformat/message_id.h"
#include "mailformat/mime_header.h"
#include "mailformat/mime_reader.h"
#include "mailformat/pseudo_headers.h"
#include "mailformat/spool.h"
#include "mailformat/stored_part.h"
#include "store/doc_operations.h"
#include "store/doc_record.h"
#include "store/index_entry.h"
#include "store/op_services.h"
#include "store/index_file.h"
#include "store/list_file.h"
#include "store/newmail_list.h"
#include "store/tree_ops.h"
#include "store/unique_names.h"
#include "store/unread_list.h"

namespace px::incoming {

namespace mf = px::mailformat;
using store::TPXIniFile;

namespace {

constexpr int kReceived = 0x1000;
constexpr int kUnread = 0x0200;
constexpr int kOutgoing = 0x2000;
constexpr size_t kMaxBatch = 2000;
constexpr uint64_t kMaxDescriptorBytes = 1u << 20;
constexpr uint64_t kMaxMarkerBytes = 64u << 10;
constexpr std::string_view kUnknownLine = "---Unknown---";
constexpr std::string_view kJournalName = ".filing.journal";
constexpr std::string_view kLockName = ".filing.lock";

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string SysError(std::string_view verb, const std::string& path, int err,
                     const std::string& target = {}) {
  return FileErrorText(verb, path, target, err);
}

std::string TabsToBlanks(std::string s) {
  std::replace(s.begin(), s.end(), '\t', ' ');
  return s;
}

// Tabs become blanks, each pair of blanks one blank (one pass), then trimmed.
std::string PrepareTagLine(const std::string& line) {
  std::string t = TabsToBlanks(line), out;
  out.reserve(t.size());
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == ' ' && i + 1 < t.size() && t[i + 1] == ' ') {
      out += ' ';
      ++i;
    } else {
      out += t[i];
    }
  }
  return Trim(out);
}

// Extension from the network made safe for a file name.
std::string SafeExtension(std::string ext) {
  if (!ext.empty() && static_cast<unsigned char>(ext[0]) < 0x20) ext[0] = '_';
  std::string out;
  for (size_t i = 0; i < ext.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(ext[i]);
    if (c < 0x20 || c == 0x7F || std::strchr("!*/:?\\|", c)) {
      out += '_';
    } else if (c == '"') {
      out += '\'';
    } else if (c == '<') {
      out += '(';
    } else if (c == '>') {
      out += ')';
    } else if (c == 0xC2 && i + 1 < ext.size() && static_cast<unsigned char>(ext[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(ext[i + 1]) <= 0xBF) {
      out += '_';  // U+0080 to U+00BF
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  out = Trim(out);
  // A name never ends in "." and an extension never names a folder level.
  while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
  while (!out.empty() && out.front() == '.') out.erase(0, 1);
  return store::CutUtf8(out, 32);
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && SameText(s.substr(s.size() - suffix.size()), suffix);
}

std::string ReadSmall(const std::string& path, uint64_t cap, int* err = nullptr) {
  std::string bytes;
  FileStatus st = ReadWholeFile(path, bytes, cap);
  if (err) *err = st.error;
  return st.ok() ? bytes : std::string();
}

// The "sender  (Subject:  subject)" line of a report.
std::string ReportLine(std::string sender, std::string subject) {
  return sender + "  (" + "Subject: " + " " + subject + ")";
}

// A directory and not a link to one (a trailing "/" would make lstat follow the link).
bool IsRealDir(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void SyncDir(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Moves a file into place without replacing anything; across file systems it is copied
// through a hidden temporary file beside the target, put in place, then the source goes.
int MoveNoReplace(const std::string& src, const std::string& dst, bool sync) {
  if (mf::RenameNoReplace(src, dst)) return 0;
  if (errno != EXDEV) return errno;
  if (int err = CopyFileNoReplace(src, dst, sync)) return err;
  ::unlink(src.c_str());
  return 0;
}

std::string BaseOf(std::string_view msgId) { return mf::ParseMessageId(msgId).base; }

// Two regular files with the same bytes.
bool SameBytes(const std::string& a, const std::string& b) {
  struct stat sa{}, sb{};
  if (::lstat(a.c_str(), &sa) != 0 || ::lstat(b.c_str(), &sb) != 0 || !S_ISREG(sa.st_mode) ||
      !S_ISREG(sb.st_mode) || sa.st_size != sb.st_size)
    return false;
  if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino) return false;
  int fa = ::open(a.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  int fb = ::open(b.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  bool same = fa >= 0 && fb >= 0;
  std::string ba(64 * 1024, '\0'), bb(64 * 1024, '\0');
  while (same) {
    ssize_t na = ::read(fa, ba.data(), ba.size());
    if (na < 0 && errno == EINTR) continue;
    if (na <= 0) {
      same = na == 0;
      break;
    }
    size_t got = 0;
    while (got < size_t(na)) {
      ssize_t nb = ::read(fb, bb.data() + got, size_t(na) - got);
      if (nb < 0 && errno == EINTR) continue;
      if (nb <= 0) break;
      got += size_t(nb);
    }
    same = got == size_t(na) && std::memcmp(ba.data(), bb.data(), got) == 0;
  }
  if (fa >= 0) ::close(fa);
  if (fb >= 0) ::close(fb);
  return same;
}

std::string MsgIdOfLines(std::span<const std::string_view> lines) {
  return std::string(store::EntryValue(lines, "MsgID").value_or(""));
}

std::string TimeOfLines(std::span<const std::string_view> lines) {
  return std::string(store::EntryValue(lines, "Time").value_or(""));
}

}  // namespace

std::string NormaliseSender(std::string_view sender) {
  std::string s(sender);
  const size_t lt = s.find('<');
  if (lt == std::string::npos || lt == 0) return s;
  std::string name = Trim(std::string_view(s).substr(0, lt));
  if (name.empty() || name.front() != '"') name = "\"" + name + "\"";
  std::string addr = s.substr(lt);
  const size_t gt = addr.find('>');
  if (gt == std::string::npos) addr += '>';
  else addr.erase(gt + 1);
  return name + " " + addr;
}

void HarmoniseMessageTimes(TPXCustomIni& index, std::string_view msgId) {
  const std::string base = BaseOf(msgId);
  if (base.empty()) return;
  std::vector<std::pair<std::string, std::string>> parts;  // section, Time
  index.ForEachSection([&](std::string_view name, std::span<const std::string_view> lines) {
    std::string id = MsgIdOfLines(lines);
    if (!id.empty() && BaseOf(id) == base) parts.emplace_back(std::string(name), TimeOfLines(lines));
  });
  if (parts.size() < 2) return;
  DateTime latest = 0;
  std::string latestText;
  for (const auto& [s, t] : parts) {
    DateTime v = ParseShortDate(Trim(t));
    if (v > latest) {
      latest = v;
      latestText = FormatShortDate(v);
    }
  }
  if (latestText.empty()) return;
  for (const auto& [s, t] : parts)
    if (t != latestText) index.WriteString(s, "Time", latestText);
}

// ---- state ----------------------------------------------------------------------------------

struct MailFiler::Planned {
  std::string name;  // spool name
  mf::PartDescriptor d;
  mf::DescriptorTags tags;
  std::string line1, sender, ext, subject, sticker, charset;
  int flags = 0;
  DateTime time = 0;
  bool unpacked = false;
  bool receipt = false;
  bool folderMarker = false;
  std::string msgId;
  bool addedMsgId = false;
  std::string folder;    // target folder, "/" at the end
  std::string fileName;  // chosen name in it
  std::string title;     // the Title key ("" when the file's name says it)
  std::string shown;     // the title shown
  bool counted = false;
  bool moved = false;
  bool deferred = false;
};

struct MailFiler::Batch {
  std::vector<Planned> entries;
};

struct MailFiler::FolderState {
  explicit FolderState(const std::string& folder) : names(folder) {}
  store::FolderNames names;
  bool scanned = false;
  // Sections by message-id base, so the parts of a message are found without a scan each.
  std::unordered_map<std::string, std::vector<std::string>> byBase;
};

MailFiler::MailFiler(FilingServices services) : svc_(std::move(services)) {
  for (std::string* f : {&svc_.spoolFolder, &svc_.documentsFolder, &svc_.quarantineFolder, &svc_.trashFolder})
    *f = WithSlash(*f);
}

MailFiler::~MailFiler() {
  if (lockFd_ >= 0) ::close(lockFd_);
}

std::string MailFiler::JournalPath() const { return svc_.spoolFolder + std::string(kJournalName); }

void MailFiler::error(std::string text) { report_.errors.push_back(std::move(text)); }

bool MailFiler::Begin() {
  report_ = FilingReport{};
  actions_.clear();
  folders_.clear();
  batch_ = std::make_unique<Batch>();
  rootGotNew_ = false;
  spool_ = std::make_unique<mf::MailSpool>(svc_.spoolFolder, *svc_.random);
  spool_->setSync(svc_.sync);
  const std::string lockPath = svc_.spoolFolder + std::string(kLockName);
  lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lockFd_ < 0) {
    error(SysError("open", lockPath, errno));
    state_ = State::Done;
    return false;
  }
  if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    ::close(lockFd_);
    lockFd_ = -1;
    report_.busy = true;
    state_ = State::Done;
    return false;
  }
  RecoverJournal();
  stop_ = false;
  splitDone_.clear();
  unpackDone_.clear();
  received_.setSync(svc_.sync);
  std::string keysError;
  if (!received_.Load(svc_.spoolFolder + std::string(kReceivedKeysName), &keysError)) error(keysError);
  SweepOrphans();
  state_ = State::Working;
  phase_ = 1;
  ListPhase();
  return true;
}

void MailFiler::NoRoom(const std::string& why) {
  if (!report_.noRoom) {
    report_.noRoom = true;
    error("There is no room on the disk to file the mail that arrived, so filing has stopped. "
          "The mail is kept in " + svc_.spoolFolder + " and filed when there is room again.\r\r" + why);
  }
  stop_ = true;
}

void MailFiler::FlushTaken() {
  if (splitDone_.empty() && unpackDone_.empty()) return;
  std::string err;
  if (!received_.Flush(&err)) {
    const int e = errno;
    // Not recorded: what was made from these sources goes again, and they stay for a later run.
    for (const auto& n : splitDone_) mf::RemoveSplitLeftovers(*spool_, n);
    for (const auto& n : unpackDone_) {
      spool_->Remove(n, mf::kDescriptorExt);
      spool_->Remove(n, mf::kContentExt);
      spool_->Remove(n, mf::kEncryptedExt);
      spool_->Remove(RawSpoolName(n, mf::SourceTrust::Network), mf::kRawExt);
    }
    splitDone_.clear();
    unpackDone_.clear();
    if (mf::IsResourceError(e)) {
      NoRoom(err);
    } else {
      error(err);
      stop_ = true;
    }
    return;
  }
  for (const auto& n : splitDone_) {
    const std::string path = spool_->PathOf(n, mf::kRawExt);
    // Left behind, it is known as split and deleted by the next run.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) error(SysError("delete", path, errno));
  }
  for (const auto& n : unpackDone_) {
    // The download goes before its marker: a marker left alone by a crash finds the pair done.
    spool_->Remove(n, mf::kContainerExt);
    spool_->Remove(n, mf::kContainerDoneExt);
  }
  if (svc_.sync) spool_->SyncFolder();
  splitDone_.clear();
  unpackDone_.clear();
}

void MailFiler::SweepOrphans() {
  // Only what was left alone for a while: an import may be writing a pair right now.
  const time_t settled = std::time(nullptr) - 600;
  for (const auto& name : spool_->List(mf::kContentExt)) {
    if (spool_->Exists(name, mf::kDescriptorExt) || spool_->Exists(name, mf::kEncryptedExt) ||
        spool_->Exists(name, mf::kContainerExt))
      continue;
    // A pair of a raw message that is still here: splitting it again undoes the pair.
    const size_t us = name.rfind('_');
    if (us != std::string::npos && spool_->Exists(name.substr(0, us), mf::kRawExt)) continue;
    struct stat st{};
    if (::lstat(spool_->PathOf(name, mf::kContentExt).c_str(), &st) != 0 || st.st_mtime >= settled) continue;
    ++report_.orphans;
    quarantine(name, {mf::kContentExt}, "content without its descriptor");
  }
  // The filer's own work files (it holds the lock, so none is in use).
  if (DIR* d = ::opendir(svc_.spoolFolder.c_str())) {
    std::vector<std::string> stale;
    while (dirent* e = ::readdir(d)) {
      std::string_view n = e->d_name;
      if (n.size() > 13 && n[0] == '.' && n.ends_with(".decrypt.tmp")) stale.emplace_back(n);
    }
    ::closedir(d);
    for (const auto& n : stale) ::unlink((svc_.spoolFolder + n).c_str());
  }
}

void MailFiler::ListPhase() {
  items_.clear();
  next_ = 0;
  switch (phase_) {
    case 1: items_ = spool_->List(mf::kContainerDoneExt); break;
    case 2:
      items_ = spool_->List(mf::kEncryptedExt);
      if (!items_.empty() && !(svc_.decryptor && svc_.decryptor->Available())) report_.noDecryption = true;
      break;
    case 3: items_ = spool_->List(mf::kRawExt); break;
    case 4:
      // What the phases before deleted is gone for good before any document appears.
      if (svc_.sync) spool_->SyncFolder();
      items_ = spool_->List(mf::kDescriptorExt);
      break;
    default: break;
  }
}

FilingProgress MailFiler::Progress() const {
  if (state_ != State::Working) return {};
  return {phase_, next_, items_.size()};
}

int64_t MailFiler::Now() const { return svc_.clockMs ? svc_.clockMs() : NowMs(); }

bool MailFiler::Step(int budgetMs) {
  if (state_ != State::Working) return false;
  const int64_t deadline = Now() + std::max(budgetMs, 1);
  while (state_ == State::Working && Now() < deadline) {
    if (!StepPhase(deadline)) break;
  }
  if (phase_ == 4 && state_ == State::Working && !CommitBatch()) state_ = State::Done;
  return state_ == State::Working;
}

// Works on the current phase until the deadline; false when the deadline stopped it.
bool MailFiler::StepPhase(int64_t deadline) {
  constexpr size_t kTakenBatch = 64;
  while (next_ < items_.size() && !stop_) {
    const std::string name = items_[next_++];
    switch (phase_) {
      case 1: UnpackOne(name); break;
      case 2: DecryptOne(name); break;
      case 3: SplitOne(name); break;
      case 4:
        PlanOne(name);
        if (batch_->entries.size() >= kMaxBatch && !CommitBatch()) {
          state_ = State::Done;
          return false;
        }
        break;
    }
    if (splitDone_.size() + unpackDone_.size() >= kTakenBatch) FlushTaken();
    if (Now() >= deadline && next_ < items_.size()) {
      FlushTaken();
      return false;
    }
  }
  FlushTaken();
  if (stop_) {
    // The disk is full: what was filed keeps its sorting, the rest waits in the spool.
    if (phase_ == 4) {
      CommitBatch();
      ApplySortActions();
    }
    finish();
    return false;
  }
  if (phase_ == 4) {
    if (!CommitBatch()) {
      state_ = State::Done;
      return false;
    }
    ApplySortActions();
    finish();
    return false;
  }
  ++phase_;
  ListPhase();
  return true;
}

const FilingReport& MailFiler::Run() {
  if (Begin())
    while (Step(1000)) {
    }
  QueueReports();
  return report_;
}

// ---- phase 1: service downloads ---------------------------------------------------------------

void MailFiler::UnpackOne(const std::string& name) {
  if (!spool_->Exists(name, mf::kContainerExt) && !spool_->Exists(name, mf::kDescriptorExt) &&
      !spool_->Exists(RawSpoolName(name, mf::SourceTrust::Network), mf::kRawExt)) {
    StringList lines = store::SplitListText(ReadSmall(spool_->PathOf(name, mf::kContainerDoneExt), kMaxMarkerBytes));
    while (lines.size() < 2) lines.emplace_back(kUnknownLine);
    report_.corrupted.push_back(ReportLine(lines[0], lines[1]));
    quarantine(name, {mf::kContainerDoneExt}, "download without its file");
    return;
  }
  const std::string key = ContainerKeyOf(*spool_, name);
  if (!key.empty() && received_.Contains(key)) {
    // Taken in before: either this download was unpacked and a crash kept it from being
    // deleted (its pairs are here), or the service offered the message again.
    const bool unpacked = spool_->Exists(name, mf::kDescriptorExt) || spool_->Exists(name, mf::kContentExt) ||
                          spool_->Exists(name, mf::kEncryptedExt) ||
                          spool_->Exists(RawSpoolName(name, mf::SourceTrust::Network), mf::kRawExt) ||
                          spool_->Exists(RawSpoolName(name, mf::SourceTrust::Network), mf::kFailedExt);
    if (!unpacked) ++report_.repeats;
    spool_->Remove(name, mf::kContainerExt);
    spool_->Remove(name, mf::kContainerDoneExt);
    return;
  }
  UnpackResult r = UnpackContainer(*spool_, name);
  if (r.status == UnpackStatus::Transient) {
    NoRoom(r.error);
    return;  // both files stay for the next run
  }
  if (r.status == UnpackStatus::Corrupt) {
    StringList lines = store::SplitListText(ReadSmall(spool_->PathOf(name, mf::kContainerDoneExt), kMaxMarkerBytes));
    while (lines.size() < 2) lines.emplace_back(kUnknownLine);
    report_.corrupted.push_back(ReportLine(lines[0], lines[1]));
    quarantine(name, {mf::kContainerExt, mf::kContainerDoneExt}, r.error);
    return;
  }
  if (!key.empty()) received_.Add(key);
  unpackDone_.push_back(name);
}

// ---- phase 2: encrypted contents ----------------------------------------------------------------

void MailFiler::DecryptOne(const std::string& name) {
  const std::string in = spool_->PathOf(name, mf::kEncryptedExt);
  std::string why = "no decryption";
  if (svc_.decryptor && svc_.decryptor->Available()) {
    const std::string tmp = svc_.spoolFolder + "." + name + ".decrypt.tmp";
    ::unlink(tmp.c_str());
    std::string err;
    if (svc_.decryptor->Decrypt(in, tmp, &err)) {
      if (mf::RenameNoReplace(tmp, spool_->PathOf(name, mf::kContentExt))) {
        spool_->Remove(name, mf::kEncryptedExt);
        return;
      }
      err = SysError("rename", tmp, errno, spool_->PathOf(name, mf::kContentExt));
    }
    ::unlink(tmp.c_str());
    why = err;
  }
  mf::PartDescriptor d = mf::ParsePartDescriptor(ReadSmall(spool_->PathOf(name, mf::kDescriptorExt), kMaxDescriptorBytes));
  std::string sender = d.from.empty() ? std::string(kUnknownLine) : d.from;
  std::string subject = d.name.empty() ? std::string(kUnknownLine) : d.name;
  report_.undecryptable.push_back(ReportLine(sender, subject));
  quarantine(name, {mf::kEncryptedExt, mf::kDescriptorExt}, why);
}

// ---- phase 3: raw messages -------------------------------------------------------------------

void MailFiler::SplitOne(const std::string& name) {
  // A message from a mail account carries its key on the server in its name; any other raw
  // message is known by its spool name until it is deleted.
  const std::string serverKey = mf::RawKeyOf(name);
  const std::string key = serverKey.empty() ? "raw " + name : "key " + serverKey;
  if (received_.Contains(key)) {
    // Split before (a crash kept it from being deleted; its pairs are here or filed), or a
    // second copy of a message fetched again.
    if (!serverKey.empty() && !spool_->Exists(name + "_001", mf::kDescriptorExt)) ++report_.repeats;
    const std::string path = spool_->PathOf(name, mf::kRawExt);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) error(SysError("delete", path, errno));
    return;
  }
  mf::SplitOptions opt;
  opt.trust = TrustOfRawName(name);
  // Mail sent with OpenPGP is split in its readable form; the encrypted original stays in the
  // spool until the pairs are filed, and one that cannot be read is kept in quarantine.
  Decryptor::MessageOutcome pgp;
  const std::string readable = svc_.spoolFolder + "." + name + ".pgp.tmp";
  if (svc_.decryptor && svc_.decryptor->Available()) {
    ::unlink(readable.c_str());
    pgp = svc_.decryptor->DecryptMessage(spool_->PathOf(name, mf::kRawExt), readable);
    if (pgp.state == Decryptor::MessageState::Failed) {
      ::unlink(readable.c_str());
      report_.undecryptable.push_back(ReportLine(std::string(kUnknownLine), name + std::string(mf::kRawExt)));
      quarantine(name, {mf::kRawExt}, pgp.error);
      return;
    }
  }
  mf::SplitResult r;
  if (pgp.state == Decryptor::MessageState::Decrypted) {
    mf::RemoveSplitLeftovers(*spool_, name);
    opt.partPrefix = name;
    r = mf::SplitMessageFile(readable, *spool_, opt);
    ::unlink(readable.c_str());
    if (r.ok()) {
      // Each part is marked as having come encrypted (the lock mark).
      for (const std::string& part : r.parts) {
        const std::string d = spool_->PathOf(part, mf::kDescriptorExt);
        const int fd = ::open(d.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
        const std::string line = "_Encrypted\r\n";
        if (fd < 0 || ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
            (svc_.sync && ::fsync(fd) != 0))
          error(SysError("write", d, errno));
        if (fd >= 0) ::close(fd);
      }
    } else if (r.status == mf::SplitStatus::Failed) {
      (void)spool_->MarkFailed(name);
    }
  } else {
    r = mf::SplitSpoolMessage(*spool_, name, opt, /*keepRaw=*/true);
  }
  if (r.ok()) {
    received_.Add(key);
    splitDone_.push_back(name);
    return;
  }
  if (r.status == mf::SplitStatus::NoRoom) {
    NoRoom(r.error);
    return;
  }
  if (r.status == mf::SplitStatus::CannotOpen) {
    error(r.error.empty() ? SysError("open", spool_->PathOf(name, mf::kRawExt), EIO) : r.error);
    return;
  }
  report_.unreadable.push_back(name + mf::kRawExt.data());
  if (spool_->Exists(name, mf::kFailedExt)) quarantine(name, {mf::kFailedExt}, r.error);
}

// ---- quarantine --------------------------------------------------------------------------------

void MailFiler::quarantine(const std::string& name, std::initializer_list<std::string_view> exts,
                           const std::string& why) {
  if (svc_.quarantineFolder.empty() || svc_.quarantineFolder == "/") {
    error("No quarantine folder for " + name + ": " + why);
    return;
  }
  ::mkdir(svc_.quarantineFolder.c_str(), 0700);
  for (auto ext : exts) {
    const std::string src = spool_->PathOf(name, ext);
    if (!spool_->Exists(name, ext)) continue;
    std::string dst = svc_.quarantineFolder + name + std::string(ext);
    int err = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
      err = MoveNoReplace(src, dst, svc_.sync);
      if (err != EEXIST) break;
      dst = svc_.quarantineFolder + name + "_" + std::to_string(svc_.random->Below(1000000)) + std::string(ext);
    }
    if (err) error(SysError("move", src, err, dst));
    else report_.quarantined.push_back(dst);
  }
  if (svc_.sync) SyncDir(svc_.quarantineFolder);
}

// ---- phase 4: filing ---------------------------------------------------------------------------

bool MailFiler::BuildPlan(const std::string& name, Planned& p, std::string& err) {
  const std::string path = spool_->PathOf(name, mf::kDescriptorExt);
  std::string bytes;
  FileStatus st = ReadWholeFile(path, bytes, kMaxDescriptorBytes);
  if (!st.ok()) {
    err = st.error == EFBIG ? "the part descriptor is too large" : SysError("read", path, st.error);
    return false;
  }
  p.name = name;
  mf::PartDescriptor raw = mf::ParsePartDescriptor(bytes);
  p.d.to = Trim(TabsToBlanks(raw.to));
  p.d.from = Trim(TabsToBlanks(raw.from));
  p.d.kind = Trim(TabsToBlanks(raw.kind));
  p.d.name = Trim(TabsToBlanks(raw.name));
  p.d.sticker = raw.sticker;
  for (const auto& t : raw.tagged) {
    std::string line = PrepareTagLine(t);
    if (line == kUnpackedLine) p.unpacked = true;
    p.d.tagged.push_back(std::move(line));
  }
  p.time = FileTimeOf(path);
  p.ext = SafeExtension(p.d.kind);
  p.tags = mf::ReadDescriptorTags(p.d);
  p.charset = p.tags.Key("Charset");
  // Without a charset the names and addresses are UTF-8 (8-bit text from mail that declared
  // nothing is converted here, once); with one they stay as written, beside their charset.
  if (p.charset.empty()) {
    p.d.to = mf::DescriptorTextToUtf8(p.d.to, "");
    p.d.from = mf::DescriptorTextToUtf8(p.d.from, "");
    p.d.name = mf::DescriptorTextToUtf8(p.d.name, "");
    for (auto& [k, v] : p.tags.keys)
      if (k == "To" || k == "Cc" || k == "Bcc") v = mf::DescriptorTextToUtf8(v, "");
  }
  p.line1 = p.d.to;
  p.sender = NormaliseSender(p.d.from);
  p.sticker = p.d.sticker;
  // Marker kinds count only from where they can come: a receipt from the service's unpacker,
  // a folder marker from the program's own writers.
  p.receipt = p.ext == mf::kReceiptKind && p.unpacked;
  p.folderMarker = p.ext == mf::kFolderMarkerKind && !p.unpacked;
  if (!p.receipt && !p.folderMarker && mf::IsMarkerKind(p.ext))
    for (char& c : p.ext)
      if (c == '$') c = '_';
  p.subject = p.d.name.empty() ? "(no subject)" : p.d.name;
  if (!p.ext.empty() && EndsWithNoCase(p.subject, "." + p.ext) && p.subject.size() > p.ext.size() + 1)
    p.subject.erase(p.subject.size() - p.ext.size() - 1);
  p.flags = mf::FiledFlags(p.tags, p.ext);
  if (p.tags.time != 0) p.time = p.tags.time;
  else if (spool_->Exists(name, mf::kContentExt)) p.time = FileTimeOf(spool_->PathOf(name, mf::kContentExt));
  p.msgId = p.tags.Key("MsgID");
  return true;
}

void MailFiler::FileReceipt(Planned& p) {
  spool_->Remove(p.name, mf::kContentExt);
  const std::string base = BaseOf(p.msgId);
  if (svc_.sent && !base.empty()) {
    StringList sections;
    svc_.sent->ReadSections(sections);
    const std::string record = FormatShortDate(p.time) + " " + p.sender;
    for (const auto& s : sections) {
      if (!StartsWithText(s, "$$$LNK.")) continue;
      if (BaseOf(std::string_view(s).substr(7)) != base) continue;
      std::string folder = WithSlash(svc_.sent->ReadString(s, "Path", svc_.documentsFolder));
      if (folder.empty()) folder = svc_.documentsFolder;
      const std::string id = svc_.sent->ReadString(s, "ID", "");
      if (id.empty() || folder.front() != '/') continue;
      TPXIniFile index(*svc_.registry, store::IndexPathOf(folder));
      if (!index.SectionExists(id)) continue;
      std::string list = index.ReadString(id, "Delivered", "");
      if (!CommaListAdd(record, list)) continue;
      index.WriteString(id, "Delivered", list);
      FileStatus st = index.Release();
      if (!st.ok()) {
        error(st.message);
        continue;
      }
      if (svc_.deliveryRecorded) svc_.deliveryRecorded(folder, id);
    }
  }
  ++report_.receipts;
  spool_->Remove(p.name, mf::kDescriptorExt);
}

std::string MailFiler::TargetFolderOf(const Planned& p) {
  const std::string& root = svc_.documentsFolder;
  if (!p.tags.hasFolder) return root;
  std::optional<std::string> safe = mf::SafeFolderValue(p.tags.folder);
  if (!safe) return root;
  std::string folder = root;
  size_t start = 0;
  while (start < safe->size()) {
    size_t end = safe->find('\\', start);
    if (end == std::string::npos) end = safe->size();
    const std::string piece = safe->substr(start, end - start);
    start = end + 1;
    if (piece.empty()) continue;
    // A level must be a name the folder can hold: no index file, no program file, not too long.
    if (piece.size() > store::kMaxNameBytes || store::IsIndexFileName(piece) || piece.starts_with("$$") ||
        piece.find('/') != std::string::npos)
      return root;
    struct stat st;
    if (::lstat((folder + piece).c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return root;  // a link or a file
    folder += piece + "/";
  }
  if (folder.size() > store::kMaxPathBytes - 256) return root;
  return folder;
}

// Creates the folder's missing levels below the documents root, never through a link.
static bool MakeFolders(const std::string& root, const std::string& folder) {
  if (folder.size() < root.size()) return false;
  size_t pos = root.size();
  while (pos < folder.size()) {
    size_t slash = folder.find('/', pos);
    if (slash == std::string::npos) slash = folder.size();
    const std::string level = folder.substr(0, slash);
    if (::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) return false;
    if (!IsRealDir(level)) return false;
    pos = slash + 1;
  }
  return true;
}

MailFiler::FolderState& MailFiler::folderState(const std::string& folder) {
  auto& slot = folders_[folder];
  if (!slot) slot = std::make_unique<FolderState>(folder);
  return *slot;
}

void MailFiler::PlanOne(const std::string& name) {
  Planned p;
  std::string err;
  if (!BuildPlan(name, p, err)) {
    error(err);
    quarantine(name, {mf::kDescriptorExt, mf::kContentExt}, err);
    return;
  }
  if (p.receipt) {
    FileReceipt(p);
    return;
  }
  const bool received = (p.flags & kReceived) != 0;
  if (!p.tags.hasFolder && received) {
    if (p.msgId.empty()) {
      p.msgId = mf::FormatMessageId(NewUniqueId(*svc_.random), 1);
      p.addedMsgId = true;
    }
    if (svc_.rules) {
      SortInput in{&p.d, &p.tags, p.sender, p.subject, BaseOf(p.msgId),
                   spool_->PathOf(name, mf::kContentExt)};
      svc_.rules->Evaluate(in, actions_);
    }
  }
  p.folder = TargetFolderOf(p);
  if (p.folderMarker) {
    if (!MakeFolders(svc_.documentsFolder, p.folder)) error(SysError("create", p.folder, errno));
    spool_->Remove(name, mf::kContentExt);
    spool_->Remove(name, mf::kDescriptorExt);
    return;
  }
  if (!spool_->Exists(name, mf::kContentExt)) {
    // Content files go into place before their descriptors: this one lost its content.
    error("The part " + name + " has no content and was kept aside.");
    quarantine(name, {mf::kDescriptorExt}, "no content");
    return;
  }
  if (!IsRealDir(p.folder) && !MakeFolders(svc_.documentsFolder, p.folder)) {
    error(SysError("create", p.folder, errno));
    p.folder = svc_.documentsFolder;
  }
  FolderState& fs = folderState(p.folder);
  // The name of the file comes from the subject in its own charset.
  const bool convert = !p.charset.empty() && !IsUnicodeCharset(p.charset);
  const std::string naming = mf::DescriptorTextToUtf8(p.subject, p.charset);
  store::UniqueName u;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    u = store::UniqueFileName(fs.names, naming, p.ext);
    if (!u.ok) break;
    struct stat st;
    if (::lstat((p.folder + u.fileName).c_str(), &st) != 0) break;
    fs.names.Add(u.fileName);  // appeared since the folder was read
  }
  if (!u.ok) {
    error(SysError("file", spool_->PathOf(name, mf::kContentExt), u.error ? u.error : ENAMETOOLONG, p.folder));
    quarantine(name, {mf::kDescriptorExt, mf::kContentExt}, "no file name");
    return;
  }
  fs.names.Add(u.fileName);
  p.fileName = u.fileName;
  p.shown = u.title;
  // The title as the index keeps it (in the entry's charset), written when it is not simply
  // the file's name. It is the part's own name: a " (n)" that the file name needed to stand
  // beside another file is no part of it.
  std::string own = store::TitleWithoutExtension(naming, p.ext);
  if (own.empty()) own = u.title;
  std::string stored = own == naming ? p.subject : convert ? EncodeToCharset(own, p.charset) : own;
  if (stored != u.name) p.title = std::move(stored);
  const mf::MessageId id = mf::ParseMessageId(p.msgId);
  p.counted = received && id.part <= 1;
  batch_->entries.push_back(std::move(p));
}

void MailFiler::WriteEntry(TPXCustomIni& index, const Planned& p) {
  const std::string& s = p.fileName;
  index.EraseSection(s);  // an entry left by a file that is gone
  if (!p.title.empty()) index.WriteString(s, mf::kKeyTitle, p.title);
  index.WriteString(s, mf::kKeyFlags, std::to_string(p.flags));
  index.WriteString(s, mf::kKeyAddress, (p.flags & kOutgoing) ? p.line1 : p.sender);
  index.WriteString(s, mf::kKeyTime, FormatShortDate(p.time));
  if (!p.sticker.empty()) index.WriteString(s, mf::kKeySticker, p.sticker);
  for (const auto& [k, v] : p.tags.keys) index.WriteString(s, k, v);
  if (p.addedMsgId) index.WriteString(s, mf::kKeyMsgID, p.msgId);
  if (p.folder == svc_.documentsFolder) {
    const auto parts = SplitDateTime(NowDateTime());
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", parts.year, parts.month, parts.day);
    index.WriteString(s, mf::kKeyRecv, buf);
  }
}

void MailFiler::harmonise(TPXCustomIni& index, FolderState& fs, const std::string& base) {
  auto it = fs.byBase.find(base);
  if (it == fs.byBase.end() || it->second.size() < 2) return;
  DateTime latest = 0;
  for (const auto& s : it->second) latest = std::max(latest, ParseShortDate(Trim(index.ReadString(s, "Time", ""))));
  if (latest == 0) return;
  const std::string text = FormatShortDate(latest);
  for (const auto& s : it->second)
    if (index.ReadString(s, "Time", "") != text && index.SectionExists(s)) index.WriteString(s, "Time", text);
}

bool MailFiler::CommitBatch() {
  auto& entries = batch_->entries;
  if (entries.empty()) return true;
  // 1. The intent: a crash from here on is finished by the next run.
  std::string journal;
  for (const auto& p : entries)
    journal += p.name + "\t" + p.folder + "\t" + p.fileName + "\t" + p.msgId + "\t" + p.title + "\n";
  FileStatus js = SaveFileAtomic(JournalPath(), journal);
  if (!js.ok()) {
    if (mf::IsResourceError(js.error)) NoRoom(js.message);
    else error(js.message);
    entries.clear();
    return false;
  }
  // 2. The contents move into their folders. A message goes whole or not at all: a folder on
  // another disk must have room for all of its parts, else it waits in the spool.
  {
    struct stat sp{};
    const bool spoolKnown = ::stat(svc_.spoolFolder.c_str(), &sp) == 0;
    std::map<std::string, int64_t> room;  // free bytes of folders on another disk
    std::map<std::string, uint64_t> need;  // bytes per message (base id, or the spool name)
    auto groupOf = [](const Planned& p) { return p.msgId.empty() ? "\n" + p.name : BaseOf(p.msgId); };
    for (const auto& p : entries) {
      struct stat fst{}, cst{};
      if (!spoolKnown || ::stat(p.folder.c_str(), &fst) != 0 || fst.st_dev == sp.st_dev) continue;
      if (!room.count(p.folder)) {
        struct statvfs vfs{};
        room[p.folder] = ::statvfs(p.folder.c_str(), &vfs) == 0
                             ? static_cast<int64_t>(uint64_t(vfs.f_bavail) * vfs.f_frsize) - (256 << 10)
                             : INT64_MAX / 2;
      }
      if (::stat(spool_->PathOf(p.name, mf::kContentExt).c_str(), &cst) == 0)
        need[groupOf(p) + "\t" + p.folder] += static_cast<uint64_t>(cst.st_size) + 4096;
    }
    if (!room.empty()) {
      std::set<std::string> decided;
      bool full = false;
      for (auto& p : entries) {
        const std::string g = groupOf(p) + "\t" + p.folder;
        auto n = need.find(g);
        if (n == need.end()) continue;
        if (decided.insert(g).second) {
          int64_t& left = room[p.folder];
          if (full || static_cast<int64_t>(n->second) > left) {
            full = true;
            n->second = UINT64_MAX;  // the whole message waits
          } else {
            left -= static_cast<int64_t>(n->second);
          }
        }
        if (n->second == UINT64_MAX) p.deferred = true;
      }
      if (full) NoRoom("Not enough room in " + room.begin()->first + " for the mail to be filed there.");
    }
  }
  std::set<std::string> folders;
  for (auto& p : entries) {
    if (p.deferred) continue;
    const std::string src = spool_->PathOf(p.name, mf::kContentExt);
    const std::string dst = p.folder + p.fileName;
    int err = MoveNoReplace(src, dst, svc_.sync);
    if (err == EEXIST) {
      p.deferred = true;  // the name was taken meanwhile: filed again next time
      continue;
    }
    if (err && mf::IsResourceError(err)) {
      // No room for it in its folder: the pair waits in the spool.
      p.deferred = true;
      NoRoom(SysError("move", src, err, dst));
      continue;
    }
    if (err) {
      error(SysError("move", src, err, dst));
      quarantine(p.name, {mf::kDescriptorExt, mf::kContentExt}, "cannot move");
      continue;
    }
    p.moved = true;
    folders.insert(p.folder);
  }
  if (svc_.sync)
    for (const auto& f : folders) SyncDir(f);
  // 3. The index entries, one save per folder.
  bool saved = true;
  for (const auto& folder : folders) {
    FolderState& fs = folderState(folder);
    TPXIniFile index(*svc_.registry, store::IndexPathOf(folder));
    bool needScan = false;
    for (const auto& p : entries) {
      if (!p.moved || p.folder != folder || p.msgId.empty()) continue;
      const mf::MessageId id = mf::ParseMessageId(p.msgId);
      if (id.part > 1 || id.total > 1) needScan = true;
    }
    if (needScan && !fs.scanned) {
      fs.byBase.clear();
      index.ForEachSection([&](std::string_view name, std::span<const std::string_view> lines) {
        std::string id = MsgIdOfLines(lines);
        if (!id.empty()) fs.byBase[BaseOf(id)].emplace_back(name);
      });
      fs.scanned = true;
    }
    std::set<std::string> bases;
    for (const auto& p : entries) {
      if (!p.moved || p.folder != folder) continue;
      WriteEntry(index, p);
      if (p.msgId.empty()) continue;
      const std::string base = BaseOf(p.msgId);
      auto& list = fs.byBase[base];
      if (std::find(list.begin(), list.end(), p.fileName) == list.end()) list.push_back(p.fileName);
      bases.insert(base);
    }
    for (const auto& b : bases) harmonise(index, fs, b);
    FileStatus st = index.Release();
    if (!st.ok()) {
      if (mf::IsResourceError(st.error)) NoRoom(st.message);
      else error(st.message);
      saved = false;
    }
  }
  if (!saved) {
    // The journal stays: the next run writes the entries of the documents already in place.
    entries.clear();
    return false;
  }
  // 4. The descriptors go, then the intent.
  for (const auto& p : entries)
    if (p.moved) spool_->Remove(p.name, mf::kDescriptorExt);
  if (svc_.sync) spool_->SyncFolder();
  ::unlink(JournalPath().c_str());
  // 5. Counts and marks.
  const std::string shown = svc_.shownFolder ? WithSlash(svc_.shownFolder()) : std::string();
  for (const auto& p : entries) {
    if (!p.moved) continue;
    ++report_.documents;
    report_.changedFolders.insert(p.folder);
    if (p.counted) {
      ++report_.newMessages;
      if (svc_.unread && (p.flags & kUnread)) svc_.unread->ChangeUnreadCount(p.folder, 1, true);
      if (p.folder == svc_.documentsFolder) rootGotNew_ = true;
      else if (svc_.newMail && p.folder != shown) svc_.newMail->Add(p.folder);
    }
    if (onFiled) {
      FiledDocument doc{p.folder, p.fileName, p.shown,
                        (p.flags & kOutgoing) ? p.line1 : p.sender, p.msgId, p.counted};
      onFiled(doc);
    }
  }
  entries.clear();
  return true;
}

void MailFiler::RecoverJournal() {
  const std::string path = JournalPath();
  int rerr = 0;
  const std::string text = ReadSmall(path, 64u << 20, &rerr);
  if (rerr == ENOENT) return;
  std::map<std::string, std::vector<Planned>> byFolder;
  for (const auto& line : store::SplitListText(text)) {
    std::vector<std::string> f;
    size_t start = 0;
    for (;;) {
      size_t tab = line.find('\t', start);
      f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (f.size() < 5) continue;
    const std::string& name = f[0];
    if (!spool_->Exists(name, mf::kDescriptorExt)) continue;  // filed to the end
    if (spool_->Exists(name, mf::kContentExt)) {
      // Never moved (filed again below), or copied to another disk and stopped before the
      // spool's copy went: then the document in place is this one.
      const std::string target = f[1] + f[2];
      if (!f[1].starts_with(svc_.documentsFolder) || f[2].find('/') != std::string::npos ||
          !SameBytes(spool_->PathOf(name, mf::kContentExt), target))
        continue;
      spool_->Remove(name, mf::kContentExt);
    }
    Planned p;
    std::string err;
    const std::string target = f[1] + f[2];
    if (!f[1].starts_with(svc_.documentsFolder) || f[2].find('/') != std::string::npos ||
        !store::PathExists(target) || !BuildPlan(name, p, err)) {
      quarantine(name, {mf::kDescriptorExt}, "interrupted filing left no document");
      continue;
    }
    p.folder = f[1];
    p.fileName = f[2];
    if (p.msgId.empty() && !f[3].empty()) {
      p.msgId = f[3];
      p.addedMsgId = true;
    }
    p.title = f[4];
    p.shown = f[4].empty() ? store::StripExtension(f[2]) : f[4];
    p.counted = (p.flags & kReceived) && mf::ParseMessageId(p.msgId).part <= 1;
    p.moved = true;
    byFolder[p.folder].push_back(std::move(p));
  }
  for (auto& [folder, list] : byFolder) {
    TPXIniFile index(*svc_.registry, store::IndexPathOf(folder));
    std::vector<Planned*> written;
    for (auto& p : list) {
      // The index was saved before the crash when the entry is there with this id.
      if (index.SectionExists(p.fileName) && index.ReadString(p.fileName, "MsgID", "") == p.msgId) {
        spool_->Remove(p.name, mf::kDescriptorExt);
        continue;
      }
      WriteEntry(index, p);
      if (!p.msgId.empty()) HarmoniseMessageTimes(index, p.msgId);
      written.push_back(&p);
    }
    FileStatus st = index.Release();
    if (!st.ok()) {
      error(st.message);
      return;  // the journal stays for the next run
    }
    for (Planned* p : written) {
      spool_->Remove(p->name, mf::kDescriptorExt);
      ++report_.documents;
      report_.changedFolders.insert(folder);
      if (p->counted) {
        ++report_.newMessages;
        if (svc_.unread && (p->flags & kUnread)) svc_.unread->ChangeUnreadCount(folder, 1, true);
        if (folder == svc_.documentsFolder) rootGotNew_ = true;
        else if (svc_.newMail) svc_.newMail->Add(folder);
      }
    }
  }
  if (svc_.sync) spool_->SyncFolder();
  ::unlink(path.c_str());
}

// ---- sorting actions ---------------------------------------------------------------------------

void MailFiler::ApplySortActions() {
  if (actions_.empty()) return;
  std::sort(actions_.begin(), actions_.end());
  actions_.erase(std::unique(actions_.begin(), actions_.end()), actions_.end());
  const std::string& root = svc_.documentsFolder;
  std::unordered_map<std::string, std::vector<store::OpItem>> byBase;
  {
    TPXIniFile index(*svc_.registry, store::IndexPathOf(root));
    index.ForEachSection([&](std::string_view name, std::span<const std::string_view> lines) {
      std::string id = MsgIdOfLines(lines);
      if (id.empty()) return;
      store::OpItem it;
      it.folder = root;
      it.refFolder = root;
      it.name = std::string(name);
      it.ext = store::ExtensionOf(it.name);
      it.msgId = id;
      const auto value = [&lines](std::string_view key) {
        return std::string(store::EntryValue(lines, key).value_or(""));
      };
      it.title = value("Title");
      it.flags = store::EntryFlags(lines, 0);
      it.address = value("Address");
      it.charset = value("Charset");
      if (it.title.empty()) it.title = store::StripExtension(it.name);
      byBase[BaseOf(id)].push_back(std::move(it));
    });
  }
  store::OpServices os;
  os.registry = svc_.registry;
  os.random = svc_.random;
  os.messages = svc_.messages;
  os.unread = svc_.unread;
  os.newMail = svc_.newMail;
  os.sent = svc_.sent;
  os.documentsFolder = svc_.documentsFolder;
  os.trashFolder = svc_.trashFolder;
  // Rule actions copy and move fresh mail, which no one has opened yet.
  store::NullCollaborators none;
  store::DocOperations ops(os, none.Get());
  const std::string shown = svc_.shownFolder ? WithSlash(svc_.shownFolder()) : std::string();
  // Per message: a delete rule sends it to the trash (after its copies); otherwise the first
  // move rule whose folder exists moves it there, and the other rules' folders get copies. A
  // moved message is moved, not copied and thrown away, so the trash holds no second copy.
  std::unordered_map<std::string, std::string> moveTarget;
  std::set<std::string> deleted;
  for (const auto& a : actions_) {
    if (a.kind != SortAction::Delete) continue;
    if (a.onlyIfFolderExists.empty()) deleted.insert(a.baseId);
    else if (!moveTarget.count(a.baseId) && IsRealDir(WithSlash(a.onlyIfFolderExists)))
      moveTarget[a.baseId] = WithSlash(a.onlyIfFolderExists);
  }
  for (const auto& b : deleted) moveTarget.erase(b);
  auto filedInto = [&](const std::string& folder, const std::string& base) {
    if (svc_.newMail && folder != shown) svc_.newMail->Add(folder);
    TPXIniFile index(*svc_.registry, store::IndexPathOf(folder));
    HarmoniseMessageTimes(index, base + ":");
    report_.changedFolders.insert(folder);
  };
  for (const auto& a : actions_) {
    auto found = byBase.find(a.baseId);
    if (found == byBase.end()) continue;
    std::vector<store::OpItem> items;
    for (const auto& it : found->second)
      if (store::PathExists(root + it.name)) items.push_back(it);
    if (items.empty()) continue;
    auto mt = moveTarget.find(a.baseId);
    if (a.kind == SortAction::Copy) {
      const std::string folder = WithSlash(a.folder);
      if (!IsRealDir(folder)) continue;
      if (mt != moveTarget.end() && mt->second == folder) continue;  // moved there below
      for (auto& it : items) it.targetFolder = folder;
      if (ops.RunOnSelection(store::opCopy, items) > 0) filedInto(folder, a.baseId);
    } else {
      if (!a.onlyIfFolderExists.empty() && !IsRealDir(WithSlash(a.onlyIfFolderExists))) continue;
      // A delete rule's deletion goes to the trash, where the user can still find the message.
      const bool toTrash = mt == moveTarget.end();
      const std::string target = toTrash ? svc_.trashFolder : mt->second;
      size_t counted = 0;
      for (auto& it : items) {
        it.targetFolder = target;
        if ((it.flags & kReceived) && mf::ParseMessageId(it.msgId).part <= 1) ++counted;
      }
      if (ops.RunOnSelection(store::opMove, items) > 0) {
        if (toTrash) report_.newMessages -= std::min(report_.newMessages, counted);
        else filedInto(target, a.baseId);
        report_.changedFolders.insert(root);
      }
    }
  }
  actions_.clear();
}

void MailFiler::finish() {
  if (rootGotNew_ && svc_.newMail) {
    const std::string shown = svc_.shownFolder ? WithSlash(svc_.shownFolder()) : std::string();
    if (svc_.documentsFolder != shown) svc_.newMail->Add(svc_.documentsFolder);
  }
  state_ = State::Done;
  phase_ = 0;
  if (lockFd_ >= 0) {
    ::close(lockFd_);
    lockFd_ = -1;
  }
}

// ---- the quarantine -----------------------------------------------------------------------------

size_t RefileQuarantine(const std::string& quarantineFolder, const std::string& spoolFolder,
                        std::vector<std::string>* errors) {
  const std::string q = WithSlash(quarantineFolder), sp = WithSlash(spoolFolder);
  std::set<std::string> files;
  if (DIR* d = ::opendir(q.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string_view n = e->d_name;
      if (n.empty() || n[0] == '.') continue;
      struct stat st{};
      if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
      files.emplace(n);
    }
    ::closedir(d);
  }
  auto has = [&](const std::string& base, std::string_view ext) { return files.count(base + std::string(ext)) != 0; };
  // Moves quarantine file base + ext to the spool as base + newExt; false when it could not.
  auto put = [&](const std::string& base, std::string_view ext, std::string_view newExt) {
    const std::string src = q + base + std::string(ext), dst = sp + base + std::string(newExt);
    int err = MoveNoReplace(src, dst, true);
    if (err && errors) errors->push_back(FileErrorText("move", src, dst, err));
    return err == 0;
  };
  size_t count = 0;
  for (const auto& f : files) {
    auto baseOf = [&](std::string_view ext) { return f.substr(0, f.size() - ext.size()); };
    if (f.ends_with(mf::kFailedExt) && f.size() > mf::kFailedExt.size()) {
      // A raw message, renamed back so it is split again.
      if (put(baseOf(mf::kFailedExt), mf::kFailedExt, mf::kRawExt)) ++count;
    } else if (f.ends_with(mf::kContainerExt) && f.size() > mf::kContainerExt.size()) {
      // A download goes before its marker: the filer looks for markers.
      const std::string b = baseOf(mf::kContainerExt);
      if (!has(b, mf::kContainerDoneExt)) continue;
      if (put(b, mf::kContainerExt, mf::kContainerExt) && put(b, mf::kContainerDoneExt, mf::kContainerDoneExt)) ++count;
    } else if (f.ends_with(mf::kDescriptorExt) && f.size() > mf::kDescriptorExt.size()) {
      // A pair: its content before its descriptor.
      const std::string b = baseOf(mf::kDescriptorExt);
      std::string_view content = has(b, mf::kEncryptedExt) ? mf::kEncryptedExt : mf::kContentExt;
      if (!has(b, content)) continue;
      if (put(b, content, content) && put(b, mf::kDescriptorExt, mf::kDescriptorExt)) ++count;
    }
  }
  SyncDir(sp);
  SyncDir(q);
  return count;
}

// ---- reports -----------------------------------------------------------------------------------

void MailFiler::QueueReports() const {
  if (!svc_.messages) return;
  auto inTens = [this](const std::string& heading, const std::vector<std::string>& list) {
    for (size_t i = 0; i < list.size(); i += 10) {
      std::string text = heading;
      for (size_t j = i; j < std::min(list.size(), i + 10); ++j) text += "\r" + list[j];
      svc_.messages->QueueMessage(MessageKind::Warning, text);
    }
  };
  if (report_.noDecryption)
    svc_.messages->QueueMessage(MessageKind::Warning,
                                "You have encrypted messages, but Plumadex cannot decrypt them, because "
                                "encryption software is not found on this computer.");
  inTens("Messages from these addresses were corrupted in transit and could not be recovered:",
         report_.corrupted);
  inTens("Encrypted messages from these addresses could not be decrypted. Please check your encryption settings:",
         report_.undecryptable);
  inTens("These received messages could not be read:", report_.unreadable);
  if (!report_.quarantined.empty())
    svc_.messages->QueueMessage(MessageKind::Warning,
                                "The files of these messages were kept in " + svc_.quarantineFolder + ".");
  for (const auto& e : report_.errors) svc_.messages->QueueMessage(MessageKind::Error, e);
}

}  // namespace px::incoming
