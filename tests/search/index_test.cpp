// The search index: built from the documents tree through the extractor, kept current by
// updates that re-point moved documents, queried in the user's query language, and answering
// the filter's file test with the scan's results.
#include "search/doc_index.h"
#include "search/filter.h"
#include "search/index_keeper.h"
#include "search/search_thread.h"

#include "search/zip_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <string>
#include <vector>

namespace px::search {
namespace {

using px::test::TempHome;
using px::test::makeDirs;
using px::test::writeFile;

class IndexTest : public ::testing::Test {
protected:
  void SetUp() override {
    root = home.path("Documents/");
    trash = home.path("data/TRASH/");
    indexFolder = IndexFolderOf(home.path("data/"));
    makeDirs(root + "letters/old");
    makeDirs(root + "mail");
    makeDirs(root + "empty");
    makeDirs(trash);
    writeFile(root + "notes.txt", "Quarterly report of the bakery; flour prices rose.\n");
    writeFile(root + "letters/offer.rtf",
              "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Times;}}\\f0 Our of{\\b fer} for the caf\\'e9 "
              "and the ba\\u107?ery\\par}");
    writeFile(root + "letters/old/page.html",
              "<html><head><title>x</title><style>p{color:red}</style></head>"
              "<body><p>An old <b>invoice</b> from the mill</p></body></html>");
    writeZip(root + "letters/plan.docx",
             {{"word/document.xml",
               "<w:document xmlns:w=\"w\"><w:body><w:p><w:r><w:t>Flo</w:t></w:r><w:r><w:t>ur</w:t></w:r>"
               "<w:r><w:t xml:space=\"preserve\"> delivery plan</w:t></w:r></w:p></w:body></w:document>"}});
    writeZip(root + "letters/minutes.odt",
             {{"mimetype", "application/vnd.oasis.opendocument.text"},
              {"content.xml",
               "<office:document-content xmlns:office=\"o\" xmlns:text=\"t\"><office:body><text:p>Min"
               "<text:span>utes</text:span> of the bakery meeting</text:p></office:body></office:document-content>"}});
    writeFile(root + "mail/msg.eml",
              "From: Ann <ann@example.org>\r\nSubject: hi\r\nMIME-Version: 1.0\r\n"
              "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
              "Fresh br=\r\nead and a caf=C3=A9 cr=C3=A8me\r\n");
    writeFile(root + "mail/body.txt", "Please send the flour invoice\r\n");
    writeFile(root + "mail/Plumadex.ini",
              "[body.txt]\r\nTitle=Order of flour\r\nFlags=4096\r\nAddress=miller@mill.example\r\n"
              "Time=03/04/24 10:00:00\r\nMsgID=1:001/1\r\n\r\n"
              "[msg.eml]\r\nTitle=Greetings\r\nFlags=8192\r\nAddress=bob@example.org\r\n"
              "Time=05/06/25 09:00:00\r\n\r\n");
    writeFile(trash + "thrown.txt", "bakery");
    // A picture beside the letters: held without words.
    writeFile(root + "letters/photo.jpg", std::string("\xFF\xD8\xFF\xE0\0\x10JFIF\0 pixels", 17));
  }

