#include "incoming/received_keys.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/address.h"
#include "foundation/atomic_file.h"
#include "foundation/ini_file.h"
#include "foundation/fd_io.h"
#include "foundation/file_status.h"
#include "foundation/text_case.h"

namespace px::incoming {

namespace {

int Today() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

int DaysBefore(int days) {
  std::time_t then = std::time(nullptr) - std::time_t(days) * 86400;
  std::tm tm{};
  ::localtime_r(&then, &tm);
  return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

std::string OneLine(std::string_view key) {
  std::string k(key);
  for (char& c : k)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return k;
}

}  // namespace

bool ReceivedKeys::Load(const std::string& path, std::string* error) {
  path_ = path;
  keys_.clear();
  pending_.clear();
  std::string text;
  FileStatus st = ReadWholeFile(path, text, 256ull << 20);
  if (!st.ok()) {
    if (st.error == ENOENT) return true;
    if (error) *error = FileErrorText("read", path, {}, st.error);
    path_.clear();
    return false;
  }
  // A line without its end was being appended when the program stopped.
  const size_t end = text.rfind('\n');
  const size_t whole = end == std::string::npos ? 0 : end + 1;
  const int oldest = DaysBefore(kKeepDays);
  size_t old = 0;
  std::string kept;
  for (size_t pos = 0; pos < whole;) {
    size_t nl = text.find('\n', pos);
    std::string_view line(text.data() + pos, nl - pos);
    pos = nl + 1;
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos || tab + 1 >= line.size()) continue;
    const int day = std::atoi(std::string(line.substr(0, tab)).c_str());
    if (day != 0 && day < oldest) {
      ++old;
      continue;
    }
    keys_.emplace(line.substr(tab + 1));
    kept.append(line);
    kept += '\n';
  }
  if (whole != text.size() || old > 1000 || (old > 0 && old * 4 > keys_.size())) {
    // Rewritten without the torn line and the keys that are too old to matter.
    FileStatus s = SaveFileAtomic(path, kept);
    if (!s.ok() && whole != text.size()) {
      if (::truncate(path.c_str(), static_cast<off_t>(whole)) != 0) {
        if (error) *error = FileErrorText("write", path, {}, errno);
        path_.clear();
        return false;
      }
    }
  }
  return true;
}

bool ReceivedKeys::Contains(std::string_view key) const { return keys_.count(std::string(key)) != 0; }

void ReceivedKeys::Add(std::string_view key) {
  std::string k = OneLine(key);
  if (k.empty() || !keys_.insert(k).second) return;
  pending_.push_back(std::move(k));
}

bool ReceivedKeys::Flush(std::string* error) {
  if (pending_.empty()) return true;
  if (path_.empty()) {
    if (error) *error = "The list of received messages cannot be written.";
    errno = EIO;
    return false;
  }
  const std::string day = std::to_string(Today());
  std::string text;
  for (const auto& k : pending_) text += day + "\t" + k + "\n";
  int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
  int err = 0;
  if (fd < 0) {
    err = errno;
  } else {
    struct stat st{};
    const off_t before = ::fstat(fd, &st) == 0 ? st.st_size : -1;
    if (!WriteAllToFd(fd, text)) err = errno ? errno : EIO;
    else if (sync_ && ::fdatasync(fd) != 0) err = errno;
    // A line written in part would join the next one: it is taken back.
    if (err && before >= 0) (void)::ftruncate(fd, before);
    ::close(fd);
  }
  if (err) {
    for (const auto& k : pending_) keys_.erase(k);
    pending_.clear();
    if (error) *error = FileErrorText("write", path_, {}, err);
    errno = err;
    return false;
  }
  pending_.clear();
  return true;
}

std::string ServiceMessageKey(std::string_view sender, std::string_view msgId) {
  return "svc " + FoldCase(StripServiceDomain(FoldCase(BareAddressOf(sender)))) + " " + std::string(msgId);
}

}  // namespace px::incoming
