#include "search/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace px::search {

bool IdentityOfFolder(const std::string& path, FolderIdentity& id) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  id = {st.st_dev, st.st_ino};
  return true;
}

std::vector<std::pair<std::string, FolderIdentity>> SubfoldersOf(const std::string& folder) {
  std::vector<std::pair<std::string, FolderIdentity>> out;
  const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return out;
  DIR* dir = ::fdopendir(dfd);
  if (!dir) {
    ::close(dfd);
    return out;
  }
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;
    struct stat st{};
    if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) continue;
    out.push_back({folder + name + "/", {st.st_dev, st.st_ino}});
  }
  ::closedir(dir);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace px::search