  IndexUpdateRequest request(bool rebuild = false) {
    IndexUpdateRequest r;
    r.indexFolder = indexFolder;
    r.root = root;
    r.trashFolder = trash;
    r.listing.registry = &registry;
    r.listing.documentsFolder = root;
    r.rebuild = rebuild;
    return r;
  }
  IndexUpdateResult update(bool rebuild = false) {
    std::atomic<bool> stop{false};
    return UpdateIndex(request(rebuild), stop);
  }
  std::vector<std::string> query(const std::string& q, const std::string& folder = "") {
    const QueryResult r = RunIndexQuery(indexFolder, q, folder);
    EXPECT_TRUE(r.ok) << r.error;
    std::vector<std::string> out;
    for (const IndexHit& h : r.hits) out.push_back(h.path.substr(root.size()));
    return out;
  }
  // The paths the background search finds under the root, scanning or answered from the index.
  std::set<std::string> searchTree(const FilterCriteria& c, bool fromIndex) {
    SearchRequest req;
    req.root = root;
    req.trashFolder = trash;
    req.criteria = c;
    req.criteria.searchInside = true;
    req.criteria.bundles = false;
    req.listing.registry = &registry;
    req.listing.documentsFolder = root;
    req.listing.bundlesTogether = false;
    req.keepFound = true;
    req.listRoot = true;
    if (fromIndex) {
      std::shared_ptr<IndexAnswers> answers = AnswerKeywords(indexFolder, root, c.keywords, c.wholeWords, c.anyKeyword);
      EXPECT_NE(answers, nullptr);
      req.indexed = std::move(answers);
    }
    std::atomic<bool> stop{false};
    std::set<std::string> out;
    for (const store::DocRecord& d : SearchTree(req, stop).found) out.insert(d.FilePath().substr(root.size()));
    return out;
  }

