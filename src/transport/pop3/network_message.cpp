#include "transport/pop3/network_message.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "foundation/strings.h"
#include "mailformat/pseudo_headers.h"

namespace px::transport::pop3 {

namespace {

constexpr size_t kMaxValue = 4096;

bool IsBlankLine(std::string_view line) { return line == "\r\n" || line == "\n" || line == "\r"; }

// 1 for Message-ID, 2 for From, 0 for other header names.
int HeaderKind(std::string_view line) {
  auto named = [&](std::string_view name) {
    if (line.size() <= name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) return false;
    size_t i = name.size();
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    return i < line.size() && line[i] == ':';
  };
  if (named("message-id")) return 1;
  if (named("from")) return 2;
  return 0;
}

std::string_view ValueOf(std::string_view line) {
  size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
}

std::string_view WithoutEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

}  // namespace

void HeaderScan::Finish() {
  if (current_ == 1 && !seenId_) {
    messageId = Trim(value_);
    seenId_ = true;
  } else if (current_ == 2 && !seenFrom_) {
    from = Trim(value_);
    seenFrom_ = true;
  }
  current_ = 0;
  value_.clear();
}

void HeaderScan::Add(std::string_view line) {
  for (char c : line) digest = (digest ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  std::string_view text = WithoutEnd(line);
  if (!text.empty() && (text[0] == ' ' || text[0] == '\t')) {
    if (current_ && value_.size() < kMaxValue) value_.append(text.substr(0, kMaxValue - value_.size()));
    return;
  }
  Finish();
  current_ = HeaderKind(text);
  if (current_) value_ = std::string(ValueOf(text).substr(0, kMaxValue));
}

HeaderScan ScanHeader(std::string_view header) {
  HeaderScan scan;
  size_t pos = 0;
  while (pos < header.size()) {
    size_t nl = header.find('\n', pos);
    size_t end = nl == std::string_view::npos ? header.size() : nl + 1;
    std::string_view line = header.substr(pos, end - pos);
    pos = end;
    if (IsBlankLine(line)) break;
    scan.Add(line);
  }
  scan.Finish();
  return scan;
}

bool NetworkMessageWriter::Open(mailformat::MailSpool& spool, std::string_view account) {
  spool_ = &spool;
  account_ = std::string(account);
  name_ = spool.NewName();
  path_.clear();
  error_.clear();
  inHeader_ = true;
  lastEndedLine_ = true;
  scan_ = HeaderScan();
  if (!writer_.Open(spool, name_, mailformat::kRawExt)) {
    error_ = writer_.errorText();
    return false;
  }
  return true;
}

bool NetworkMessageWriter::Line(std::string_view line) {
  bool ok;
  if (!inHeader_) {
    ok = writer_.Write(line);
  } else if (IsBlankLine(line)) {
    scan_.Finish();
    inHeader_ = false;
    ok = writer_.Write(mailformat::AccountHeaderLine(account_)) && writer_.Write(line);
  } else {
    std::string_view text = WithoutEnd(line);
    scan_.Add(line);
    if (mailformat::IsPseudoHeaderLine(text))
      ok = writer_.Write(mailformat::kNeutralisedPrefix) && writer_.Write(line);
    else
      ok = writer_.Write(line);
  }
  lastEndedLine_ = !line.empty() && line.back() == '\n';
  if (!ok) error_ = writer_.errorText();
  return ok;
}

bool NetworkMessageWriter::Commit(std::string_view key) {
  if (inHeader_) {
    // No empty line: the account line follows the last line.
    scan_.Finish();
    inHeader_ = false;
    if ((!lastEndedLine_ && !writer_.Write("\r\n")) ||
        !writer_.Write(mailformat::AccountHeaderLine(account_))) {
      error_ = writer_.errorText();
      return false;
    }
  }
  if (!key.empty()) {
    const std::string keyed = mailformat::KeyedRawName(name_, key);
    if (!writer_.CommitAs(keyed)) {
      error_ = writer_.errorText();
      return false;
    }
    name_ = keyed;
  } else if (!writer_.Commit()) {
    error_ = writer_.errorText();
    return false;
  }
  path_ = spool_->PathOf(name_, mailformat::kRawExt);
  return true;
}

void NetworkMessageWriter::Discard() { writer_.Discard(); }

bool SyncSpool(const mailformat::MailSpool& spool, std::string& error) {
  int fd = ::open(spool.folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || ::syncfs(fd) != 0) {
    error = "Cannot flush " + spool.folder() + " to the disk\r\rError " + std::to_string(errno) + ": " +
            std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::close(fd);
  return true;
}

bool RoomToFile(const mailformat::MailSpool& spool, uint64_t bytes) {
  struct statvfs vfs;
  if (::statvfs(spool.folder().c_str(), &vfs) != 0) return true;  // not known: the filer will tell
  const uint64_t avail = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  return avail >= bytes + (1u << 20);
}

}  // namespace px::transport::pop3
