#pragma once
// The local address list: what the program knows about the people of the shown folder. A
// worker (TLocalAddrThread) derives from the folder's rows, each time they change, the quick
// list (the known contacts and groups that occur in the folder, for the compose window) and the
// persons of the Activity Contacts menu. Each run works on an immutable input handed over by
// Wake and publishes an immutable result stamped with its generation; a newer wake makes a run
// stop at its next element, so a stale list is never published.
#include "contacts/address_map.h"
#include "foundation/types.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace px::contacts {

// What a row of the listing contributes.
struct LocalRow {
  std::string address;  // `Address`
  std::string cc, bcc;
  int flags = 0;
};

struct LocalAddrInput {
  std::string folder;                       // the shown folder
  std::vector<LocalRow> rows;
  std::shared_ptr<const AddressMap::Map> map;
  std::string ownId;                        // the user's service user name (`ID`)
  bool firstNameFirst = true;
  // Read on the worker: the members of a group (by section name) and the e-mails of a contact
  // card (primary first). Must be safe to call from another thread.
  std::function<StringList(std::string_view groupSection)> groupMembers;
  std::function<StringList(std::string_view contactSection)> contactEmails;
};

struct LocalPerson {
  std::string name;        // caption: the contact's or group's display name, or as written
  bool group = false;
  bool unknown = false;    // not in the address map
  std::string entry;       // what the person item addresses ("Name" <address>, or the group)
  // One sub-item per address: the text shown and the entry it addresses.
  struct Address {
    std::string shown;
    std::string entry;
    std::string bare;      // lower-case bare address (hidden-list test)
  };
  std::vector<Address> addresses;
};

struct LocalAddrResult {
  uint64_t generation = 0;
  std::string folder;
  StringList quickList;             // address-map keys, sorted, no duplicates
  std::vector<LocalPerson> persons; // sorted by name, then addresses
};

// One run. `stale` is asked between elements; when it answers true the run stops and
// returns nullptr.
std::shared_ptr<const LocalAddrResult> ComputeLocalAddresses(const LocalAddrInput& in, uint64_t generation,
                                                             const std::function<bool()>& stale);

// The person is hidden in the folder whose `Hide Contacts` is hiddenList (any of its addresses).
bool PersonHidden(const LocalPerson& p, std::string_view hiddenList);
// Hide / Show: the lower-case bare address the person is known by, added to or removed from
// the list. True when the list changed.
bool HidePerson(const LocalPerson& p, std::string& hiddenList);
bool ShowPerson(const LocalPerson& p, std::string& hiddenList);

// The Activity Contacts menu as data: persons in the top level and under "Other...".
struct ActivityMenuModel {
  std::vector<const LocalPerson*> top;
  std::vector<const LocalPerson*> other;  // "Other..." is shown only when this is not empty
};
ActivityMenuModel BuildActivityMenu(const LocalAddrResult& r, std::string_view hiddenList);

class TLocalAddrThread : public QObject {
  Q_OBJECT
public:
  explicit TLocalAddrThread(QObject* parent = nullptr);
  ~TLocalAddrThread() override;

  // Hands the worker a new input and returns its generation; a run in progress is abandoned.
  uint64_t Wake(LocalAddrInput input);
  // The generation of the newest wake.
  uint64_t Generation() const { return generation_.load(); }
  // The last published result (nullptr before the first); never a half-built one.
  std::shared_ptr<const LocalAddrResult> Latest() const;
  // The result of the newest wake when it is published, else nullptr (the caller waits for
  // Published instead of blocking).
  std::shared_ptr<const LocalAddrResult> Current() const;
  // Ends the worker (also done by the destructor).
  void Stop();
  // Runs done and abandoned (tests).
  uint64_t RunsDone() const { return done_.load(); }
  uint64_t RunsAbandoned() const { return abandoned_.load(); }

signals:
  // A run finished for `generation`: Latest() holds its result. Emitted from the worker, so
  // receivers on the main thread get it queued.
  void Published(quint64 generation);

private:
  void Loop();

  std::atomic<uint64_t> generation_{0};
  std::atomic<uint64_t> done_{0}, abandoned_{0};
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::shared_ptr<const LocalAddrInput> input_;  // guarded by mutex_
  std::shared_ptr<const LocalAddrResult> latest_;  // guarded by mutex_
  std::atomic<bool> stop_{false};  // set under mutex_, read by the run between elements
  std::thread thread_;
};

}  // namespace px::contacts
