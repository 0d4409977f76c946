#pragma once
// The document record: one row of a folder listing, as the grid shows it, the search runs over
// it and every document operation starts from it. Also the flag bits of an index entry and the
// reduced record that an operation works on (the selection snapshot).
#include "foundation/types.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace px::store {

// Bits of the `Flags` key of an index entry (16 bits are stored; kept in an int).
inline constexpr int dfSealed = 0x0001;
inline constexpr int dfColourMask = 0x001E;  // colour label: (Flags >> 1) & 15
inline constexpr int dfEncrypted = 0x0040;
inline constexpr int dfResent = 0x0080;
inline constexpr int dfCollapsed = 0x0100;
inline constexpr int dfUnread = 0x0200;
inline constexpr int dfPending = 0x0400;
inline constexpr int dfReceived = 0x1000;
inline constexpr int dfOutgoing = 0x2000;
inline constexpr int dfDraft = 0x4000;
inline constexpr int dfMailMask = dfReceived | dfOutgoing;
// Bits with no meaning of their own here, carried along unchanged wherever flags are copied.
inline constexpr int dfCarried = 0x0020 | 0x0800 | 0x8000;
// The bits an index entry stores.
inline constexpr int dfStoredMask = 0xFFFF;
// An entry put into the outbox keeps these bits and becomes pending outgoing mail.
inline constexpr int dfKeptForOutbox = dfSealed | dfCarried | dfCollapsed | dfDraft;
inline constexpr int dfQueuedOutgoing = dfOutgoing | dfPending;

// Received mail is filed with these flags (a received contact card without dfSealed).
inline constexpr int dfReceivedMail = 0x1201;
inline constexpr int dfReceivedCard = 0x1200;

// Pending means waiting to be sent and not a draft.
inline constexpr bool IsPendingFlags(int flags) { return (flags & (dfDraft | dfPending)) == dfPending; }
inline constexpr int ColourOfFlags(int flags) { return (flags >> 1) & 15; }
inline constexpr bool IsMailFlags(int flags) { return (flags & dfMailMask) != 0; }

// Tag prefixes of index section names.
inline constexpr std::string_view kContactRefPrefix = "$$$AB.";
inline constexpr std::string_view kLinkPrefix = "$$$LNK.";
// Section of a folder index that describes the folder itself.
inline constexpr std::string_view kFolderSection = "$$.Plumadex";
// Key of kFolderSection: the lower-case bare addresses hidden from the folder's contact menu.
inline constexpr std::string_view kHideContactsKey = "Hide Contacts";

// Row state bits (searchState).
inline constexpr int rsSearchMiss = 0x001;     // filtered out by the search
inline constexpr int rsHasChildren = 0x002;
inline constexpr int rsChild = 0x004;
inline constexpr int rsViewHidden = 0x008;     // hidden by the view filter
inline constexpr int rsBundleMatch = 0x010;    // matched as member of a message bundle
inline constexpr int rsCollapsedChild = 0x100; // child of a collapsed row
inline constexpr int rsInvisible = rsSearchMiss | rsViewHidden | rsCollapsedChild;

// rowKind of a listed record.
inline constexpr uint8_t kRowListed = 3;

// Contacts are dated this far after "now", so they sort apart from dated documents.
inline constexpr double kContactDateOffset = 100000.0;

// The index keys that a record carries besides the main ones. They are rare on most rows, so
// a record stores only those that are present.
enum class DocKey : uint8_t {
  Cc, Bcc, ExcludeTo, To, From, Sent, Delivered, Replied, Forwarded, Original, Charset,
};

struct DocRecord {
  std::string folder;    // folder path with "/" (for a contact reference: the folder shown)
  std::string title;     // `Title`, or the file name without extension
  std::string name;      // file name, without tag prefix
  std::string prefix;    // tag prefix of the section ("$$$AB.", "$$$LNK.", "$$$...", or "")
  std::string ext;       // extension without the dot as found; "vcf" for contacts; "\x12" group
  DateTime date = 0;     // file date, or `Time` for mail; contacts: now + 100000 days
  uint64_t size = 0;     // bytes (0 for contacts)
  int flags = 0;         // `Flags` (16 bits)
  std::string address;       // `Address`
  std::string shownAddress;  // what the address column shows
  std::string sticker;       // `Sticker`, still encoded
  int icon = 0;              // grid's icon cache: 0 unknown, >0 own icon, <0 system icon
  std::string msgId;         // `MsgID`; contact rows: the row key
  bool selected = false;
  uint8_t rowKind = kRowListed;
  std::string target;        // full path of a link's target entry, else ""
  int searchState = 0;       // rs* bits
  std::string detail;        // contacts: the detail line shown under the name

