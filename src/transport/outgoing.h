#pragma once
// The outgoing register `sent.ini` read on the main thread: which messages wait, made into a
// snapshot that the send thread works on alone.
//
// Taking the snapshot also does the register's housekeeping (sections of documents that are
// gone, in the trash or without an index entry are erased) and the renumbering of parts
// (base:k/N in the documents and the register), then saves the register, so the send thread
// never writes the store. Messages come out in the order their smallest identifier sorts.
#include "foundation/address.h"
#include "foundation/file_status.h"
#include "foundation/types.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace px {
class RandomSource;
}
namespace px {
class TPXCustomIni;
}  // namespace px
namespace px::store {
class IniRegistry;
}  // namespace px::store

namespace px::transport {

class Crypto;

inline constexpr std::string_view kRegisterPrefix = "$$$LNK.";

struct OutgoingPart {
  std::string registerSection;  // "$$$LNK." + msgId
  std::string folder;           // ends in "/"
  std::string docSection;       // the entry in the folder's index (with its tag prefix)
  std::string fileName;         // the entry's name without its prefix
  std::string filePath;
  uint64_t fileSize = 0;
  int flags = 0;
  std::string title, charset, msgId, from, original;
  std::string inReplyTo, references;  // a reply's thread headers ("<...>" ids)
};

struct OutgoingMessage {
  std::string base;
  std::vector<OutgoingPart> parts;
  // The first part's stored lists (later parts take them when the message is stamped).
  std::string address, cc, bcc, excludeTo;
  // Recipients, groups expanded, less ExcludeTo, in their stored display form.
  StringList to, ccList, bccList;
  // Recipients (bare, lower case) that an earlier delivery settled: taken by the server, or
  // refused for good. The register keeps them (keys `Accepted` and `Refused`, comma lists);
  // the message is sent again only to the others.
  std::set<std::string> acceptedFor, refusedFor;
  bool sameService = false;  // some recipient is a user of the service
  uint64_t estimate = 0;     // bytes of its files + 1000 per part
};

struct SendSnapshot {
  std::vector<OutgoingMessage> messages;
  std::vector<std::string> warnings;  // parts held back or dropped, for the user
  FileStatus saveError;               // the register or an index could not be saved
  uint64_t estimate = 0;
};

struct SnapshotInputs {
  TPXCustomIni* sent = nullptr;
  store::IniRegistry* registry = nullptr;
  RandomSource* random = nullptr;
  const Crypto* crypto = nullptr;
  std::string trashFolder;          // ends in "/"
  std::string ownFromAddress;       // From of parts that have none
  GroupMembersFn groupMembers;      // null: groups stay as they are
  std::set<std::string> onlyBases;  // the send-only filter (empty: everything)
};

// The register keys of recipients already settled (see OutgoingMessage).
inline constexpr std::string_view kAcceptedKey = "Accepted";
inline constexpr std::string_view kRefusedKey = "Refused";

// Adds bare addresses (lower-cased) to the register's `Accepted` / `Refused` lists of every
// part of the message and saves the register; "" or the save error.
std::string RecordSettledRecipients(const OutgoingMessage& message, const std::vector<std::string>& accepted,
                                    const std::vector<std::string>& refused, TPXCustomIni& sent);

// Some register section waits: no `Sent` and its Flags pending (the start check of a run).
bool HasPendingMail(const TPXCustomIni& sent);

SendSnapshot TakeSendSnapshot(const SnapshotInputs& in);

// The recipients of a stored list: groups expanded less excludeTo, in display form.
StringList ExpandRecipients(std::string_view list, std::string_view excludeTo, const GroupMembersFn& groups);

}  // namespace px::transport
