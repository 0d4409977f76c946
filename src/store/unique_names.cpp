#include "store/unique_names.h"

#include "foundation/random.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/doc_record.h"
#include "store/index_file.h"

#include <cerrno>
#include <dirent.h>

namespace px::store {

std::string CutUtf8(std::string_view s, size_t maxBytes) {
  if (s.size() <= maxBytes) return std::string(s);
  size_t n = maxBytes;
  // Step back over continuation bytes to the start of the character that does not fit.
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return std::string(s.substr(0, n));
}

FolderNames::FolderNames(std::string folder) : folder_(std::move(folder)) {
  if (DIR* d = ::opendir(folder_.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string_view n = e->d_name;
      if (n == "." || n == "..") continue;
      names_.emplace(FoldCase(n), std::string(n));
    }
    ::closedir(d);
  }
}

bool FolderNames::Contains(std::string_view fileName) const {
  return names_.count(FoldCase(fileName)) > 0;
}

std::string FolderNames::Existing(std::string_view fileName) const {
  auto it = names_.find(FoldCase(fileName));
  return it == names_.end() ? std::string() : it->second;
}

void FolderNames::Add(std::string_view fileName) {
  names_[FoldCase(fileName)] = std::string(fileName);
}

void FolderNames::Remove(std::string_view fileName) { names_.erase(FoldCase(fileName)); }

uint64_t FolderNames::Hint(const std::string& key) const {
  auto it = hints_.find(key);
  return it == hints_.end() ? 0 : it->second;
}

void FolderNames::SetHint(const std::string& key, uint64_t n) { hints_[key] = n; }

namespace {

// A title ending in " (n)" with n a positive number: the title without it, and n.
bool splitNumberSuffix(std::string_view title, std::string& base, uint64_t& n) {
  if (title.size() < 4 || title.back() != ')') return false;
  const size_t open = title.rfind('(');
  if (open == std::string_view::npos || open == 0 || title[open - 1] != ' ') return false;
  std::string_view digits = title.substr(open + 1, title.size() - open - 2);
  if (digits.empty() || digits.size() > 9) return false;
  uint64_t v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v == 0) return false;
  base = std::string(title.substr(0, open - 1));
  n = v;
  return true;
}

std::string trimRightBlanks(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '.')) s.pop_back();
  return s;
}

}  // namespace

UniqueName UniqueFileName(FolderNames& names, std::string_view title, std::string_view ext,
                          std::string_view self) {
  UniqueName out;
  // "att67.xls" names the file "att67.xls", never "att67.xls.xls".
  const std::string plain = TitleWithoutExtension(title, ext);
  title = plain;
  std::string base(title);
  uint64_t n = 1;
  bool numbered = splitNumberSuffix(title, base, n);
  const std::string safe = SafeFileName(base);
  const std::string dotExt = ext.empty() ? std::string() : "." + std::string(ext);
  const size_t folderBytes = names.Folder().size();

  // The name that fits beside a given suffix, or "" when nothing fits.
  auto fitted = [&](const std::string& suffix) -> std::string {
    const size_t fixed = suffix.size() + dotExt.size();
    size_t room = kMaxNameBytes > fixed ? kMaxNameBytes - fixed : 0;
    const size_t pathRoom = kMaxPathBytes > folderBytes + fixed ? kMaxPathBytes - folderBytes - fixed : 0;
    room = std::min(room, pathRoom);
    if (room == 0) return {};
    return trimRightBlanks(CutUtf8(safe, room));
  };
  auto suffixOf = [](uint64_t k, bool withNumber) {
    return withNumber ? " (" + std::to_string(k) + ")" : std::string();
  };

  const std::string key = FoldCase(safe) + '\0' + FoldCase(dotExt);
  const std::string selfFold = FoldCase(self);
  auto taken = [&](const std::string& fileName) {
    // A title plus its extension can spell the folder's own index or its properties section
    // ("Plumadex" + ".ini"): such a document would be overwritten by the index.
    if (IsIndexFileName(fileName) || SameText(fileName, kFolderSection)) return true;
    return names.Contains(fileName) && (self.empty() || FoldCase(fileName) != selfFold);
  };

  std::string suffix = suffixOf(n, numbered);
  std::string name = fitted(suffix);
  if (name.empty()) {
    out.error = ENAMETOOLONG;
    return out;
  }
  if (taken(name + suffix + dotExt)) {
    // Numbers below the last one handed out for this name were taken then; start after it.
    n = std::max(n + 1, names.Hint(key) + 1);
    for (;; ++n) {
      suffix = suffixOf(n, true);
      name = fitted(suffix);
      if (name.empty()) {
        out.error = ENAMETOOLONG;
        return out;
      }
      if (!taken(name + suffix + dotExt)) break;
    }
    names.SetHint(key, n);
  }
  out.ok = true;
  out.name = name + suffix;
  out.title = base + suffix;
  out.fileName = out.name + dotExt;
  return out;
}

UniqueName UniqueFileName(const std::string& folder, std::string_view title, std::string_view ext) {
  FolderNames names(folder);
  return UniqueFileName(names, title, ext);
}

std::optional<std::string> UniqueSectionPrefix(const TPXCustomIni& index, std::string_view name,
                                               bool tagged, RandomSource& random) {
  std::string prefix = tagged ? "$$$1." : "";
  auto taken = [&](const std::string& p) {
    return index.SectionExists(p + std::string(name));
  };
  if (!taken(prefix)) return prefix;
  for (int i = 0; i < 64; ++i) {
    prefix = "$$$" + std::to_string(random.Below(10000)) + ".";
    if (!taken(prefix)) return prefix;
  }
  // Random tries keep failing only when the name is used very often: take the first free one.
  for (int i = 0; i < 10000; ++i) {
    prefix = "$$$" + std::to_string(i) + ".";
    if (!taken(prefix)) return prefix;
  }
  return std::nullopt;
}

}  // namespace px::store
