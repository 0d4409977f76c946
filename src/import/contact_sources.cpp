#include "import/contact_sources.h"

#include <dirent.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <unordered_map>

#include "foundation/locations.h"
#include "import/file_probe.h"

namespace px::import {

namespace {

constexpr size_t kMaxBookFile = 512u << 20;  // an address book file larger than this is no book
constexpr size_t kMaxValue = 64 * 1024;
constexpr size_t kMaxCard = 1 << 20;
constexpr int kMaxCards = 200000;

bool IsRegular(const std::string& p, off_t* size = nullptr) { return IsRegularFile(p, size); }

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A database of another program opened from a copy (with its write-ahead log), read only: the
// program may be running, and nothing of its files is changed or locked.
class DatabaseCopy {
public:
  ~DatabaseCopy() {
    if (db_) sqlite3_close(db_);
  }
  bool Open(const std::string& path, std::string* error) {
    off_t size = 0;
    if (!IsRegular(path, &size)) return Fail(error, path + ": not a file");
    if (static_cast<uint64_t>(size) > kMaxBookFile) return Fail(error, path + ": too large for an address book");
    if (!dir_.isValid()) return Fail(error, "Cannot make a temporary folder");
    const QString copy = dir_.filePath(QStringLiteral("book.sqlite"));
    if (!QFile::copy(QString::fromStdString(path), copy))
      return Fail(error, path + ": cannot be read");
    for (const char* side : {"-wal"})
      if (IsRegular(path + side)) QFile::copy(QString::fromStdString(path + side), copy + QString::fromLatin1(side));
    const std::string c = copy.toStdString();
    if (sqlite3_open_v2(c.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
      return Fail(error, path + ": " + (db_ ? sqlite3_errmsg(db_) : "cannot be opened"));
    // A hostile file cannot make a query run away.
    sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, 16 << 20);
    return true;
  }
  sqlite3* db() const { return db_; }

  // Runs a query; each row's columns as text. False (and *error) when the query fails.
  bool Rows(const char* sql, int columns, const std::function<bool(const std::vector<std::string>&)>& row,
            std::string* error) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK) {
      if (error) *error = sqlite3_errmsg(db_);
      return false;
    }
    std::vector<std::string> values(static_cast<size_t>(columns));
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      for (int i = 0; i < columns; ++i) {
        const unsigned char* t = sqlite3_column_text(st, i);
        const int n = sqlite3_column_bytes(st, i);
        values[static_cast<size_t>(i)].assign(t ? reinterpret_cast<const char*>(t) : "", t ? static_cast<size_t>(n) : 0);
      }
      if (!row(values)) break;
    }
    const bool ok = rc == SQLITE_ROW || rc == SQLITE_DONE;
    if (!ok && error) *error = sqlite3_errmsg(db_);
    sqlite3_finalize(st);
    return ok;
  }

private:
  static bool Fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
  }
  QTemporaryDir dir_;
  sqlite3* db_ = nullptr;
};

// Thunderbird's field names -> the LDIF names the card maker knows.
const std::map<std::string, std::string>& AbookNames() {
  static const std::map<std::string, std::string> m = {
      {"FirstName", "givenname"},       {"LastName", "sn"},
      {"DisplayName", "displayname"},   {"PrimaryEmail", "mail"},
      {"SecondEmail", "mozillasecondemail"}, {"WorkPhone", "telephonenumber"},
      {"HomePhone", "homephone"},       {"CellularNumber", "mobile"},
      {"PagerNumber", "pager"},         {"FaxNumber", "fax"},
      {"Company", "o"},                 {"JobTitle", "title"},
      {"WorkAddress", "street"},        {"WorkCity", "l"},
      {"WorkState", "st"},              {"WorkZipCode", "postalcode"},
      {"WorkCountry", "c"},             {"WebPage1", "labeleduri"},
      {"Notes", "description"}};
  return m;
}

// A card kept whole by the book: its text with CR LF line ends, ended.
bool AppendWholeCard(std::string text, LdifResult& out) {
  if (text.size() > kMaxCard) return false;
  const std::string lower = Lower(text.substr(0, 64));
  if (lower.find("begin:vcard") == std::string::npos) return false;
  std::string card;
  card.reserve(text.size() + 64);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') continue;
    if (c == '\n') card += "\r\n";
    else if (c != '\0') card += c;
  }
  if (card.size() < 2 || card.compare(card.size() - 2, 2, "\r\n") != 0) card += "\r\n";
  out.cards += card;
  ++out.people;
  return true;
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

