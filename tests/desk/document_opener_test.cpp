#include "desk/document_opener.h"

#include "foundation/message_queue.h"
#include "store/doc_record.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <sys/stat.h>

namespace px::desk {
namespace {

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class DocumentOpenerTest : public ::testing::Test {
protected:
  void SetUp() override {
    root_ = dir_.path().toStdString() + "/";
    docs_ = root_ + "Documents/";
    QDir().mkpath(QString::fromStdString(docs_));
    dirs_.configHome = root_ + "config/";
    dirs_.dataHome = root_ + "share/";
    // The "viewer" edits the file it is given (appends a line) and notes its arguments.
    write(root_ + "bin/viewer", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + root_ + "args\"\n"
                                "[ \"$EDIT\" = 1 ] && echo edited >> \"$1\"\nsleep \"${STAY:-0}\"\nexit 0\n");
    QFile::setPermissions(QString::fromStdString(root_ + "bin/viewer"), QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                                           QFileDevice::WriteOwner);
    write(root_ + "share/applications/viewer.desktop", "[Desktop Entry]\nType=Application\nName=Viewer\nExec=" + root_ +
                                                           "bin/viewer %f\nMimeType=application/pdf;text/plain;\n");
    svc_.messages = &queue_;
    svc_.privateFolder = root_ + "private/";
    svc_.documentsFolder = docs_;
    svc_.documentsName = "Documents";
    svc_.askName = [this](const std::string& proposed) -> std::optional<std::string> {
      asked_ = proposed;
      return name_;
    };
    svc_.storeNew = [this](const std::string& file, const std::string& folder, const std::string& title, bool) {
      struct stat st{};
      const unsigned mode = ::stat(file.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
      stored_.push_back({file, folder, title, read(file), mode});
      return true;
    };
    svc_.changedInPlace = [this](const std::string& folder, const std::string& name) { changed_ = folder + name; };
  }
  void write(const std::string& path, const std::string& text) {
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.data(), static_cast<qint64>(text.size()));
  }
  std::string read(const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : "<missing>";
  }
  store::DocRecord Doc(const std::string& name, int flags) {
    write(docs_ + name, "original\n");
    store::DocRecord r;
    r.folder = docs_;
    r.name = name;
    r.title = name.substr(0, name.rfind('.'));
    r.ext = name.substr(name.rfind('.') + 1);
    r.flags = flags;
    return r;
  }
  // Ticks until every record has ended; later ticks count as long after the start.
  void RunUntilClosed(DocumentOpener& opener) {
    for (int i = 0; i < 200 && opener.HasOpenDocuments(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      opener.OnRunTimer(SteadyMs() + 10000);
    }
    ASSERT_FALSE(opener.HasOpenDocuments());
  }
  struct Stored {
    std::string file, folder, title, content;
    unsigned mode = 0;
  };
  // The usual umask, whatever the test runner has.
  const unsigned test_umask_ = 022;
  struct UmaskGuard {
    mode_t old = ::umask(022);
    ~UmaskGuard() { ::umask(old); }
  } umaskGuard_;
  QTemporaryDir dir_;
  std::string root_, docs_, asked_, changed_;
  std::optional<std::string> name_ = std::string("My copy");
  platform::XdgDirs dirs_;
  MessageQueue queue_;
  OpenerServices svc_;
  std::vector<Stored> stored_;
};

TEST_F(DocumentOpenerTest, ASealedReceivedMessageIsOpenedFromAPrivateCopyAndItsChangesBecomeANewDocument) {
  qputenv("EDIT", "1");
  qputenv("STAY", "0.2");
  DocumentOpener opener(svc_, platform::AppRegistry(dirs_), nullptr);
  const store::DocRecord r = Doc("it's a \"report\" $1.pdf", store::dfReceivedMail);
  ASSERT_TRUE(opener.OpenDocument(r, false));
  ASSERT_TRUE(opener.HasOpenDocuments());
  RunUntilClosed(opener);
  EXPECT_EQ(read(docs_ + r.name), "original\n");  // never touched
  ASSERT_EQ(stored_.size(), 1u);
  EXPECT_EQ(stored_[0].folder, docs_);
  EXPECT_EQ(stored_[0].title, "My copy");
  EXPECT_EQ(stored_[0].content, "original\nedited\n");
  // The new document follows the umask like every other (the private folder keeps it private
  // while it is open).
  EXPECT_EQ(stored_[0].mode, 0666u & ~test_umask_) << std::oct << stored_[0].mode;
  EXPECT_EQ(asked_, r.title);
  // The program got the private copy's path as one argument, under the document's own name.
  const std::string args = read(root_ + "args");
  EXPECT_EQ(args.rfind(root_ + "private/open-", 0), 0u) << args;
  EXPECT_NE(args.find("/it's a \"report\" $1.pdf\n"), std::string::npos) << args;
  EXPECT_TRUE(QDir(QString::fromStdString(root_ + "private")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST_F(DocumentOpenerTest, CancellingTheNameKeepsTheOriginalAndLeavesNothingBehind) {
  qputenv("EDIT", "1");
  qputenv("STAY", "0.2");
  name_.reset();
  DocumentOpener opener(svc_, platform::AppRegistry(dirs_), nullptr);
  const store::DocRecord r = Doc("sealed.pdf", store::dfSealed);
  opener.OpenDocument(r, false);
  RunUntilClosed(opener);
  EXPECT_TRUE(stored_.empty());
  EXPECT_EQ(read(docs_ + "sealed.pdf"), "original\n");
  EXPECT_TRUE(QDir(QString::fromStdString(root_ + "private")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST_F(DocumentOpenerTest, AnEditableDocumentChangesInPlace) {
  qputenv("EDIT", "1");
  qputenv("STAY", "0.2");
  DocumentOpener opener(svc_, platform::AppRegistry(dirs_), nullptr);
  const store::DocRecord r = Doc("notes.pdf", 0);
  opener.OpenDocument(r, false);
  RunUntilClosed(opener);
  EXPECT_EQ(read(docs_ + "notes.pdf"), "original\nedited\n");
  EXPECT_EQ(changed_, docs_ + "notes.pdf");
  EXPECT_TRUE(stored_.empty());
}

TEST_F(DocumentOpenerTest, ProgramsThatCameAsMailAreNeverRun) {
  qputenv("EDIT", "0");
  DocumentOpener opener(svc_, platform::AppRegistry(dirs_), nullptr);
  store::DocRecord r = Doc("setup.sh", store::dfReceivedMail);
  write(docs_ + "setup.sh", "#!/bin/sh\ntouch " + root_ + "ran\n");
  QFile::setPermissions(QString::fromStdString(docs_ + "setup.sh"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  bool askedAsText = false;
  svc_.askYesNo = [&](const std::string&) { return askedAsText = true, false; };
  DocumentOpener asking(svc_, platform::AppRegistry(dirs_), nullptr);
  EXPECT_TRUE(asking.OpenDocument(r, false));
  EXPECT_TRUE(askedAsText);
  EXPECT_FALSE(asking.HasOpenDocuments());
  // Even through "Open with".
  svc_.chooseApplication = [&](auto&&, auto&&, const auto& forType, const auto&) -> std::optional<platform::DesktopEntry> {
    return forType.empty() ? std::nullopt : std::optional<platform::DesktopEntry>(forType.front());
  };
  DocumentOpener withChooser(svc_, platform::AppRegistry(dirs_), nullptr);
  withChooser.OpenWith(r, false);
  EXPECT_FALSE(withChooser.HasOpenDocuments());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(root_ + "ran")));
}

TEST_F(DocumentOpenerTest, ATypeWithoutAProgramSaysSoAndOffersTheChooser) {
  DocumentOpener opener(svc_, platform::AppRegistry(dirs_), nullptr);
  const store::DocRecord r = Doc("picture.png", 0);
  std::string offeredType;
  svc_.chooseApplication = [&](auto&&, const std::string& type, auto&&, const auto& others) {
    offeredType = type;
    EXPECT_FALSE(others.empty());  // every installed program below the type's own
    return std::optional<platform::DesktopEntry>();
  };
  DocumentOpener withChooser(svc_, platform::AppRegistry(dirs_), nullptr);
  EXPECT_TRUE(withChooser.OpenDocument(r, false));
  EXPECT_EQ(offeredType, "image/png");
  EXPECT_FALSE(withChooser.HasOpenDocuments());
}

TEST_F(DocumentOpenerTest, ChangedCopiesLeftByACrashAreKeptAsNewDocuments) {
  write(docs_ + "a.pdf", "original\n");
  write(root_ + "private/open-abc123/a.pdf", "original\nchanged before the crash\n");
  write(root_ + "private/open-abc123/.origin", docs_ + "a.pdf");
  write(root_ + "private/open-def456/b.pdf", "same\n");
  write(docs_ + "b.pdf", "same\n");
  write(root_ + "private/open-def456/.origin", docs_ + "b.pdf");
  DocumentOpener opener(svc_, platform::AppRegistry(dirs_), nullptr);
  opener.RecoverLeftovers();
  ASSERT_EQ(stored_.size(), 1u);
  EXPECT_EQ(stored_[0].content, "original\nchanged before the crash\n");
  EXPECT_EQ(stored_[0].folder, docs_);
  EXPECT_TRUE(QDir(QString::fromStdString(root_ + "private")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST_F(DocumentOpenerTest, NewDocumentsComeFromTheTemplatesAndAreStoredOnlyWhenChanged) {
  write(root_ + "Templates/Letter.txt", "Dear\n");
  svc_.templatesFolder = root_ + "Templates/";
  DocumentOpener opener(svc_, platform::AppRegistry(dirs_), nullptr);
  const auto templates = opener.Templates();
  ASSERT_EQ(templates.size(), 2u);
  EXPECT_EQ(templates[0].ext, "txt");
  EXPECT_EQ(templates[1].name, "Letter");

  qputenv("EDIT", "0");
  qputenv("STAY", "0.2");
  ASSERT_TRUE(opener.NewDocument(templates[1], docs_, false, "12/10/26 10:00"));
  RunUntilClosed(opener);
  EXPECT_TRUE(stored_.empty());  // closed unchanged: gone

  qputenv("EDIT", "1");
  ASSERT_TRUE(opener.NewDocument(templates[1], docs_, false, "12/10/26 10:01"));
  RunUntilClosed(opener);
  ASSERT_EQ(stored_.size(), 1u);
  EXPECT_EQ(stored_[0].content, "Dear\nedited\n");
  EXPECT_EQ(stored_[0].mode, 0666u & ~test_umask_) << std::oct << stored_[0].mode;
  EXPECT_EQ(asked_, "New document 12/10/26 10:01");
  EXPECT_FALSE(opener.NewDocument(templates[0], docs_, true, "x"));  // restricted folder
  EXPECT_TRUE(QDir(QString::fromStdString(root_ + "private")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

}  // namespace
}  // namespace px::desk
