#include "search/doc_index.h"

#include "foundation/dates.h"
#include "search/extractor.h"
#include "search/folder_walk.h"
#include "store/doc_record.h"
#include "store/folder_listing.h"
#include "store/index_value.h"

#include <xapian.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <set>
#include <unordered_set>

namespace px::search {
namespace {

// Values kept with each entry.
enum Slot : Xapian::valueno { kPath = 0, kFolder = 1, kDate = 2, kFlags = 3, kFileKey = 4, kMetaHash = 5 };

// Words of the index data are kept under their own prefixes and, for queries without a field,
// under kAnyMeta too; the file text's words have no prefix. Terms of the index data start with
// an upper-case letter; words never do (the term generator lower-cases them).
constexpr const char* kSubject = "S";
constexpr const char* kFrom = "A";
constexpr const char* kTo = "XTO";
constexpr const char* kAnyMeta = "XM";
constexpr const char* kIdTerm = "Q";        // + hash of the path
constexpr const char* kFolderTerm = "XF";   // + hash of the folder
constexpr const char* kFileIdTerm = "XI";   // + device:inode:size:mtime
// The index data's words are placed far after any text's, so a phrase never spans the two.
constexpr Xapian::termpos kMetaPosition = 3000000000u;
// A keyword that is part of more indexed words than this is left to the scan.
constexpr size_t kMaxExpansion = 20000;

std::string hashOf(std::string_view s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

struct FileFacts {
  bool regular = false;
  int64_t size = 0;
  int64_t mtimeNs = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  std::string Key() const { return std::to_string(size) + ":" + std::to_string(mtimeNs); }
  std::string IdTerm() const {
    return std::string(kFileIdTerm) + std::to_string(dev) + ":" + std::to_string(ino) + ":" + Key();
  }
};

FileFacts factsOf(const std::string& path) {
  FileFacts f;
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return f;
  f.regular = true;
  f.size = st.st_size;
  f.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  f.dev = st.st_dev;
  f.ino = st.st_ino;
  return f;
}

// A NUL byte in the first 8 KiB, without the byte-order mark of UTF-16: not text.
bool looksBinary(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  char buf[8192];
  ssize_t n;
  do n = ::read(fd, buf, sizeof buf); while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n >= 2 && ((buf[0] == '\xFF' && buf[1] == '\xFE') || (buf[0] == '\xFE' && buf[1] == '\xFF'))) return false;
  return n > 0 && std::memchr(buf, 0, static_cast<size_t>(n)) != nullptr;
}

std::string ymdOf(DateTime t) {
  if (t == 0) return {};
  const DateTimeParts p = SplitDateTime(t);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", p.year, p.month, p.day);
  return buf;
}

// What the index keeps of a document's index data.
struct Meta {
  std::string path, folder, title, from, to, note, date;
  int flags = 0;
  std::string Hash() const {
    return hashOf(path + '\n' + title + '\n' + from + '\n' + to + '\n' + note + '\n' + date + '\n' +
                  std::to_string(flags));
  }
};

Meta metaOf(const store::DocRecord& d, const std::string& path) {
  Meta m;
  m.path = path;
  m.folder = d.folder;
  m.title = d.title;
  m.flags = d.flags;
  m.date = ymdOf(d.date);
  // The Address key is the other side: the sender of received mail, the recipients of mail sent.
  const bool received = d.flags & store::dfReceived, outgoing = d.flags & store::dfOutgoing;
  if (received || !outgoing) m.from = d.address;
  if (outgoing || !received) m.to = d.address;
  m.from += " " + std::string(d.from());
  m.to += " " + std::string(d.to()) + " " + std::string(d.cc()) + " " + std::string(d.bcc());
  if (!d.sticker.empty()) {
    StringList lines;
    store::DecodeIndexValue(d.sticker, lines);
    for (const std::string& l : lines) m.note += l + "\n";
  }
  return m;
}

void addMeta(Xapian::Document& doc, Xapian::TermGenerator& tg, const Meta& m, const FileFacts& f) {
  tg.set_document(doc);
  tg.set_termpos(kMetaPosition);
  auto both = [&](const std::string& text, const char* prefix) {
    if (text.find_first_not_of(' ') == std::string::npos) return;
    tg.index_text(text, 1, prefix);
    tg.increase_termpos();
    tg.index_text(text, 1, kAnyMeta);
    tg.increase_termpos();
  };
  both(m.title, kSubject);
  both(m.from, kFrom);
  both(m.to, kTo);
  if (!m.note.empty()) tg.index_text(m.note, 1, kAnyMeta);
  doc.add_boolean_term(kIdTerm + hashOf(m.path));
  doc.add_boolean_term(kFolderTerm + hashOf(m.folder));
  doc.add_boolean_term(f.IdTerm());
  doc.add_value(kPath, m.path);
  doc.add_value(kFolder, m.folder);
  doc.add_value(kDate, m.date);
  doc.add_value(kFlags, std::to_string(m.flags));
  doc.add_value(kFileKey, f.Key());
  doc.add_value(kMetaHash, m.Hash());
}

// Takes the index data's terms off an entry (its text stays).
void dropMeta(Xapian::Document& doc) {
  std::vector<std::string> drop;
  for (auto t = doc.termlist_begin(); t != doc.termlist_end(); ++t) {
    const std::string term = *t;
    if (!term.empty() && term[0] >= 'A' && term[0] <= 'Z') drop.push_back(term);
  }
  for (const std::string& t : drop) doc.remove_term(t);
}

// The file's text into the term generator; a word cut between two pieces is kept whole.
class TermSink final : public TextSink {
public:
  TermSink(Xapian::TermGenerator& tg, const std::atomic<bool>& stop) : tg_(tg), stop_(stop) {}
  bool Put(std::string_view utf8) override {
    if (stop_.load()) return false;  // a long file does not hold up a stop
    carry_.append(utf8);
    size_t cut = carry_.size();
    while (cut > 0) {
      const unsigned char c = static_cast<unsigned char>(carry_[cut - 1]);
      if (c < 0x80 && !std::isalnum(c) && c != '\'' && c != '_' && c != '&') break;
      --cut;
    }
    if (cut == 0 && carry_.size() < (1u << 20)) return true;  // one long word: wait for its end
    if (cut == 0) cut = carry_.size();
    tg_.index_text(Xapian::Utf8Iterator(carry_.data(), cut));
    carry_.erase(0, cut);
    return true;
  }
  void Flush() {
    if (!carry_.empty()) tg_.index_text(carry_);
    carry_.clear();
  }

private:
  Xapian::TermGenerator& tg_;
  const std::atomic<bool>& stop_;
  std::string carry_;
};

std::optional<Xapian::docid> findPath(Xapian::Database& db, const std::string& path) {
  const std::string term = kIdTerm + hashOf(path);
  for (auto p = db.postlist_begin(term); p != db.postlist_end(term); ++p)
    if (db.get_document(*p).get_value(kPath) == path) return *p;
  return std::nullopt;
}

class Indexer {
public:
  Indexer(Xapian::WritableDatabase& db, const IndexUpdateRequest& req, const std::atomic<bool>& stop,
          IndexProgress& counts)
      : db_(db), req_(req), stop_(stop), counts_(counts) {}