bool ReadAbookSqlite(const std::string& path, LdifResult& out, std::string* error) {
  DatabaseCopy db;
  if (!db.Open(path, error)) return false;
  // card -> its fields, in the order the table gives them.
  std::unordered_map<std::string, ContactFields> cards;
  std::unordered_map<std::string, std::string> whole;
  std::vector<std::string> order;
  const auto& names = AbookNames();
  std::string err;
  bool ok = db.Rows("SELECT card, name, value FROM properties", 3, [&](const std::vector<std::string>& r) {
    auto [it, fresh] = cards.try_emplace(r[0]);
    if (fresh) {
      if (static_cast<int>(order.size()) >= kMaxCards) {
        cards.erase(it);
        return true;
      }
      order.push_back(r[0]);
    }
    if (r[1] == "_vCard") {
      whole[r[0]] = r[2];
    } else if (auto n = names.find(r[1]); n != names.end() && !r[2].empty()) {
      it->second.emplace(n->second, r[2].substr(0, kMaxValue));
    }
    return true;
  }, &err);
  if (!ok) {
    if (error) *error = path + ": not an address book (" + err + ")";
    return false;
  }
  for (const std::string& card : order) {
    if (auto w = whole.find(card); w != whole.end() && AppendWholeCard(w->second, out)) continue;
    AddCard(cards[card], out);
  }
  // Lists: their members' addresses. A book without lists has no such tables.
  std::map<std::string, ContactList> lists;
  std::vector<std::string> listOrder;
  db.Rows("SELECT uid, name FROM lists", 2, [&](const std::vector<std::string>& r) {
    if (r[1].empty() || listOrder.size() >= 10000) return true;
    lists[r[0]].name = r[1].substr(0, 256);
    listOrder.push_back(r[0]);
    return true;
  }, nullptr);
  db.Rows("SELECT list, card FROM list_cards", 2, [&](const std::vector<std::string>& r) {
    auto l = lists.find(r[0]);
    auto c = cards.find(r[1]);
    if (l == lists.end() || c == cards.end()) return true;
    auto m = c->second.find("mail");
    if (m != c->second.end() && l->second.members.size() < 100000) l->second.members.push_back(m->second);
    return true;
  }, nullptr);
  for (const std::string& uid : listOrder) {
    ++out.groups;
    out.lists.push_back(std::move(lists[uid]));
  }
  return true;
}

bool ReadEvolutionContacts(const std::string& path, LdifResult& out, std::string* error) {
  DatabaseCopy db;
  if (!db.Open(path, error)) return false;
  std::string err;
  int n = 0;
  if (!db.Rows("SELECT vcard FROM folder_id", 1, [&](const std::vector<std::string>& r) {
        if (++n > kMaxCards) return false;
        if (!AppendWholeCard(r[0], out)) ++out.empty;
        return true;
      }, &err)) {
    if (error) *error = path + ": not an Evolution address book (" + err + ")";
    return false;
  }
  return true;
}

std::vector<std::string> ThunderbirdAddressBooks(const std::string& profile) {
  std::vector<std::string> r;
  const std::string dir = WithSlash(profile);
  for (const std::string& n : FilesIn(dir))
    if (n.rfind("abook", 0) == 0 && n.size() > 7 && n.compare(n.size() - 7, 7, ".sqlite") == 0 && IsRegular(dir + n))
      r.push_back(dir + n);
  return r;
}

std::vector<std::string> EvolutionAddressBooks(const std::string& home) {
  std::vector<std::string> r;
  if (home.empty()) return r;
  const std::string base = WithSlash(home) + ".local/share/evolution/addressbook/";
  for (const std::string& n : FilesIn(base)) {
    if (n.empty() || n[0] == '.' || !IsFolder(base + n)) continue;
    if (IsRegular(base + n + "/contacts.db")) r.push_back(base + n + "/contacts.db");
  }
  return r;
}

ContactBookRead ReadContactBook(const std::string& kind, const std::string& path) {
  ContactBookRead out;
  std::string error;
  auto readFile = [&](std::string& bytes) {
    off_t size = 0;
    if (!IsRegular(path, &size)) {
      out.skipped.push_back({path, "not a file"});
      return false;
    }
    if (static_cast<uint64_t>(size) > kMaxBookFile) {
      out.skipped.push_back({path, "too large for an address book"});
      return false;
    }
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) {
      out.skipped.push_back({path, f.errorString().toStdString()});
      return false;
    }
    bytes = f.readAll().toStdString();
    return true;
  };
  if (kind == "vcard") {
    std::string bytes;
    if (!readFile(bytes)) return out;
    const std::string lower = Lower(bytes);
    for (size_t p = 0; (p = lower.find("begin:vcard", p)) != std::string::npos; p += 11) ++out.result.people;
    out.result.cards = std::move(bytes);
  } else if (kind == "ldif") {
    std::string bytes;
    if (readFile(bytes)) out.result = LdifToVCards(bytes);
  } else if (kind == "thunderbird" || kind == "evolution") {
    const bool tb = kind == "thunderbird";
    std::vector<std::string> books;
    if (IsFolder(path)) {
      if (tb) {
        books = ThunderbirdAddressBooks(path);
      } else {
        for (const std::string& n : FilesIn(WithSlash(path)))
          if (n[0] != '.' && IsRegular(WithSlash(path) + n + "/contacts.db")) books.push_back(WithSlash(path) + n + "/contacts.db");
        if (IsRegular(WithSlash(path) + "contacts.db")) books.push_back(WithSlash(path) + "contacts.db");
      }
    } else {
      books.push_back(path);
    }
    for (const std::string& b : books) {
      error.clear();
      if (!(tb ? ReadAbookSqlite(b, out.result, &error) : ReadEvolutionContacts(b, out.result, &error)))
        out.skipped.push_back({b, error});
    }
  } else {
    out.skipped.push_back({path, "not an address book this program reads"});
  }
  return out;
}

}  // namespace px::import