  // The rarer keys (Cc, Bcc, ... Charset); "" when absent. They are packed into one buffer
  // (a listing holds 100,000 records); a view stays valid until the record's next Set.
  std::string_view Get(DocKey key) const;
  void Set(DocKey key, std::string_view value);
  // Replaces all the rarer keys at once.
  void SetExtras(std::span<const std::pair<DocKey, std::string_view>> values);

  std::string_view cc() const { return Get(DocKey::Cc); }
  std::string_view bcc() const { return Get(DocKey::Bcc); }
  std::string_view excludeTo() const { return Get(DocKey::ExcludeTo); }
  std::string_view to() const { return Get(DocKey::To); }
  std::string_view from() const { return Get(DocKey::From); }
  std::string_view sent() const { return Get(DocKey::Sent); }
  std::string_view delivered() const { return Get(DocKey::Delivered); }
  std::string_view replied() const { return Get(DocKey::Replied); }
  std::string_view forwarded() const { return Get(DocKey::Forwarded); }
  std::string_view original() const { return Get(DocKey::Original); }
  std::string_view charset() const { return Get(DocKey::Charset); }

  // Name of the record's index section (prefix + name).
  std::string SectionName() const { return prefix + name; }
  // Full path of the document file: the link target's file for links, else folder + name.
  std::string FilePath() const;
  bool IsContact() const;   // vcf or address group row
  bool IsLink() const { return prefix == kLinkPrefix; }
  bool IsContactRef() const { return prefix == kContactRefPrefix; }
  bool Visible() const { return (searchState & rsInvisible) == 0; }

private:
  // Entries: key byte, 4-byte length, bytes.
  std::string extras_;
};

using DocRows = std::vector<DocRecord>;

// One selected row as an operation sees it, copied before the operation starts.
struct SelectionRecord {
  std::string folder;
  size_t row = 0;  // index of the row in the listing
  std::string title;
  std::string name;
  std::string prefix;
  std::string ext;
  DateTime date = 0;
  uint64_t size = 0;
  int flags = 0;
  std::string address;
  std::string msgId;
  std::string cc;
  std::string bcc;
  std::string to;
  std::string excludeTo;
  std::string charset;
  std::string sticker;
  std::string target;
};
using Selection = std::vector<SelectionRecord>;

SelectionRecord MakeSelectionRecord(const DocRecord& rec, size_t row);
// The selected rows, in row order.
Selection SnapshotSelection(const DocRows& rows);

// Finds the name of a contact by its lower-case bare address (the address map of all
// contacts). Returns false when the address is not a contact's.
using AddressLookup = std::function<bool(std::string_view bareLower, std::string& contactName)>;

// What the address column shows for an entry: "(LIST)" for outgoing mail with Cc or Bcc and for
// several addresses; else the contact's name when the address map knows the address; else the
// display name of the address.
std::string ShownAddressOf(int flags, std::string_view address, std::string_view cc,
                           std::string_view bcc, const AddressLookup& lookup);
void ComputeShownAddress(DocRecord& rec, const AddressLookup& lookup);

// The extension of a file name without the dot ("" when there is none or the name starts
// with its only dot).
std::string ExtensionOf(std::string_view fileName);
// The file name without its extension.
std::string StripExtension(std::string_view fileName);
// True when title ends in "." + ext (any case) with something before it: an attachment titled
// "att67.xls" already carries the extension its file gets.
bool TitleEndsWithExtension(std::string_view title, std::string_view ext);
// The title without such a trailing "." + ext; other titles unchanged.
std::string TitleWithoutExtension(std::string_view title, std::string_view ext);

}  // namespace px::store