  // Brings one folder's entries up to date; false when stopped.
  bool SyncFolder(const std::string& folder) {
    store::DocRows rows;
    store::ListingContext ctx = req_.listing;
    ctx.searchMatches = nullptr;
    (void)store::FetchDocs(ctx, true, folder, rows);
    std::unordered_set<std::string> listed;
    for (const store::DocRecord& d : rows) {
      if (stop_.load()) return false;
      if (d.IsContactRef() || !d.target.empty() || d.IsLink()) continue;
      const std::string path = d.FilePath();
      const FileFacts f = factsOf(path);
      if (!f.regular) continue;
      listed.insert(path);
      ++counts_.documents;
      const Meta m = metaOf(d, path);
      if (auto id = findPath(db_, path)) {
        Xapian::Document doc = db_.get_document(*id);
        if (doc.get_value(kFileKey) == f.Key()) {
          if (doc.get_value(kMetaHash) != m.Hash()) repoint(*id, doc, m, f);
          continue;
        }
      } else if (auto moved = movedFrom(path, f)) {
        Xapian::Document doc = db_.get_document(*moved);
        repoint(*moved, doc, m, f);
        ++counts_.repointed;
        continue;
      }
      extract(m, f);
    }
    // Entries of this folder whose document is no longer listed: removed at the end of the run
    // unless a later folder takes them in as a moved document.
    const std::string term = kFolderTerm + hashOf(folder);
    for (auto p = db_.postlist_begin(term); p != db_.postlist_end(term); ++p) {
      const std::string path = db_.get_document(*p).get_value(kPath);
      if (!listed.count(path)) vanished_.push_back({*p, path});
    }
    // Committed every few seconds (a run stopped or killed loses no more), not folder by folder:
    // each commit writes new blocks, and a tree of many small folders would bloat the index.
    const auto now = std::chrono::steady_clock::now();
    if (uncommitted_ >= kCommitEvery || (uncommitted_ > 0 && now - lastCommit_ >= kCommitAfter)) {
      db_.commit();
      uncommitted_ = 0;
      lastCommit_ = now;
    }
    return true;
  }

