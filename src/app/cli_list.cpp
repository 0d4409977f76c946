// plumadex-cli list FOLDER [--sort N]: the folder's records in listing order, one per line,
// tab-separated: title, file name, extension, date (ISO 8601), size, flags, shown address,
// msgid. Tabs, line breaks and backslashes inside a field are written as \t, \n, \r and \\ so
// that every record stays on one line.
#include "app/cli_commands.h"

#include "foundation/dates.h"
#include "foundation/locations.h"
#include "foundation/settings.h"
#include "store/folder_listing.h"
#include "store/index_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace px::cli {

namespace {

// Bytes written as escapes: tab, line feed, carriage return and the backslash.
constexpr auto kEscaped = [] {
  std::array<bool, 256> t{};
  t['\t'] = t['\n'] = t['\r'] = t['\\'] = true;
  return t;
}();

// Whether any of the 8 bytes is a control character (below 0x20) or a backslash: the bytes
// of nearly every field are neither, so they are tested a word at a time.
inline bool MayNeedEscape(uint64_t w) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  const uint64_t low = (w - kOnes * 0x20) & ~w & kHigh;       // a byte below 0x20
  const uint64_t x = w ^ (kOnes * static_cast<unsigned char>('\\'));
  const uint64_t slash = (x - kOnes) & ~x & kHigh;           // a backslash
  return (low | slash) != 0;
}

void AppendField(std::string& out, std::string_view s) {
  size_t i = 0;
  while (i + 8 <= s.size()) {
    uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    if (MayNeedEscape(w)) break;
    i += 8;
  }
  if (i == s.size()) {
    out.append(s);
    return;
  }
  size_t start = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (!kEscaped[static_cast<unsigned char>(c)]) continue;
    out.append(s.substr(start, i - start));
    out += '\\';
    out += c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : '\\';
    start = i + 1;
  }
  out.append(s.substr(start));
}

void AppendNumber(std::string& out, uint64_t v) {
  char b[24];
  auto r = std::to_chars(b, b + sizeof b, v);
  out.append(b, r.ptr);
}

// Digits of v (negative gives zeros), at least `width` of them, right to left from `end`.
char* PutDigits(char* end, int v, int width) {
  unsigned u = v < 0 ? 0u : static_cast<unsigned>(v);
  int n = 0;
  do {
    *--end = static_cast<char>('0' + u % 10);
    u /= 10;
    ++n;
  } while (u && n < 11);
  while (n < width) {
    *--end = '0';
    ++n;
  }
  return end;
}

// The calendar day of the last date written: rows in date order share days.
struct DayCache {
  int64_t days = INT64_MIN;
  DateTimeParts parts;
};

void AppendIsoDate(std::string& out, DateTime t, DayCache& cache) {
  if (t == 0 || !std::isfinite(t) || std::fabs(t) > 3.0e6) return;  // no date
  // Day and time of day as SplitDateTime finds them.
  const double whole = std::trunc(t);
  int64_t days = static_cast<int64_t>(whole);
  int64_t ms = std::llround(std::fabs(t - whole) * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    days += t < 0 ? -1 : 1;
  }
  if (days != cache.days) {
    cache.days = days;
    cache.parts = SplitDateTime(t);
  }
  const DateTimeParts& p = cache.parts;
  if (p.year == 0) return;
  char b[40];
  char* const end = b + sizeof b;
  char* q = end;
  q = PutDigits(q, static_cast<int>(ms / 1000 % 60), 2);
  *--q = ':';
  q = PutDigits(q, static_cast<int>(ms / 60000 % 60), 2);
  *--q = ':';
  q = PutDigits(q, static_cast<int>(ms / 3600000), 2);
  *--q = 'T';
  q = PutDigits(q, p.day, 2);
  *--q = '-';
  q = PutDigits(q, p.month, 2);
  *--q = '-';
  q = PutDigits(q, p.year, 4);
  out.append(q, end);
}

