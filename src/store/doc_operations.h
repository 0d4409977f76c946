#pragma once
// The document operations: every change the user makes to documents and folders (copy, move,
// rename, retitle, delete, trash, empty the trash, create a folder, store a new file, put into the
// outbox, and the small index edits) runs through DocOperations, which keeps the folder indexes,
// the unread counts, `sent.ini`, the Quickboard references and the sorting rules consistent.
//
// Per document the file and its index entry change together: a file that cannot be moved keeps
// its entry, and when a changed index cannot be saved the documents handled since the last save
// are put back and the error is reported.
#include "foundation/types.h"
#include "store/doc_record.h"
#include "store/op_services.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace px::store {

struct OpContext;

enum DocOpCode : int {
  opCreateFolder = 1,
  opStoreCopy = 2,
  opCopy = 3,
  opMove = 4,
  opRename = 5,
  opSetTitle = 6,
  opStoreMove = 7,
  opOutbox = 8,
  opWriteFlags = 9,
  opWriteCharset = 10,
  opDelete = 11,
  opDeleteFolder = 12,
  opWriteSticker = 13,
  opUpdateContact = 14,
  opCreateContact = 15,
  opStampContact = 16,
};

// Key of an entry in the trash: the folder the document (or folder) was thrown away from.
inline constexpr std::string_view kTrashOriginKey = "TrashedFrom";

// The folder an entry of the trash came from ("" when the index does not know it). section is
// the document's section name (a folder's is its name + ".").
std::string TrashOriginOf(IniRegistry& registry, const std::string& trashFolder, const std::string& section);

// The current item of an operation: one selected row plus what the operation needs.
struct OpItem {
  std::string folder;       // source folder ("/" at the end)
  std::string name;         // file name (for a folder: its name), without tag prefix
  std::string prefix;       // tag prefix of the index section
  std::string title;
  std::string ext;          // extension without the dot ("" for folders)
  int flags = 0;
  std::string address, cc, bcc, to, excludeTo, msgId, charset, sticker;
  DateTime date = 0;
  size_t row = 0;
  std::string refFolder;    // the folder showing the row (differs for links and contact refs)
  std::string refPrefix;    // the row's own prefix ("$$$AB.", "$$$LNK.")

  std::string targetFolder;  // copy, move, store, create folder
  std::string sourceFile;    // store (codes 2, 7): the file to take
  // Store (code 2): a file placed by the user (a drop, a paste, Duplicate) asks when its name
  // is taken, as code 7 always does; copies made by the program (mail, notes) never ask.
  bool askOnCollision = false;
  // Store: the index entry the new document takes a copy of (Duplicate), "" for none.
  std::string entryFolder, entrySection;
  std::string newTitle;      // rename (code 5)
  std::string addresses;     // contacts (codes 14, 15): further addresses, ", " joined
  // Outbox (code 8).
  std::string seriesId;      // MsgID to give; RunOnSelection fills it
  DateTime time = 0;         // compose time (0: now)
  bool encrypt = false;
  bool draft = false;
  bool reuseSection = false; // a message being sent from the compose window, or a card
  std::string original;      // "R," / "F," + path of the message answered or forwarded
  std::string from;          // the sender chosen in the compose window ("" = the own address)
  std::string dropAddress;   // pending message: address dropped on it
  bool removeAddress = false;  // pending message: remove dropAddress instead of adding it
  std::vector<std::string> dropMembers;  // dropAddress is a group: its members' addresses
  // A child row selected without its message: the message's title and text become its sticker
  // when it is copied or moved.
  bool orphanAttachment = false;
  std::string messageTitle, messageText, messageCharset;

  std::string Path() const { return folder + name; }
  std::string Section() const { return prefix + name; }
};

// The current item made from a selected row: a link is resolved to its target, a contact
// reference to the contacts folder.
OpItem ItemFromSelection(const SelectionRecord& rec, const std::string& contactsFolder);

// Marks the items that are attachments selected without their message (a part 2 or higher
// whose part 1 is among rows but not selected) and gives them the message's title, charset
// and text, read from the message's file (at most 64 KB of it).
void MarkOrphanAttachments(const DocRows& rows, std::vector<OpItem>& items);

// The sticker an attachment gets when it leaves its message.
std::string AttachmentSticker(std::string_view messageTitle, std::string_view messageText,
                              std::string_view charset);

// Rename refusal of the desk: the text to show when the cleaned new name already exists as
// another file or folder, "" when the rename may go ahead.
// newTitle is the edited text (UTF-8).
std::string RenameRefusal(const std::string& folder, std::string_view currentName,
                          std::string_view newTitle, std::string_view ext);

// Titles are stored in the entry's charset and edited in UTF-8: the text a name dialog shows
// for an item, and the edited text turned back into what opRename takes as newTitle (the
// entry's own bytes when the text was left as it was).
std::string EditableTitle(const OpItem& it);
// Duplicate: operation 2 storing a copy of the document it beside it under the edited title
// (UTF-8, kept in the document's charset); the copy gets a free name.
OpItem DuplicateItem(const OpItem& it, const std::string& utf8Title);
std::string EditedTitle(const OpItem& it, const std::string& utf8);

class DocOperations {
public:
  // The collaborators must outlive the operations.
  DocOperations(OpServices services, OpCollaborators collaborators);
  ~DocOperations();
  DocOperations(const DocOperations&) = delete;
  DocOperations& operator=(const DocOperations&) = delete;

  // RunDocOperation: runs code on one item; after runs when it succeeded. The item is updated to
  // where the document now is (folder, name, prefix, title). Returns success.
  bool RunDocOperation(int code, OpItem& item, const std::function<void()>& after = {});

  // RunOnSelection: runs code on every item, keeping the indexes involved open (read once) and
  // the collision choice for the whole run. perItem runs after each item (with its success);
  // after runs once at the end when no item failed. Returns the number of items that succeeded.
  size_t RunOnSelection(int code, std::vector<OpItem>& items,
                        const std::function<void(OpItem&, bool ok)>& perItem = {},
                        const std::function<void()>& after = {});

  // How many items the last run skipped because the user cancelled a collision.
  size_t Skipped() const { return skipped_; }
  const OpServices& Services() const { return svc_; }
  const OpCollaborators& Collaborators() const { return co_; }

private:
  bool RunOne(OpContext& cx, int code, OpItem& item);
  bool Checkpoint(OpContext& cx);

  OpServices svc_;
  OpCollaborators co_;
  size_t skipped_ = 0;
};

}  // namespace px::store
