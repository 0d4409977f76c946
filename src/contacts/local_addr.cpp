#include "contacts/local_addr.h"

#include "foundation/address.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/doc_record.h"

#include <algorithm>
#include <set>

namespace px::contacts {

namespace {

const AddrAliasRec* FindIn(const AddressMap::Map& map, std::string_view element) {
  std::string key;
  if (IsGroupAddress(element)) key = LowerCase(Trim(DisplayNameOf(element)) + std::string(kGroupSuffix));
  else key = AddressKey(element);
  auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

std::string KeyOf(std::string_view element) {
  if (IsGroupAddress(element)) return LowerCase(Trim(DisplayNameOf(element)) + std::string(kGroupSuffix));
  return AddressKey(element);
}

bool PersonLess(const LocalPerson& a, const LocalPerson& b) {
  if (int c = CompareText(a.name, b.name)) return c < 0;
  const size_t n = std::min(a.addresses.size(), b.addresses.size());
  for (size_t i = 0; i < n; ++i)
    if (int c = CompareText(a.addresses[i].entry, b.addresses[i].entry)) return c < 0;
  return a.addresses.size() < b.addresses.size();
}

bool SamePerson(const LocalPerson& a, const LocalPerson& b) { return !PersonLess(a, b) && !PersonLess(b, a); }

}  // namespace

std::shared_ptr<const LocalAddrResult> ComputeLocalAddresses(const LocalAddrInput& in, uint64_t generation,
                                                             const std::function<bool()>& stale) {
  auto out = std::make_shared<LocalAddrResult>();
  out->generation = generation;
  out->folder = in.folder;
  static const AddressMap::Map kEmpty;
  const AddressMap::Map& map = in.map ? *in.map : kEmpty;

  // Received mail brings its sender, Cc and Bcc into the menu; outgoing mail only its recipients.
  std::string a, b;
  for (const LocalRow& r : in.rows) {
    if (stale()) return nullptr;
    if (!r.address.empty()) a += ", " + r.address;
    std::string& more = (r.flags & store::dfReceived) ? a : b;
    if (!r.cc.empty()) more += ", " + r.cc;
    if (!r.bcc.empty()) more += ", " + r.bcc;
  }

  std::set<std::string> quick;
  for (const std::string& e : ParseAddressList(a + b)) {
    if (stale()) return nullptr;
    const std::string key = KeyOf(e);
    if (!key.empty() && map.count(key)) quick.insert(key);
  }
  out->quickList.assign(quick.begin(), quick.end());
  std::sort(out->quickList.begin(), out->quickList.end(),
            [](const std::string& x, const std::string& y) { return CompareText(x, y) < 0; });

  const std::string own = LowerCase(in.ownId);
  std::vector<LocalPerson> persons;
  std::set<std::string> seenKeys;
  for (const std::string& e : ParseAddressList(a)) {
    if (stale()) return nullptr;
    const std::string bare = BareAddressOf(e);
    if (!own.empty() && LowerCase(bare) == own) continue;
    const std::string key = KeyOf(e);
    // A known person met again is the same person: read the card once.
    const AddrAliasRec* rec = FindIn(map, e);
    if (rec && !seenKeys.insert(rec->section).second) continue;
    LocalPerson p;
    if (!rec) {
      p.unknown = true;
      p.name = DisplayNameOf(e);
      if (p.name.empty()) p.name = bare;
      p.entry = FormatAddressElement(DisplayNameOf(e), bare);
      p.addresses.push_back({bare, p.entry, LowerCase(bare)});
    } else if (IsGroupSection(rec->section)) {
      p.group = true;
      p.name = rec->displayName;
      p.entry = rec->displayName;
      const StringList members = in.groupMembers ? in.groupMembers(rec->section) : StringList{};
      for (const std::string& m : members) p.addresses.push_back({m, m, LowerCase(BareAddressOf(m))});
    } else {
      p.name = rec->displayName;
      StringList emails = in.contactEmails ? in.contactEmails(rec->section) : StringList{};
      if (emails.empty()) emails.push_back(bare);
      const std::string shownName = FormatPersonName(rec->displayName, in.firstNameFirst);
      for (const std::string& addr : emails) {
        const std::string entry = FormatAddressElement(shownName, addr);
        p.addresses.push_back({addr, entry, LowerCase(BareAddressOf(addr))});
      }
      p.entry = p.addresses.front().entry;
    }
    (void)key;
    persons.push_back(std::move(p));
  }
  if (stale()) return nullptr;
  std::sort(persons.begin(), persons.end(), PersonLess);
  persons.erase(std::unique(persons.begin(), persons.end(), SamePerson), persons.end());
  out->persons = std::move(persons);
  return out;
}

bool PersonHidden(const LocalPerson& p, std::string_view hiddenList) {
  for (const auto& a : p.addresses)
    if (!a.bare.empty() && CommaListContains(a.bare, hiddenList)) return true;
  return false;
}

bool HidePerson(const LocalPerson& p, std::string& hiddenList) {
  if (p.addresses.empty() || PersonHidden(p, hiddenList)) return false;
  return CommaListAdd(p.addresses.front().bare, hiddenList);
}

bool ShowPerson(const LocalPerson& p, std::string& hiddenList) {
  bool changed = false;
  for (const auto& a : p.addresses)
    while (!a.bare.empty() && CommaListRemove(a.bare, hiddenList)) changed = true;
  return changed;
}

ActivityMenuModel BuildActivityMenu(const LocalAddrResult& r, std::string_view hiddenList) {
  ActivityMenuModel m;
  for (const LocalPerson& p : r.persons) (PersonHidden(p, hiddenList) ? m.other : m.top).push_back(&p);
  return m;
}

// ---------------- the worker ----------------

TLocalAddrThread::TLocalAddrThread(QObject* parent) : QObject(parent) {
  thread_ = std::thread([this] { Loop(); });
}

TLocalAddrThread::~TLocalAddrThread() { Stop(); }

void TLocalAddrThread::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

uint64_t TLocalAddrThread::Wake(LocalAddrInput input) {
  auto shared = std::make_shared<const LocalAddrInput>(std::move(input));
  uint64_t g;
  {
    std::lock_guard lock(mutex_);
    input_ = std::move(shared);
    g = generation_.fetch_add(1) + 1;
  }
  wake_.notify_one();
  return g;
}

std::shared_ptr<const LocalAddrResult> TLocalAddrThread::Latest() const {
  std::lock_guard lock(mutex_);
  return latest_;
}

std::shared_ptr<const LocalAddrResult> TLocalAddrThread::Current() const {
  std::lock_guard lock(mutex_);
  return latest_ && latest_->generation == generation_.load() ? latest_ : nullptr;
}

void TLocalAddrThread::Loop() {
  uint64_t lastRun = 0;
  for (;;) {
    std::shared_ptr<const LocalAddrInput> input;
    uint64_t run = 0;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || (generation_.load() != lastRun && input_); });
      if (stop_) return;
      run = generation_.load();
      input = input_;
    }
    lastRun = run;
    auto stale = [&] { return generation_.load(std::memory_order_relaxed) != run || stop_.load(std::memory_order_relaxed); };
    std::shared_ptr<const LocalAddrResult> result = ComputeLocalAddresses(*input, run, stale);
    bool publish = false;
    {
      std::lock_guard lock(mutex_);
      // Published only while still the newest: a wake after the last check makes it stale too.
      if (result && generation_.load() == run && !stop_) {
        latest_ = result;
        publish = true;
      }
    }
    if (publish) {
      ++done_;
      emit Published(run);
    } else {
      ++abandoned_;
    }
  }
}

}  // namespace px::contacts
