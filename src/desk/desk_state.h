#pragma once
// The desk's process-wide state: one object, created by the desk and passed explicitly to
// whatever needs it. Subsystems add their own members here as they are built (keep it a plain
// aggregate of owned objects and non-owning pointers).
#include "foundation/locations.h"
#include "foundation/message_queue.h"
#include "foundation/settings.h"
#include "incoming/blocked_senders.h"
#include "incoming/mail_sort.h"
#include "platform/mail_client.h"
#include "platform/registry.h"
#include "store/index_file.h"
#include "store/newmail_list.h"
#include "store/run_mark.h"
#include "store/unread_list.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace px::contacts {
class AddressMap;
}
namespace px::skins {
class SkinEngine;
}

namespace px::desk {

struct DeskState {
  DeskState() = default;
  DeskState(const DeskState&) = delete;
  DeskState& operator=(const DeskState&) = delete;

  // Data locations, fixed at start-up.
  Locations locations;
  // User.ini, open for the whole run.
  Settings settings;
  // The message window's queue (its presenter is set by the widget layer).
  MessageQueue messages;
  // Open index files and their aliases.
  store::IniRegistry indexRegistry;
  // Registry values (INI-backed); set at start-up, tests may use a MemoryRegistry.
  std::unique_ptr<platform::Registry> registry;

  // Start-up facts.
  std::vector<std::string> arguments;      // command-line arguments without the program name
  std::string previousVersion;             // `Version` found in the registry at start-up
  bool checkVersionMarker = false;         // `Check Version` was present at start-up
  std::string userId;                      // User/ID, cleared at shutdown
  std::string ownFromAddress;              // see OwnFromAddress; recomputed after options
  std::string tlsRoots;                    // plumadex.pem of the program folder

  // Run state.
  bool initialised = false;  // InitDesk has finished
  bool closing = false;      // the close query was accepted
  bool busy = false;         // a long operation runs (close refused)

  // The mailto handler taken over at start-up and given back at exit.
  std::optional<platform::DefaultMailClient> mailClient;

  // The process-wide lists, owned here and nowhere else: made during start-up (the desk
  // controller's step 21 and 23), saved and dropped at shutdown.
  std::unique_ptr<store::RunMark> runMark;  // this run's mark in the data root's Runs/
  std::unique_ptr<store::UnreadList> unreadList;
  std::unique_ptr<store::NewMailList> newMailList;
  std::unique_ptr<store::TPXIniFile> sentIni;  // sent.ini, open for the whole run
  std::vector<std::string> pendingFolders; // folders holding pending mail
  // The blocked senders (blacklist.lst): made with the desk's mail side and loaded once the
  // data root is known; the receive workers read it (every access is locked).
  std::unique_ptr<incoming::BlockedSenders> blockedSenders;
  // The mail sorting rules (mailsort.lst): made and loaded with the blocked senders; filing,
  // folder moves and renames, quick sort and the rules window use them on the main thread.
  std::unique_ptr<incoming::MailSortRules> sortRules;
  // Engines other subsystems build; owned by them, set during start-up.
  contacts::AddressMap* addressMap = nullptr;
  skins::SkinEngine* skinEngine = nullptr;
};

}  // namespace px::desk
