// The local address list: what a folder's rows give (quick list, persons, hiding), and the
// worker under a stress of folder switches: the result published is always the newest wake's.
#include "contacts/local_addr.h"
#include "store/doc_record.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace px;
using namespace px::contacts;

namespace {

std::shared_ptr<const AddressMap::Map> Map() {
  AddressMap m;
  m.Insert("ann@x", {"ann.vcf", "Ann Lee", true});
  m.Insert("ann@work", {"ann.vcf", "Ann Lee", false});
  m.Insert("bob@x", {"bob.vcf", "Bob", true});
  m.Insert("team (group)", {"Team.", "Team (GROUP)", true});
  return m.Snapshot();
}

LocalAddrInput Input(std::vector<LocalRow> rows) {
  LocalAddrInput in;
  in.folder = "/f/";
  in.rows = std::move(rows);
  in.map = Map();
  in.ownId = "me";
  in.contactEmails = [](std::string_view section) {
    return section == "ann.vcf" ? StringList{"ann@x", "ann@work"} : StringList{"bob@x"};
  };
  in.groupMembers = [](std::string_view) { return StringList{"\"Bob\" <bob@x>", "\"Cy\" <cy@x>"}; };
  return in;
}

std::vector<std::string> Names(const std::vector<const LocalPerson*>& v) {
  std::vector<std::string> out;
  for (const LocalPerson* p : v) out.push_back(p->name);
  return out;
}

}  // namespace

TEST(LocalAddresses, QuickListPersonsAndOwnAddress) {
  const auto r = ComputeLocalAddresses(
      Input({
          {"\"Ann\" <ANN@x>", "carl@x", "", store::dfReceived},       // sender + Cc of received mail
          {"ann@work, Team (GROUP)", "bob@x", "dora@x", store::dfOutgoing},  // Cc of outgoing: quick list only
          {"me", "", "", store::dfReceived},                           // the user's own name
          {"\"Stranger\" <s@y>", "", "", store::dfReceived},
      }),
      7, [] { return false; });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->generation, 7u);
  EXPECT_EQ(r->quickList, (StringList{"ann@work", "ann@x", "bob@x", "team (group)"}));
  std::vector<std::string> names;
  for (const auto& p : r->persons) names.push_back(p.name);
  // Ann once (two of her addresses met), with all her card's addresses; the group with members.
  EXPECT_EQ(names, (std::vector<std::string>{"Ann Lee", "carl@x", "Stranger", "Team (GROUP)"}));
  const LocalPerson& ann = r->persons[0];
  ASSERT_EQ(ann.addresses.size(), 2u);
  EXPECT_EQ(ann.addresses[1].entry, "\"Ann Lee\" <ann@work>");
  EXPECT_FALSE(ann.unknown);
  EXPECT_TRUE(r->persons[1].unknown);
  EXPECT_EQ(r->persons[2].entry, "\"Stranger\" <s@y>");
  EXPECT_TRUE(r->persons[3].group);
  EXPECT_EQ(r->persons[3].addresses.size(), 2u);
}

TEST(LocalAddresses, HidingIsPerFolderList) {
  const auto r = ComputeLocalAddresses(Input({{"ann@x, s@y, Team (GROUP)", "", "", store::dfReceived}}), 1,
                                       [] { return false; });
  ASSERT_TRUE(r);
  std::string hidden;  // this folder's `Hide Contacts`
  ActivityMenuModel m = BuildActivityMenu(*r, hidden);
  EXPECT_EQ(Names(m.top), (std::vector<std::string>{"Ann Lee", "s@y", "Team (GROUP)"}));
  EXPECT_TRUE(m.other.empty());
  EXPECT_TRUE(HidePerson(r->persons[0], hidden));
  EXPECT_EQ(hidden, "ann@x");
  EXPECT_FALSE(HidePerson(r->persons[0], hidden));
  // A group is hidden when any member is: hiding Bob (a member) in this folder hides the group.
  hidden += ",bob@x";
  m = BuildActivityMenu(*r, hidden);
  EXPECT_EQ(Names(m.top), (std::vector<std::string>{"s@y"}));
  EXPECT_EQ(Names(m.other), (std::vector<std::string>{"Ann Lee", "Team (GROUP)"}));
  EXPECT_TRUE(ShowPerson(r->persons[0], hidden));
  EXPECT_EQ(hidden, "bob@x");
  // Another folder's list knows nothing of it.
  EXPECT_EQ(Names(BuildActivityMenu(*r, "").top).size(), 3u);
}

TEST(LocalAddresses, StaleRunPublishesNothing) {
  int calls = 0;
  EXPECT_EQ(ComputeLocalAddresses(Input({{"a@x", "", "", 0}, {"b@x", "", "", 0}}), 1,
                                  [&] { return ++calls > 1; }),
            nullptr);
}

TEST(LocalAddressThread, FolderSwitchStressShowsNoStaleList) {
  TLocalAddrThread worker;
  std::vector<uint64_t> published;
  QObject::connect(&worker, &TLocalAddrThread::Published, &worker,
                   [&](quint64 g) {
                     published.push_back(g);
                     // A result always describes the folder of its own wake.
                     if (auto l = worker.Latest(); l && l->generation == g) {
                       EXPECT_EQ(l->folder, "/f" + std::to_string(g - 1) + "/");
                     }
                   });
  // Each "folder" names one sender: the folder's number. Slow card reads make runs overlap the wakes.
  auto folder = [](int i) {
    LocalAddrInput in = Input({});
    in.folder = "/f" + std::to_string(i) + "/";
    for (int k = 0; k < 50; ++k) in.rows.push_back({"\"P" + std::to_string(i) + "\" <p" + std::to_string(i) + "@x>, ann@x", "", "", store::dfReceived});
    in.contactEmails = [](std::string_view) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      return StringList{"ann@x"};
    };
    return in;
  };
  uint64_t last = 0;
  for (int i = 0; i < 300; ++i) {
    last = worker.Wake(folder(i));
    // Whatever is published meanwhile is never shown as the folder's list unless it is current.
    if (auto cur = worker.Current()) {
      EXPECT_EQ(cur->folder, "/f" + std::to_string(i) + "/");
    }
    if (i % 7 == 0) QCoreApplication::processEvents();
  }
  EXPECT_EQ(last, 300u);
  EXPECT_EQ(worker.Generation(), 300u);
  QElapsedTimer t;
  t.start();
  while (!worker.Current() && t.elapsed() < 10000) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  QCoreApplication::processEvents();
  auto cur = worker.Current();
  ASSERT_TRUE(cur);
  EXPECT_EQ(cur->generation, 300u);
  EXPECT_EQ(cur->folder, "/f299/");
  ASSERT_EQ(cur->persons.size(), 2u);
  EXPECT_EQ(cur->persons[1].name, "P299");
  // Published generations only grow, and the newest is the last one told.
  ASSERT_FALSE(published.empty());
  EXPECT_TRUE(std::is_sorted(published.begin(), published.end()));
  EXPECT_EQ(published.back(), 300u);
  EXPECT_GT(worker.RunsAbandoned() + (300 - worker.RunsDone()), 0u);  // most runs never finished
  worker.Stop();
  EXPECT_EQ(worker.Generation(), 300u);
}