  // Removes the entries that vanished and were not taken in elsewhere.
  void RemoveVanished() {
    for (const auto& [id, path] : vanished_) {
      try {
        if (db_.get_document(id).get_value(kPath) != path) continue;  // re-pointed
      } catch (const Xapian::DocNotFoundError&) {
        continue;
      }
      db_.delete_document(id);
      ++counts_.removed;
    }
    vanished_.clear();
    db_.commit();
  }

  // Entries in folders below root that the walk did not reach (deleted, now hidden, trash).
  void RemoveUnvisited(const std::string& root, const std::set<std::string>& visited) {
    std::vector<Xapian::docid> gone;
    for (auto v = db_.valuestream_begin(kFolder); v != db_.valuestream_end(kFolder); ++v) {
      const std::string folder = *v;
      if (folder.compare(0, root.size(), root) == 0 && !visited.count(folder)) gone.push_back(v.get_docid());
    }
    for (Xapian::docid id : gone) db_.delete_document(id);
    counts_.removed += static_cast<int64_t>(gone.size());
    db_.commit();
  }

private:
  void repoint(Xapian::docid id, Xapian::Document& doc, const Meta& m, const FileFacts& f) {
    ++uncommitted_;
    dropMeta(doc);
    doc.clear_values();
    addMeta(doc, tg_, m, f);
    db_.replace_document(id, doc);
  }

  // An entry of a file with this identity, size and time whose path is gone (moved or renamed).
  std::optional<Xapian::docid> movedFrom(const std::string& path, const FileFacts& f) {
    const std::string term = f.IdTerm();
    for (auto p = db_.postlist_begin(term); p != db_.postlist_end(term); ++p) {
      const std::string old = db_.get_document(*p).get_value(kPath);
      if (old == path) continue;
      const FileFacts there = factsOf(old);
      if (!there.regular || there.dev != f.dev || there.ino != f.ino) return *p;
    }
    return std::nullopt;
  }

  void extract(const Meta& m, const FileFacts& f) {
    Xapian::Document doc;
    tg_.set_document(doc);
    tg_.set_termpos(0);
    // Binary files (pictures, archives, programs) have no words: only their index data is kept.
    if (!(KindOfFile(m.path, true) == DocKind::Plain && looksBinary(m.path))) {
      TermSink sink(tg_, stop_);
      const ExtractStatus st = ExtractText(m.path, sink, true);
      if (!st.ok || st.error) return;  // left to the scan, which reports it
      if (stop_.load()) return;        // cut short: read again next time
      sink.Flush();
    }
    addMeta(doc, tg_, m, f);
    db_.replace_document(kIdTerm + hashOf(m.path), doc);
    ++counts_.extracted;
    ++uncommitted_;
  }

