#include "store/run_mark.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace px::store {

namespace {

constexpr std::string_view kStoppedPrefix = "stopped-";

std::string MarkName(long pid, long long start) { return std::to_string(pid) + "-" + std::to_string(start); }

// "<pid>-<start>" -> pid and start; false for any other name.
bool ParseMark(std::string_view name, long& pid, long long& start) {
  const size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 >= name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (i != dash && (name[i] < '0' || name[i] > '9')) return false;
  if (dash > 9 || name.size() - dash - 1 > 18) return false;
  pid = std::strtol(std::string(name.substr(0, dash)).c_str(), nullptr, 10);
  start = std::strtoll(std::string(name.substr(dash + 1)).c_str(), nullptr, 10);
  return true;
}

bool PlaceEmptyFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return errno == EEXIST;
  ::close(fd);
  return true;
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d)) {
    const std::string_view n = e->d_name;
    if (n != "." && n != "..") names.emplace_back(n);
  }
  ::closedir(d);
  return names;
}

}  // namespace

long long ProcessStartTicks(long pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
  FILE* f = std::fopen(path, "re");
  if (!f) return -1;
  char buf[1024];
  const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  // The command name in parentheses may hold blanks: count fields after its closing one.
  const char* p = std::strrchr(buf, ')');
  if (!p) return -1;
  int field = 2;
  for (++p; *p && field < 22; ++p)
    if (*p == ' ') ++field;
  return field == 22 ? std::strtoll(p, nullptr, 10) : -1;
}

RunMark::RunMark(const std::string& dataRoot, time_t now) {
  folder_ = dataRoot;
  if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
  folder_ += "Runs/";
  struct stat st {};
  if (::stat(folder_.c_str(), &st) != 0) {
    // No marks yet: whatever an earlier run left has never been looked at.
    if (::mkdir(folder_.c_str(), 0755) != 0 && errno != EEXIST) {
      sweepNeeded_ = true;
      return;
    }
    (void)PlaceEmptyFile(folder_ + std::string(kStoppedPrefix) + std::to_string(now));
  }
  const long self = static_cast<long>(::getpid());
  const long long selfStart = ProcessStartTicks(self);
  for (const std::string& name : Names(folder_)) {
    long pid = 0;
    long long start = 0;
    if (!ParseMark(name, pid, start)) continue;
    if (pid == self || ProcessStartTicks(pid) == start) continue;  // a run going on now
    // A run that is gone without removing its mark: note when it was found.
    const std::string note = folder_ + std::string(kStoppedPrefix) + std::to_string(now);
    if (::link((folder_ + name).c_str(), note.c_str()) == 0 || errno == EEXIST) ::unlink((folder_ + name).c_str());
  }
  for (const std::string& name : Names(folder_))
    if (std::string_view(name).starts_with(kStoppedPrefix)) sweepNeeded_ = true;
  own_ = folder_ + MarkName(self, selfStart);
  if (!PlaceEmptyFile(own_)) {
    own_.clear();
    sweepNeeded_ = true;  // without a mark of its own a run cannot tell the next one it ended well
  }
}

RunMark::~RunMark() {
  if (!own_.empty()) ::unlink(own_.c_str());
}

void RunMark::Swept(time_t sweepStart) {
  for (const std::string& name : Names(folder_)) {
    if (!std::string_view(name).starts_with(kStoppedPrefix)) continue;
    const std::string digits = name.substr(kStoppedPrefix.size());
    char* end = nullptr;
    const long long found = std::strtoll(digits.c_str(), &end, 10);
    if (digits.empty() || *end != '\0') continue;
    if (found + kLeftoverAgeSeconds <= sweepStart) ::unlink((folder_ + name).c_str());
  }
}

}  // namespace px::store