  TempHome home;
  store::IniRegistry registry;
  std::string root, trash, indexFolder;
};

TEST_F(IndexTest, FilterAnswersFromTheIndexAsTheScanDoes) {
  ASSERT_TRUE(update().ok);
  struct Case {
    StringList keywords;
    bool wholeWords, any;
  };
  const std::vector<Case> cases = {
      {{"bakery"}, true, false},        {{"flour"}, true, false},      {{"FLOUR", "invoice"}, true, false},
      {{"flour", "invoice"}, true, true}, {{"café"}, true, false},     {{"crème"}, false, false},
      {{"offer"}, true, false},         {{"minutes"}, true, false},    {{"bread"}, true, false},
      {{"our"}, false, false},          {{"ake"}, false, false},       {{"voic", "mill"}, false, false},
      {{"color"}, true, false},         {{"absent"}, false, true},     {{"bakery", "plan"}, false, true},
  };
  for (const Case& k : cases) {
    FilterCriteria c;
    c.keywords = k.keywords;
    c.wholeWords = k.wholeWords;
    c.anyKeyword = k.any;
    const std::set<std::string> scanned = searchTree(c, false);
    EXPECT_EQ(searchTree(c, true), scanned) << k.keywords[0] << (k.wholeWords ? " whole" : " part");
  }
  // The index really answers: every file of the tree is held, the trash's is not.
  const auto answers = AnswerKeywords(indexFolder, root, {"bakery"}, true, false);
  ASSERT_NE(answers, nullptr);
  EXPECT_EQ(answers->Held(), 8u);
  EXPECT_EQ(answers->FileMatches(root + "letters/photo.jpg"), std::optional<bool>(false));
  // Where the two differ on purpose: letters inside a binary file are not words to the index.
  EXPECT_EQ(AnswerKeywords(indexFolder, root, {"pixels"}, true, false)->FileMatches(root + "letters/photo.jpg"),
            std::optional<bool>(false));
  EXPECT_EQ(answers->FileMatches(root + "letters/minutes.odt"), std::optional<bool>(true));
  EXPECT_EQ(answers->FileMatches(root + "mail/body.txt"), std::optional<bool>(false));
  EXPECT_EQ(answers->FileMatches(trash + "thrown.txt"), std::nullopt);
  // A file changed since it was indexed is left to the scan.
  writeFile(root + "notes.txt", "changed, and longer than before");
  EXPECT_EQ(answers->FileMatches(root + "notes.txt"), std::nullopt);
  // Keywords the index does not keep as words go to the scan.
  EXPECT_EQ(AnswerKeywords(indexFolder, root, {"flour;"}, true, false), nullptr);
  EXPECT_EQ(AnswerKeywords(indexFolder, root, {"a-b"}, false, false), nullptr);
}

TEST_F(IndexTest, QueryLanguage) {
  ASSERT_TRUE(update().ok);
  using V = std::vector<std::string>;
  EXPECT_EQ(query("bakery"), (V{"letters/minutes.odt", "letters/offer.rtf", "notes.txt"}));  // \u107 is "k"
  EXPECT_EQ(query("\"delivery plan\""), (V{"letters/plan.docx"}));
  EXPECT_EQ(query("\"plan delivery\""), V{});
  EXPECT_EQ(query("flour"), (V{"letters/plan.docx", "mail/body.txt", "notes.txt"}));
  EXPECT_EQ(query("flour NOT invoice"), (V{"letters/plan.docx", "notes.txt"}));
  EXPECT_EQ(query("bakery OR bread"), (V{"letters/minutes.odt", "letters/offer.rtf", "mail/msg.eml", "notes.txt"}));
  EXPECT_EQ(query("bakery AND quarterly"), (V{"notes.txt"}));
  EXPECT_EQ(query("from:miller@mill.example"), (V{"mail/body.txt"}));
  EXPECT_EQ(query("from:mill.example"), (V{"mail/body.txt"}));
  EXPECT_EQ(query("to:bob@example.org"), (V{"mail/msg.eml"}));
  EXPECT_EQ(query("from:bob@example.org"), V{});
  EXPECT_EQ(query("subject:greetings"), (V{"mail/msg.eml"}));
  EXPECT_EQ(query("greetings"), (V{"mail/msg.eml"}));  // titles without a field too
  EXPECT_EQ(query("date:2024-01-01..2024-12-31"), (V{"mail/body.txt"}));
  EXPECT_EQ(query("flour date:2024-03-04..2024-03-04"), (V{"mail/body.txt"}));
  EXPECT_EQ(query("bake*"), (V{"letters/minutes.odt", "letters/offer.rtf", "notes.txt"}));
  EXPECT_EQ(query("flour", root + "letters/"), (V{"letters/plan.docx"}));
  EXPECT_FALSE(RunIndexQuery(home.path("nowhere/"), "x").ok);
}

TEST_F(IndexTest, UpdatesRepointMovesAndReadOnlyWhatChanged) {
  IndexUpdateResult first = update();
  ASSERT_TRUE(first.ok) << first.error;
  EXPECT_EQ(first.counts.extracted, 8);
  EXPECT_TRUE(IndexBuilt(indexFolder));
  // Nothing changed: nothing is read.
  EXPECT_EQ(update().counts.extracted, 0);

  // A moved and renamed document keeps its words without being read again.
  ASSERT_EQ(::rename((root + "letters/plan.docx").c_str(), (root + "mail/route.docx").c_str()), 0);
  // Another is changed, another removed, a folder goes away with its document.
  writeFile(root + "notes.txt", "Now about the windmill only\n");
  ASSERT_EQ(::unlink((root + "mail/body.txt").c_str()), 0);
  ASSERT_EQ(::unlink((root + "letters/old/page.html").c_str()), 0);
  ASSERT_EQ(::rmdir((root + "letters/old").c_str()), 0);
  const IndexUpdateResult second = update();
  EXPECT_EQ(second.counts.repointed, 1);
  EXPECT_EQ(second.counts.extracted, 1);
  EXPECT_EQ(second.counts.removed, 2);
  using V = std::vector<std::string>;
  EXPECT_EQ(query("\"delivery plan\""), (V{"mail/route.docx"}));
  EXPECT_EQ(query("windmill"), (V{"notes.txt"}));
  EXPECT_EQ(query("quarterly"), V{});
  EXPECT_EQ(query("invoice"), V{});

  // An index entry's new title needs no reading either; only the named folder is looked at.
  writeFile(root + "mail/Plumadex.ini", "[msg.eml]\r\nTitle=Renamed greeting\r\n");
  IndexUpdateRequest only = request();
  only.onlyFolders = {root + "mail/"};
  std::atomic<bool> stop{false};
  const IndexUpdateResult third = UpdateIndex(only, stop);
  EXPECT_EQ(third.counts.extracted, 0);
  EXPECT_EQ(third.counts.foldersDone, 1);
  EXPECT_EQ(query("subject:renamed"), (V{"mail/msg.eml"}));
  EXPECT_EQ(query("bread"), (V{"mail/msg.eml"}));

  // A rebuild starts again from nothing.
  EXPECT_EQ(update(true).counts.extracted, 6);
}

TEST_F(IndexTest, AStoppedBuildResumes) {
  std::atomic<bool> stop{false};
  int folders = 0;
  const IndexUpdateResult part = UpdateIndex(request(), stop, [&](const IndexProgress& p) {
    if (p.foldersDone >= 2) stop = true;
    folders = static_cast<int>(p.foldersTotal);
  });
  EXPECT_TRUE(part.stopped);
  EXPECT_EQ(folders, 5);  // the root, letters, letters/old, mail, empty
  EXPECT_FALSE(IndexBuilt(indexFolder));
  EXPECT_EQ(AnswerKeywords(indexFolder, root, {"bakery"}, true, false), nullptr);  // not built yet
  const IndexUpdateResult rest = update();
  EXPECT_TRUE(rest.ok);
  EXPECT_EQ(part.counts.extracted + rest.counts.extracted, 8);
  EXPECT_TRUE(IndexBuilt(indexFolder));
}

TEST_F(IndexTest, OneWriterAtATime) {
  ASSERT_TRUE(update().ok);
  std::atomic<bool> stop{false};
  IndexUpdateResult inner;
  // A second writer while the first one runs is refused with a clear message.
  const IndexUpdateResult outer = UpdateIndex(request(), stop, [&](const IndexProgress& p) {
    if (p.foldersDone == 1 && inner.ok && inner.error.empty()) inner = UpdateIndex(request(), stop);
  });
  EXPECT_TRUE(outer.ok);
  EXPECT_FALSE(inner.ok);
  EXPECT_EQ(inner.error, "The search index is being updated by another program.");
}

// Runs the event loop until pred holds (or 30 s pass).
bool waitFor(const std::function<bool()>& pred) {
  QElapsedTimer t;
  t.start();
  while (!pred() && t.elapsed() < 30000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return pred();
}

TEST_F(IndexTest, KeeperBuildsOnceThenFollowsChangedFolders) {
  IndexKeeper::Config cfg;
  cfg.indexFolder = indexFolder;
  cfg.documents = root;
  cfg.trash = trash;
  cfg.listing.registry = &registry;
  cfg.listing.documentsFolder = root;
  cfg.delayMs = 10;
  IndexKeeper keeper(cfg);
  EXPECT_FALSE(keeper.Built());
  std::vector<std::pair<qint64, qint64>> progress;
  int updates = 0;
  QObject::connect(&keeper, &IndexKeeper::Progress, [&](qint64 d, qint64 t) { progress.push_back({d, t}); });
  QObject::connect(&keeper, &IndexKeeper::Updated, [&](bool) { ++updates; });
  keeper.EnsureBuilt();
  ASSERT_TRUE(waitFor([&] { return updates == 1; }));
  EXPECT_TRUE(keeper.Built());
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), (std::pair<qint64, qint64>{5, 5}));

  // A document filed into a folder, as the filer does: the index file's save names the folder.
  writeFile(root + "letters/new.txt", "a parcel of saffron");
  keeper.IndexSaved(root + "letters/Plumadex.ini");
  keeper.FolderChanged(trash);               // the trash is never indexed
  keeper.FolderChanged(home.path("other/"));  // nor anything outside the tree
  ASSERT_TRUE(waitFor([&] { return updates == 2; }));
  EXPECT_EQ(RunIndexQuery(indexFolder, "saffron").hits.size(), 1u);
  EXPECT_TRUE(RunIndexQuery(indexFolder, "bakery", trash).hits.empty());
}

}  // namespace
}  // namespace px::search
