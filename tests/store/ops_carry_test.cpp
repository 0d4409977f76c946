// Runs over many documents report each kind of refusal once; the trash remembers where its
// documents came from.
#include "ops_fixture.h"

#include "store/file_errors.h"
#include "store/refusal_batch.h"

using namespace px::store;
using namespace px::store::test;
using px::test::readFile;

namespace {

std::vector<std::string> Texts(const px::MessageQueue& q) {
  std::vector<std::string> out;
  for (auto m : q.Pending()) {
    m.pop_back();
    out.push_back(m);
  }
  return out;
}

}  // namespace

TEST_F(OpsFixture, ManyMissingFilesAreReportedOnceNamingThem) {
  const std::string a = dir("A");
  std::vector<OpItem> items;
  for (int i = 0; i < 3; ++i) {
    const std::string name = "gone" + std::to_string(i) + ".txt";
    doc(a, name, "x", {"Title=Gone " + std::to_string(i)});
    ::unlink((a + name).c_str());
    items.push_back(item(a, name, "Gone " + std::to_string(i), trash));
  }
  doc(a, "here.txt", "here", {"Title=Here"});
  items.push_back(item(a, "here.txt", "Here", trash));
  EXPECT_EQ(ops->RunOnSelection(opMove, items), 1u);
  const auto texts = Texts(messages);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_TRUE(texts[0].starts_with(std::string(kAbsentFileText))) << texts[0];
  EXPECT_NE(texts[0].find("This concerns 3 documents:"), std::string::npos);
  for (int i = 0; i < 3; ++i) EXPECT_NE(texts[0].find("Gone " + std::to_string(i)), std::string::npos);
  EXPECT_TRUE(exists(trash + "Here.txt"));
}

TEST_F(OpsFixture, ABigBatchGivesTheNumberAndASingleItemKeepsItsOwnText) {
  const std::string a = dir("A");
  std::vector<OpItem> items;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "g" + std::to_string(i) + ".txt";
    items.push_back(item(a, name, "G" + std::to_string(i), trash));
  }
  EXPECT_EQ(ops->RunOnSelection(opMove, items), 0u);
  auto texts = Texts(messages);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("This concerns 40 documents, among them:"), std::string::npos);
  EXPECT_EQ(texts[0].find("G39"), std::string::npos);
  messages.Clear();
  OpItem one = item(a, "single.txt", "Single", trash);
  EXPECT_FALSE(ops->RunDocOperation(opMove, one));
  texts = Texts(messages);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], std::string(kAbsentFileText));
}

TEST(RefusalBatch, KindsStayApartAndPerDocumentTextsGroupWithoutTheirNames) {
  px::MessageQueue run, out;
  RefusalBatch b;
  run.QueueMessage(px::MessageKind::Error, "Cannot copy /a/one.txt\rto /b/one.txt");
  b.Take(run, "one.txt");
  run.QueueMessage(px::MessageKind::Warning, "Sorry, but no.");
  b.Take(run, "two.txt");
  run.QueueMessage(px::MessageKind::Error, "Cannot copy /a/three.txt\rto /b/three.txt");
  b.Take(run, "three.txt");
  EXPECT_TRUE(run.Pending().empty());
  b.Flush(out);
  const auto texts = Texts(out);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_TRUE(texts[0].starts_with("Cannot copy /a/one.txt\rto /b/one.txt\r\rThis concerns 2 documents:"));
  EXPECT_NE(texts[0].find("three.txt"), std::string::npos);
  EXPECT_EQ(texts[1], "Sorry, but no.");
  EXPECT_TRUE(b.Empty());
}

TEST_F(OpsFixture, TheTrashRemembersWhereADocumentAndAFolderCameFrom) {
  const std::string a = dir("A"), sub = dir("A/Sub");
  doc(a, "note.txt", "n", {"Title=Note"});
  OpItem it = item(a, "note.txt", "Note", trash);
  ASSERT_TRUE(ops->RunDocOperation(opMove, it));
  EXPECT_EQ(TrashOriginOf(registry, trash, it.Section()), a);
  OpItem folder = item(a, "Sub", "Sub", trash);
  folder.ext.clear();
  ASSERT_TRUE(ops->RunDocOperation(opMove, folder));
  EXPECT_EQ(TrashOriginOf(registry, trash, folder.name + "."), a);
  // Restored, the document forgets the trash.
  it.targetFolder = a;
  ASSERT_TRUE(ops->RunDocOperation(opMove, it));
  EXPECT_EQ(readFile(a + "Note.txt"), "n");
  EXPECT_EQ(value(a, "Note.txt", std::string(kTrashOriginKey)), "<none>");
  // A copy out of the trash does not carry it either; nothing is known of other entries.
  EXPECT_EQ(TrashOriginOf(registry, trash, "unknown.txt"), "");
  (void)sub;
}
