#pragma once
// A document store in a private home for the operation tests: documents folder with trash,
// contacts folder, index registry, unread list, sent.ini and a message queue that collects.
#include "foundation/message_queue.h"
#include "foundation/random.h"
#include "store/doc_operations.h"
#include "store/index_file.h"
#include "store/newmail_list.h"
#include "store/unread_list.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace px::store::test {

// Answers collisions from a script and records the questions.
class ScriptedResolver : public CollisionResolver {
public:
  std::vector<CollisionAnswer> answers;
  std::vector<CollisionQuestion> asked;
  CollisionAnswer Ask(const CollisionQuestion& q) override {
    asked.push_back(q);
    if (answers.empty()) return {CollisionAction::Skip, {}, false};
    CollisionAnswer a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
};

struct OpsFixture : ::testing::Test {
  px::test::TempHome home;
  std::string docs, trash, contacts;
  IniRegistry registry;
  RandomSource random{42};
  MessageQueue messages;
  UnreadList unread;
  NewMailList newMail;
  std::unique_ptr<TPXIniBase> sent;
  ScriptedResolver resolver;
  NoOpenDocuments noOpenDocs;
  NoQuickboard noQuickboard;
  NoSortingRules noRules;
  NoPendingRefresh noPending;
  std::unique_ptr<DocOperations> ops;

  void SetUp() override {
    docs = home.path("Documents/");
    trash = docs + "TRASH/";
    contacts = home.path("data/Contacts/");
    px::test::makeDirs(trash);
    px::test::makeDirs(contacts);
    sent = std::make_unique<TPXIniBase>(home.path("data/sent.ini"));
    OpServices s;
    s.registry = &registry;
    s.random = &random;
    s.messages = &messages;
    s.unread = &unread;
    s.newMail = &newMail;
    s.sent = sent.get();
    s.documentsFolder = docs;
    s.trashFolder = trash;
    s.contactsFolder = contacts;
    s.ownFromAddress = "me@example.org";
    ops = std::make_unique<DocOperations>(std::move(s), collaborators());
  }

  // The fixture's collaborators: the scripted resolver, nothing else present.
  OpCollaborators collaborators() {
    return {resolver, noOpenDocs, noQuickboard, noRules, noPending};
  }

  std::string dir(const std::string& rel) {
    px::test::makeDirs(docs + rel);
    return docs + rel + "/";
  }
  // A document file with an index entry (lines "key=value").
  void doc(const std::string& folder, const std::string& name, const std::string& bytes,
           const std::vector<std::string>& lines = {}, const std::string& prefix = "") {
    px::test::writeFile(folder + name, bytes);
    if (lines.empty()) return;
    TPXIniFile ini(registry, IndexPathOf(folder));
    for (const auto& l : lines) {
      auto eq = l.find('=');
      ini.WriteString(prefix + name, l.substr(0, eq), l.substr(eq + 1));
    }
    EXPECT_TRUE(ini.Release().ok());
  }
  std::string value(const std::string& folder, const std::string& section, const std::string& key) {
    TPXIniFile ini(registry, IndexPathOf(folder));
    return ini.ReadString(section, key, "<none>");
  }
  bool hasSection(const std::string& folder, const std::string& section) {
    TPXIniFile ini(registry, IndexPathOf(folder));
    StringList all;
    ini.ReadSections(all);
    for (const auto& s : all)
      if (s == section) return true;
    return false;
  }
  StringList sections(const std::string& folder) {
    TPXIniFile ini(registry, IndexPathOf(folder));
    StringList all;
    ini.ReadSections(all);
    return all;
  }
  bool exists(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
  }
  OpItem item(const std::string& folder, const std::string& name, const std::string& title,
              const std::string& target = {}) {
    OpItem it;
    it.folder = folder;
    it.name = name;
    it.title = title;
    auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) it.ext = name.substr(dot + 1);
    it.targetFolder = target;
    it.refFolder = folder;
    return it;
  }
  std::string lastMessage() {
    if (messages.Pending().empty()) return {};
    std::string m = messages.Pending().back();
    m.pop_back();  // the kind character
    return m;
  }
};

}  // namespace px::store::test