  Xapian::WritableDatabase& db_;
  const IndexUpdateRequest& req_;
  const std::atomic<bool>& stop_;
  IndexProgress& counts_;
  Xapian::TermGenerator tg_;
  std::vector<std::pair<Xapian::docid, std::string>> vanished_;
  static constexpr size_t kCommitEvery = 5000;
  static constexpr std::chrono::seconds kCommitAfter{2};
  size_t uncommitted_ = 0;
  std::chrono::steady_clock::time_point lastCommit_ = std::chrono::steady_clock::now();
};

constexpr const char* kBuiltKey = "built";

}  // namespace

std::string IndexFolderOf(const std::string& dataRoot) { return dataRoot + "SearchIndex/"; }

bool IndexBuilt(const std::string& indexFolder) {
  try {
    Xapian::Database db(indexFolder);
    return !db.get_metadata(kBuiltKey).empty();
  } catch (const Xapian::Error&) {
    return false;
  }
}

IndexUpdateResult UpdateIndex(const IndexUpdateRequest& req, const std::atomic<bool>& stop,
                              const std::function<void(const IndexProgress&)>& progress) {
  IndexUpdateResult result;
  try {
    ::mkdir(req.indexFolder.c_str(), 0700);
    Xapian::WritableDatabase db(req.indexFolder,
                                req.rebuild ? Xapian::DB_CREATE_OR_OVERWRITE : Xapian::DB_CREATE_OR_OPEN);
    Indexer indexer(db, req, stop, result.counts);
    std::vector<std::string> folders = req.onlyFolders;
    const bool walk = folders.empty();
    if (walk) {
      FolderIdentity trash{}, rootId{};
      const bool hasTrash = !req.trashFolder.empty() && IdentityOfFolder(req.trashFolder, trash);
      if (!IdentityOfFolder(req.root, rootId)) {
        result.ok = false;
        result.error = "\"" + req.root + "\" is not a folder";
        return result;
      }
      std::set<FolderIdentity> seen{rootId};
      std::vector<std::string> stack{req.root};
      while (!stack.empty() && !stop.load()) {
        std::string f = std::move(stack.back());
        stack.pop_back();
        auto subs = SubfoldersOf(f);
        folders.push_back(std::move(f));
        for (auto it = subs.rbegin(); it != subs.rend(); ++it)
          if (!(hasTrash && it->second == trash) && seen.insert(it->second).second) stack.push_back(it->first);
      }
    }
    result.counts.foldersTotal = static_cast<int64_t>(folders.size());
    std::set<std::string> visited;
    for (const std::string& f : folders) {
      if (stop.load()) break;
      result.counts.folder = f;
      if (progress) progress(result.counts);
      if (!indexer.SyncFolder(f)) break;
      visited.insert(f);
      ++result.counts.foldersDone;
    }
    result.stopped = stop.load();
    indexer.RemoveVanished();
    if (walk && !result.stopped) {
      indexer.RemoveUnvisited(req.root, visited);
      db.set_metadata(kBuiltKey, req.root);
      db.commit();
    }
    if (progress) progress(result.counts);
  } catch (const Xapian::DatabaseLockError&) {
    result.ok = false;
    result.error = "The search index is being updated by another program.";
  } catch (const Xapian::Error& e) {
    result.ok = false;
    result.error = "Cannot update the search index " + req.indexFolder + ": " + e.get_description();
  }
  return result;
}

QueryResult RunIndexQuery(const std::string& indexFolder, const std::string& query, const std::string& folder) {
  QueryResult r;
  try {
    Xapian::Database db(indexFolder);
    Xapian::QueryParser qp;
    qp.set_database(db);
    qp.set_default_op(Xapian::Query::OP_AND);
    qp.add_prefix("", "");
    qp.add_prefix("", kAnyMeta);
    qp.add_prefix("from", kFrom);
    qp.add_prefix("to", kTo);
    qp.add_prefix("subject", kSubject);
    qp.add_prefix("title", kSubject);
    Xapian::DateRangeProcessor dates(kDate, "date:");
    qp.add_rangeprocessor(&dates);
    const unsigned flags = Xapian::QueryParser::FLAG_PHRASE | Xapian::QueryParser::FLAG_BOOLEAN |
                           Xapian::QueryParser::FLAG_LOVEHATE | Xapian::QueryParser::FLAG_WILDCARD |
                           Xapian::QueryParser::FLAG_PURE_NOT;
    const Xapian::Query q = qp.parse_query(query, flags);
    Xapian::Enquire enquire(db);
    enquire.set_query(q);
    enquire.set_weighting_scheme(Xapian::BoolWeight());
    enquire.set_docid_order(Xapian::Enquire::ASCENDING);
    const Xapian::MSet mset = enquire.get_mset(0, db.get_doccount());
    for (auto m = mset.begin(); m != mset.end(); ++m) {
      const Xapian::Document doc = m.get_document();
      IndexHit h;
      h.path = doc.get_value(kPath);
      h.folder = doc.get_value(kFolder);
      if (!folder.empty() && h.folder.compare(0, folder.size(), folder) != 0) continue;
      if (::access(h.path.c_str(), F_OK) != 0) continue;  // gone since the last update
      const std::string ymd = doc.get_value(kDate);
      if (ymd.size() == 8)
        h.date = MakeDateTime(std::stoi(ymd.substr(0, 4)), std::stoi(ymd.substr(4, 2)), std::stoi(ymd.substr(6, 2)));
      h.flags = std::atoi(doc.get_value(kFlags).c_str());
      r.hits.push_back(std::move(h));
    }
    std::sort(r.hits.begin(), r.hits.end(), [](const IndexHit& a, const IndexHit& b) { return a.path < b.path; });
  } catch (const Xapian::QueryParserError& e) {
    r.ok = false;
    r.error = "Cannot read the query: " + e.get_msg();
  } catch (const Xapian::DatabaseOpeningError&) {
    r.ok = false;
    r.error = "There is no search index yet (plumadex-cli index builds it).";
  } catch (const Xapian::Error& e) {
    r.ok = false;
    r.error = "Cannot read the search index " + indexFolder + ": " + e.get_description();
  }
  return r;
}

std::optional<bool> IndexAnswers::FileMatches(const std::string& path) const {
  const auto it = files_.find(path);
  if (it == files_.end()) return std::nullopt;
  const FileFacts f = factsOf(path);
  if (!f.regular || f.size != it->second.size || f.mtimeNs != it->second.mtimeNs) return std::nullopt;
  return it->second.match;
}

std::unique_ptr<IndexAnswers> AnswerKeywords(const std::string& indexFolder, const std::string& root,
                                             const StringList& keywords, bool wholeWords, bool any) {
  if (keywords.empty()) return nullptr;
  try {
    Xapian::Database db(indexFolder);
    if (db.get_metadata(kBuiltKey).empty()) return nullptr;
    std::vector<Xapian::Query> parts;
    for (const std::string& k : keywords) {
      const std::string word = Xapian::Unicode::tolower(k);
      for (Xapian::Utf8Iterator u(word); u != Xapian::Utf8Iterator(); ++u)
        if (!Xapian::Unicode::is_wordchar(*u)) return nullptr;
      if (word.empty()) return nullptr;
      if (wholeWords) {
        parts.emplace_back(word);
        continue;
      }
      // Every word of the texts that contains the keyword (the scan finds it inside words too).
      std::vector<std::string> terms;
      for (auto t = db.allterms_begin(); t != db.allterms_end();) {
        const std::string term = *t;
        if (!term.empty() && term[0] >= 'A' && term[0] <= 'Z') {
          t.skip_to("[");  // past the prefixed terms of the index data
          continue;
        }
        if (term.find(word) != std::string::npos) {
          terms.push_back(term);
          if (terms.size() > kMaxExpansion) return nullptr;
        }
        ++t;
      }
      parts.emplace_back(Xapian::Query::OP_OR, terms.begin(), terms.end());
    }
    Xapian::Enquire enquire(db);
    enquire.set_query(Xapian::Query(any ? Xapian::Query::OP_OR : Xapian::Query::OP_AND, parts.begin(), parts.end()));
    enquire.set_weighting_scheme(Xapian::BoolWeight());
    enquire.set_docid_order(Xapian::Enquire::ASCENDING);
    const Xapian::MSet mset = enquire.get_mset(0, db.get_doccount());
    std::unordered_set<Xapian::docid> matched;
    for (auto m = mset.begin(); m != mset.end(); ++m) matched.insert(*m);

    auto answers = std::make_unique<IndexAnswers>();
    auto key = db.valuestream_begin(kFileKey);
    for (auto v = db.valuestream_begin(kPath); v != db.valuestream_end(kPath); ++v) {
      const std::string path = *v;
      if (path.compare(0, root.size(), root) != 0) continue;
      key.skip_to(v.get_docid());
      if (key == db.valuestream_end(kFileKey) || key.get_docid() != v.get_docid()) continue;
      const std::string fk = *key;
      const size_t colon = fk.find(':');
      if (colon == std::string::npos) continue;
      IndexAnswers::Entry e;
      e.size = std::atoll(fk.substr(0, colon).c_str());
      e.mtimeNs = std::atoll(fk.substr(colon + 1).c_str());
      e.match = matched.count(v.get_docid()) > 0;
      answers->files_[path] = e;
    }
    return answers;
  } catch (const Xapian::Error&) {
    return nullptr;
  }
}

}  // namespace px::search
