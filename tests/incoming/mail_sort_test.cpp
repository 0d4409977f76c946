// The sorting rules: their file, their evaluation, the filer's passes with real rules, folders
// that move, quick sort and "Apply rules now".
#include <gtest/gtest.h>

#include <map>

#include "filer_fixture.h"
#include "incoming/mail_sort.h"
#include "incoming/mail_sort_apply.h"
#include "incoming/mail_sort_model.h"
#include "store/doc_operations.h"
#include "store/list_file.h"

namespace px::incoming::test {
namespace {

// ---- the file ----------------------------------------------------------------------------------

TEST(MailSortFile, LinesOfEveryFormRoundTripExactly) {
  const std::vector<std::string> lines = {
      "Rule 001|OM /home/u/Documents/Finance/|F < bank.example",
      "Bank|AC /home/u/Documents/Bank/|FT < statements@bank.example|S > Advert",
      "Spam|OD|S < viagra|X < casino",
      "Off|-OM /home/u/Documents/Later/|A < Work",
      "No field|OM /d/|_ < x",
      "Empty value|OC /d/|S < ",
      "Odd letters|OM /d/|FQ < x",
      "Bar!in name|OM /d/|S < a!b",
      "Windows|OM C:\\Documents\\Finance\\|F < ann",
      "No conditions|OM /d/",
  };
  for (const auto& l : lines) {
    std::string why;
    auto r = ParseRule(l, &why);
    ASSERT_TRUE(r) << l << ": " << why;
    EXPECT_EQ(FormatRule(*r), l);
  }
  auto r = *ParseRule(lines[1]);
  EXPECT_TRUE(r.all);
  EXPECT_EQ(r.action, 'C');
  EXPECT_EQ(r.folder, "/home/u/Documents/Bank/");
  ASSERT_EQ(r.conditions.size(), 2u);
  EXPECT_EQ(r.conditions[1], (SortCondition{"S", false, "Advert"}));
  EXPECT_FALSE(ParseRule(lines[3])->enabled);
  EXPECT_FALSE(ParseRule(lines[6])->conditions[0].Valid());
}

TEST(MailSortFile, BadLinesAreNamedKeptAndWrittenBack) {
  px::test::TempHome home;
  const std::string file = home.path("mailsort.lst");
  px::test::writeFile(file,
                      "Good|OM /d/|F < ann\r\n"
                      "just a name\r\n"
                      "Bad action|OX /d/|F < ann\r\n"
                      "Bad relation|OM /d/|F = ann\r\n"
                      "Good|OM /d/|F < ann\r\n"
                      "Second|OD|S < spam\r\n");
  MessageQueue q;
  MailSortRules rules;
  rules.SetMessages(&q);
  LoadResult res = rules.Load(file);
  EXPECT_EQ(res.rules, 2u);  // the duplicate line counts once
  ASSERT_EQ(res.badLines.size(), 3u);
  EXPECT_NE(res.badLines[0].find("line 2: just a name"), std::string::npos);
  EXPECT_NE(res.badLines[1].find("line 3"), std::string::npos);
  EXPECT_NE(res.badLines[2].find("line 4"), std::string::npos);
  ASSERT_EQ(q.Pending().size(), 1u);
  EXPECT_NE(q.Pending().front().find("Bad relation|OM /d/|F = ann"), std::string::npos);
  // Saving keeps the unread lines as they were, after the rules.
  ASSERT_TRUE(rules.Save());
  EXPECT_EQ(px::test::readFile(file),
            "Good|OM /d/|F < ann\r\nSecond|OD|S < spam\r\njust a name\r\n"
            "Bad action|OX /d/|F < ann\r\nBad relation|OM /d/|F = ann\r\n");
}

TEST(MailSortFile, MissingFileGivesNoRules) {
  px::test::TempHome home;
  MailSortRules rules;
  EXPECT_EQ(rules.Load(home.path("nothing.lst")).rules, 0u);
  EXPECT_TRUE(rules.Rules().empty());
}

TEST(MailSortFile, StoredValuesAndNewNames) {
  EXPECT_EQ(StoredConditionValue("F", "\"Ann\" <Ann@Plumadex.NET>"), "ann");
  EXPECT_EQ(StoredConditionValue("FT", "Bob@Example.org"), "bob@example.org");
  EXPECT_EQ(StoredConditionValue("S", "A|B"), "A!B");
  MailSortRules rules;
  EXPECT_EQ(rules.NewRuleName(), "Rule 001");
  rules.Add(*ParseRule("Rule 001|OM /d/"));
  rules.Add(*ParseRule("rule 003|OM /d/"));
  EXPECT_EQ(rules.NewRuleName(), "Rule 002");
  rules.Add(*ParseRule("Rule 002|OM /d/"));
  EXPECT_EQ(rules.NewRuleName(), "Rule 004");
}

TEST(MailSortFile, ConditionsAsTheWindowShowsThem) {
  EXPECT_EQ(ConditionText({"FTC", true, "ann"}), "\"From\", \"To\" or \"Cc\" includes \"ann\"");
  EXPECT_EQ(ConditionText({"FT", false, "ann"}), "\"From\" and \"To\" does not include \"ann\"");
  EXPECT_EQ(ConditionText({"S", true, "x"}), "\"Subject\" includes \"x\"");
  EXPECT_EQ(ConditionText({"#", true, ""}), "(New condition)");
  EXPECT_EQ(ConditionText({"FQ", true, "x"}), "(Invalid condition)");
}

TEST(MailSortFile, TheWindowModelTicksARuleGivenItsFirstCondition) {
  MailSortRules rules;
  MailSortModel m(rules, "/d/", "/d/TRASH/");
  size_t r = m.New("/d/");
  EXPECT_EQ(m.At(r).folder, "/d/TRASH/");  // from the documents folder: the trash
  r = m.New("/d/Bank/");
  EXPECT_EQ(m.At(r).name, "Rule 002");
  m.SetEnabled(r, false);
  m.AddCondition(r, {"F", true, "News <NEWS@bank.example>"});
  EXPECT_TRUE(m.At(r).enabled);
  EXPECT_EQ(FormatRule(m.At(r)), "Rule 002|OM /d/Bank/|F < news@bank.example");
  EXPECT_EQ(m.MoveBy(r, -1), 0u);
  EXPECT_EQ(m.At(0).name, "Rule 002");
  EXPECT_EQ(m.MoveBy(0, -1), 0u);
}

// ---- evaluation --------------------------------------------------------------------------------

struct EvalCase {
  const char* rule;
  bool matches;
};

TEST(MailSortEval, FieldsRelationsAndCase) {
  px::test::TempHome home;
  const std::string body = home.path("body.txt");
  px::test::writeFile(body, "Dear customer,\r\nyour Invoice is overdue.\r\n");
  RuleMessage m;
  m.sender = "\"Ann Smith\" <Ann@Plumadex.net>";
  m.to = "bob@example.org, \"Carol\" <carol@example.org>";
  m.cc = "dave@example.org";
  m.bcc = "";
  m.subject = "Monthly Statement";
  m.account = "Work";
  m.bodyPath = body;
  m.bodyKind = "txt";
  const EvalCase cases[] = {
      {"r|OM /d/|F < ann", true},
      {"r|OM /d/|F < ANN@plumadex.net", true},  // stored values are reduced the same way
      {"r|OM /d/|F < bob@example.org", false},
      {"r|OM /d/|F > ann", false},
      {"r|OM /d/|F > bob@example.org", true},
      {"r|OM /d/|T < carol@example.org", true},
      {"r|OM /d/|T < dave@example.org", false},
      {"r|OM /d/|C < dave@example.org", true},
      {"r|OM /d/|B < dave@example.org", false},
      {"r|OM /d/|B > dave@example.org", true},
      {"r|OM /d/|S < Statement", true},
      {"r|OM /d/|S < statement", false},  // the subject test keeps case
      {"r|OM /d/|S > statement", true},
      {"r|OM /d/|X < invoice", true},      // the text ignores case
      {"r|OM /d/|X < refund", false},
      {"r|OM /d/|X > refund", true},
      {"r|OM /d/|A < work", true},
      {"r|OM /d/|A < Home", false},
      {"r|OM /d/|FT < bob@example.org", true},   // any chosen field
      {"r|OM /d/|FT > bob@example.org", false},  // does not include: neither field has it
      {"r|OM /d/|FT > zed@example.org", true},
      {"r|OM /d/|_ < x", false},
      {"r|OM /d/|_ > x", true},
      {"r|OM /d/|Q < x", false},
      {"r|OM /d/", false},                       // no conditions never match
      {"r|-OM /d/|F < ann", false},              // disabled
      {"r|AM /d/|F < ann|S < Monthly", true},
      {"r|AM /d/|F < ann|S < monthly", false},
      {"r|OM /d/|F < zed|S < Monthly", true},
      {"r|OM /d/|F < zed|S < monthly", false},
      {"r|AM /d/|F < ann|S > monthly", true},     // the Part's own example, lower-case word
      {"r|AM /d/|F < ann|S > Monthly", false},
  };
  MailSortRules rules;
  for (const auto& c : cases) {
    auto r = ParseRule(c.rule);
    ASSERT_TRUE(r) << c.rule;
    EXPECT_EQ(rules.RuleMatches(*r, m), c.matches) << c.rule;
  }
}

// A text source that counts its reads: the body is read once per message, not once per rule.
class CountingText final : public RuleTextSource {
public:
  int reads = 0;
  std::optional<std::string> TextOf(const std::string&, std::string_view) override {
    ++reads;
    return std::string("lottery winner");
  }
};

TEST(MailSortEval, TheBodyIsReadOncePerMessage) {
  MailSortRules rules;
  auto src = std::make_unique<CountingText>();
  CountingText* counter = src.get();
  rules.SetTextSource(std::move(src));
  for (int i = 0; i < 5; ++i) rules.Add(*ParseRule("r" + std::to_string(i) + "|OC /d" + std::to_string(i) + "/|X < lottery"));
  rules.Add(*ParseRule("spam|OD|X < winner"));
  mailformat::DescriptorTags tags;
  SortInput in{nullptr, &tags, "ann", "hi", "1", "/some/body.$$2"};
  std::vector<SortAction> actions;
  rules.Evaluate(in, actions);
  EXPECT_EQ(counter->reads, 1);
  EXPECT_EQ(actions.size(), 6u);
  rules.Evaluate(in, actions);  // the next message reads again
  EXPECT_EQ(counter->reads, 2);
}

// ---- folders and quick sort --------------------------------------------------------------------

TEST(MailSortFolders, RetargetingMovesRulesBelowTheFolderOnly) {
  px::test::TempHome home;
  MailSortRules rules;
  rules.Load(home.path("mailsort.lst"));
  rules.Add(*ParseRule("a|OM /d/Bank/|F < x"));
  rules.Add(*ParseRule("b|OC /d/Bank/2024/|F < y"));
  rules.Add(*ParseRule("c|OM /d/Banking/|F < z"));   // only a prefix of the name
  rules.Add(*ParseRule("d|OM /d/Bank/"));            // no conditions: left alone
  rules.Add(*ParseRule("e|OM /d/bank/|F < w"));      // another folder on Linux
  auto changed = rules.FolderMoved("/d/Bank/", "/d/Money/Bank/");
  EXPECT_EQ(changed, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(rules.Rules()[0].folder, "/d/Money/Bank/");
  EXPECT_EQ(rules.Rules()[1].folder, "/d/Money/Bank/2024/");
  EXPECT_EQ(rules.Rules()[2].folder, "/d/Banking/");
  EXPECT_EQ(rules.Rules()[3].folder, "/d/Bank/");
  // Saved at once.
  EXPECT_NE(px::test::readFile(home.path("mailsort.lst")).find("a|OM /d/Money/Bank/|F < x"), std::string::npos);
}

TEST(MailSortFolders, QuickSortTwiceMakesOneRuleWithBothSenders) {
  px::test::TempHome home;
  MessageQueue q;
  MailSortRules rules;
  rules.SetMessages(&q);
  rules.SetDocumentsFolder("/d/");
  rules.Load(home.path("mailsort.lst"));
  rules.Add(*ParseRule("Other|OM /d/Finance/"));  // no conditions: not reused
  EXPECT_EQ(rules.QuickSort({"\"Bank\" <News@Bank.example>"}, "/d/Finance/"), "Quick Sort for Finance");
  EXPECT_EQ(rules.QuickSort({"news@bank.example", "ann@plumadex.net"}, "/d/Finance"), "Quick Sort for Finance");
  ASSERT_EQ(rules.Rules().size(), 2u);
  EXPECT_EQ(FormatRule(rules.Rules()[1]), "Quick Sort for Finance|OM /d/Finance/|F < news@bank.example|F < ann");
  ASSERT_EQ(q.Pending().size(), 2u);
  EXPECT_EQ(q.Pending().back().substr(0, q.Pending().back().find_last_not_of("\x01\x02\x03") + 1),
            "Incoming messages from news@bank.example, ann will be placed into the folder 'Finance'. "
            "The corresponding sorting rule is named 'Quick Sort for Finance'");
  EXPECT_NE(px::test::readFile(home.path("mailsort.lst")).find("|F < ann\r\n"), std::string::npos);
}

// ---- the filer with real rules -----------------------------------------------------------------

struct RulesFiler : FilerFixture {
  MailSortRules sortRules;
  void SetUp() override {
    FilerFixture::SetUp();
    sortRules.SetMessages(&messages);
    sortRules.SetDocumentsFolder(docs);
    sortRules.Load(data + "mailsort.lst");
    rules = &sortRules;
  }
  void add(const std::string& line) { ASSERT_TRUE(sortRules.Add(*ParseRule(line))) << line; }
};

TEST_F(RulesFiler, MailLandsWhereTheRulesSayOnce) {
  px::test::makeDirs(docs + "Finance/");
  px::test::makeDirs(docs + "Archive/");
  add("Bank|OM " + docs + "Finance/|F < news@bank.example");
  add("Keep|OC " + docs + "Archive/|A < work");
  add("Spam|OD|X < casino");
  add("Text|OM " + docs + "Finance/|X < invoice");
  pair("News <news@bank.example>", "txt", "Statement", {"MsgID: 1:001/2"}, "your statement");
  pair("News <news@bank.example>", "pdf", "st.pdf", {"MsgID: 1:002/2"}, "%PDF");
  pair("ann@work.example", "txt", "Minutes", {"MsgID: 2:001", "X-Plumadex-Account: Work"}, "minutes");
  pair("spam@x.example", "txt", "Hi", {"MsgID: 3:001"}, "CASINO bonus");
  pair("bob@example.org", "htm", "Bill", {"MsgID: 4:001"}, "<P>Your <B>Invoice</B></P>");
  pair("carol@example.org", "txt", "Hello", {"MsgID: 5:001"}, "hello");
  FilingReport r = runFiler();
  EXPECT_TRUE(r.errors.empty());
  EXPECT_TRUE(exists(docs + "Finance/Statement.txt"));
  EXPECT_TRUE(exists(docs + "Finance/st.pdf"));
  EXPECT_TRUE(exists(docs + "Finance/Bill.htm"));
  EXPECT_FALSE(exists(docs + "Statement.txt"));
  EXPECT_TRUE(exists(docs + "Minutes.txt"));
  EXPECT_TRUE(exists(docs + "Archive/Minutes.txt"));
  EXPECT_TRUE(exists(trash + "Hi.txt"));  // deleted into the trash, never erased
  EXPECT_FALSE(exists(docs + "Hi.txt"));
  EXPECT_TRUE(exists(docs + "Hello.txt"));
  // Once: nothing twice, nothing in the trash but the spam, the spool empty.
  EXPECT_FALSE(exists(docs + "Finance/Statement (2).txt"));
  EXPECT_FALSE(exists(trash + "Statement.txt"));
  EXPECT_TRUE(spoolFiles().empty());
  EXPECT_EQ(sections(docs + "Finance/").size(), 3u);
  EXPECT_EQ(value(docs + "Finance/", "Statement.txt", "MsgID"), "1:001/2");
  // A second run files nothing again.
  FilingReport again = runFiler();
  EXPECT_EQ(again.documents, 0u);
  EXPECT_EQ(sections(docs + "Finance/").size(), 3u);
}

TEST_F(RulesFiler, AGoneFolderLeavesMailInTheDocumentsFolderAndSaysSoOnce) {
  add("Gone|OM " + docs + "Gone/|S < report");
  add("Gone too|OC " + docs + "Vanished/|S < report");
  pair("ann", "txt", "report 1", {"MsgID: 10:001"}, "a");
  pair("ann", "txt", "report 2", {"MsgID: 11:001"}, "b");
  runFiler();
  EXPECT_TRUE(exists(docs + "report 1.txt"));
  EXPECT_TRUE(exists(docs + "report 2.txt"));
  EXPECT_FALSE(exists(docs + "Gone/"));
  EXPECT_TRUE(sections(trash).empty());
  auto notices = [this] {
    size_t n = 0;
    for (const auto& m : messages.Pending()) n += m.find("no longer exists") != std::string::npos;
    return n;
  };
  EXPECT_EQ(notices(), 2u);  // one per rule, not one per message
  pair("ann", "txt", "report 3", {"MsgID: 12:001"}, "c");
  runFiler();
  EXPECT_TRUE(exists(docs + "report 3.txt"));
  EXPECT_EQ(notices(), 2u);
}

TEST_F(RulesFiler, ApplyRulesNowSortsAFolderAndTheTestChangesNothing) {
  px::test::makeDirs(docs + "Finance/");
  pair("news@bank.example", "txt", "Old statement", {"MsgID: 20:001"}, "s");
  pair("ann", "txt", "Old spam", {"MsgID: 21:001"}, "s");
  pair("ann", "txt", "Stays", {"MsgID: 22:001"}, "s");
  runFiler();  // no rules yet
  ASSERT_TRUE(exists(docs + "Old statement.txt"));
  add("Bank|OM " + docs + "Finance/|F < news@bank.example");
  add("Spam|OD|S < spam");
  ApplyRulesResult t = TestRulesOnFolder(sortRules, registry, docs);
  ASSERT_EQ(t.hits.size(), 2u);
  std::map<std::string, std::string> ruleOf;
  for (const auto& h : t.hits) ruleOf[h.title] = h.rule;
  EXPECT_EQ(ruleOf, (std::map<std::string, std::string>{{"Old statement", "Bank"}, {"Old spam", "Spam"}}));
  EXPECT_TRUE(exists(docs + "Old statement.txt"));  // a test moves nothing
  // One rule alone, tested before it is ticked.
  SortRule off = *ParseRule("Off|-OM " + docs + "Finance/|S < Stays");
  EXPECT_EQ(TestRulesOnFolder(sortRules, registry, docs, &off).hits.size(), 1u);

  store::OpServices os;
  os.registry = &registry;
  os.random = &random;
  os.messages = &messages;
  os.unread = &unread;
  os.documentsFolder = docs;
  os.trashFolder = trash;
  ApplyRulesResult a = ApplyRulesToFolder(sortRules, os, docs);
  EXPECT_EQ(a.moved, 1u);
  EXPECT_EQ(a.trashed, 1u);
  EXPECT_TRUE(exists(docs + "Finance/Old statement.txt"));
  EXPECT_FALSE(exists(docs + "Old statement.txt"));
  EXPECT_TRUE(exists(trash + "Old spam.txt"));
  EXPECT_TRUE(exists(docs + "Stays.txt"));
  EXPECT_FALSE(exists(trash + "Old statement.txt"));
}

// Mail of one part may be filed or imported without a MsgID; the rules still see it.
TEST_F(RulesFiler, ApplyRulesNowTakesReceivedMailWithoutAMessageId) {
  px::test::writeFile(docs + "Lone.txt", "hello");
  px::test::writeFile(docs + "Plumadex.ini", "[Lone.txt]\r\nFlags=4097\r\nAddress=news@bank.example\r\n");
  px::test::writeFile(docs + "Own note.txt", "mine");
  add("Bank|OM " + docs + "Finance/|F < news@bank.example");
  ApplyRulesResult t = TestRulesOnFolder(sortRules, registry, docs);
  ASSERT_EQ(t.hits.size(), 1u);
  EXPECT_EQ(t.hits[0].title, "Lone");
}

}  // namespace
}  // namespace px::incoming::test
