#include "store/list_file.h"

#include "foundation/atomic_file.h"
#include "foundation/ini_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace px::store {

StringList ReadListFile(const std::string& path) {
  // Never through a link, never a FIFO (it would hang) or a device.
  std::string text;
  if (!ReadWholeFile(path, text, kMaxIniFileSize, true).ok()) return {};
  return SplitListText(text);
}

StringList SplitListText(const std::string& text) {
  StringList out;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    out.emplace_back(text, start, i - start);
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) out.emplace_back(text, start);
  return out;
}

namespace {

FileStatus failure(const std::string& path, int err) {
  return FileStatus::Failure("write", path, err);
}

}  // namespace

FileStatus SaveListFile(const std::string& path, const StringList& lines) {
  std::string text;
  for (const auto& l : lines) {
    text += l;
    text += "\r\n";
  }
  // The lists name the user's folders: private unless the old file says otherwise.
  struct stat old{};
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0600;
  AtomicFile file(path);
  if (int err = file.Open(mode)) return failure(path, err);
  if (::fchmod(file.fd(), mode) != 0) return failure(path, errno);
  file.Write(text);
  if (int err = file.Commit(true)) return failure(path, err);
  return {};
}

}  // namespace px::store