std::string AbsoluteFolder(const std::string& arg) {
  std::string f = arg;
  if (f.empty() || f.front() != '/') {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd)) {
      std::string base = cwd;
      if (base.back() != '/') base += '/';
      f = base + (f == "." ? std::string() : f);
    }
  }
  if (f.back() != '/') f += '/';
  return f;
}

int Usage() {
  PrintErr("usage: plumadex-cli list FOLDER [--sort N]   (N: -7..7, not 0)\n");
  return 2;
}

}  // namespace

int RunList(const Args& args) {
  std::string folderArg;
  bool haveSort = false;
  int sort = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--sort" || a.rfind("--sort=", 0) == 0) {
      std::string v;
      if (a == "--sort") {
        if (i + 1 >= args.size()) return Usage();
        v = args[++i];
      } else {
        v = a.substr(7);
      }
      auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), sort);
      if (ec != std::errc() || p != v.data() + v.size() || sort == 0 || sort < -7 || sort > 7) {
        PrintErr("plumadex-cli list: --sort takes -7..7 (not 0), not \"%s\"\n", v.c_str());
        return 2;
      }
      haveSort = true;
    } else if (!a.empty() && a.front() == '-' && a != "-") {
      return Usage();
    } else if (folderArg.empty()) {
      folderArg = a;
    } else {
      return Usage();
    }
  }
  if (folderArg.empty()) return Usage();

  const Locations loc = ComputeLocations();
  const std::string folder = AbsoluteFolder(folderArg);
  // Only a folder is listed: a file, a pipe or a device named here is an error, said before
  // anything is opened under it.
  struct stat st{};
  const int err = ::stat(folder.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (err) {
    PrintErr("plumadex-cli list: cannot read %s: %s\n", folder.c_str(), std::strerror(err));
    return 1;
  }

  store::IniRegistry registry;
  store::ListingContext ctx;
  ctx.registry = &registry;
  ctx.documentsFolder = loc.documents;
  ctx.contactsFolder = loc.contacts;
  ctx.dataRoot = loc.dataRoot;
  if (haveSort) {
    ctx.sorting = sort;
  } else {
    Settings settings(loc.UserIni());
    ctx.sorting = settings.Sorting();
  }

  store::DocRows rows;
  store::ListingResult res = store::FetchDocs(ctx, false, folder, rows);
  if (res.folderError != 0) {
    PrintErr("plumadex-cli list: cannot read %s: %s\n", folder.c_str(),
                 std::strerror(res.folderError));
    return 1;
  }
  if (!res.saveStatus.ok())
    PrintErr("plumadex-cli list: %s\n", res.saveStatus.message.c_str());

  std::string out;
  out.reserve((1 << 16) + 4096);
  DayCache day;
  for (const store::DocRecord& r : rows) {
    AppendField(out, r.title);
    out += '\t';
    AppendField(out, r.name);
    out += '\t';
    AppendField(out, r.ext);
    out += '\t';
    AppendIsoDate(out, r.date, day);
    out += '\t';
    AppendNumber(out, r.size);
    out += '\t';
    if (r.flags < 0) {
      out += '-';
      AppendNumber(out, static_cast<uint64_t>(-static_cast<int64_t>(r.flags)));
    } else {
      AppendNumber(out, static_cast<uint64_t>(r.flags));
    }
    out += '\t';
    AppendField(out, r.shownAddress);
    out += '\t';
    AppendField(out, r.msgId);
    out += '\n';
    if (out.size() >= (1 << 16)) {
      if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) return 1;
      out.clear();
    }
  }
  if (!out.empty() && std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) return 1;
  if (std::fflush(stdout) != 0) return 1;
  // The process ends now: handing the rows to the system at exit is cheaper than freeing a
  // large folder's records one string at a time.
  if (rows.size() >= 10000) static_cast<void>(new store::DocRows(std::move(rows)));
  return res.saveStatus.ok() ? 0 : 1;
}

}  // namespace px::cli
