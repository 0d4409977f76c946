#pragma once
// Opening documents: which way a document opens, the records of documents the desk opened and
// watches (tmrRun), and what happens when one is closed. The rules live here, without widgets;
// DocumentOpener (document_opener.h) carries them out.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace px::platform {
class WindowProbe;
}

namespace px::desk {

enum class OpenRoute {
  Ignore,        // a marker entry: nothing to open
  InternalText,  // ".txt" in the message window's text editor
  InternalHtml,  // ".eml" in the message window's HTML editor
  ContactCard,   // a received vCard: offer to add it to the contacts
  RunProgram,    // the user's own program or desktop entry: run it
  Refuse,        // a program that came as mail: never run
  Associated,    // the type's default application
};

struct OpenRequest {
  std::string ext;        // without the dot, any case
  int flags = 0;          // the entry's Flags
  bool executable = false;  // the file has an execute bit
  bool markerEntry = false;
  // The MIME type is one of the runnable kinds (programs, scripts, desktop entries, installers).
  bool runnableType = false;
};

struct OpenDecision {
  OpenRoute route = OpenRoute::Associated;
  std::string message;  // for Refuse
};

OpenDecision DecideOpen(const OpenRequest& request);

// True for MIME types that run code when "opened" by their default application.
bool IsRunnableMimeType(const std::string& mimeType, const std::vector<std::string>& ancestors);

// A document may be changed where it is when its folder is not restricted, it is not sealed and
// its folder's index has no mail entry (received or outgoing, not pending) for its file.
bool EditableInPlace(bool restrictedFolder, int flags, bool indexHasMailEntry);

// The file's size and modification time, noted when it is opened.
struct FileStamp {
  bool exists = false;
  std::uint64_t size = 0;
  std::int64_t mtimeNs = 0;
  bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);

enum class RecordKind { Document, NewDocument, Sticker, Cover };

struct OpenRecord {
  int id = 0;
  RecordKind kind = RecordKind::Document;
  std::string program;        // shown in messages
  pid_t pid = -1;             // the started program (-1 for the internal editors)
  std::uint32_t window = 0;   // 0 until found
  std::string titleHint;
  int countdown = 20;         // ticks left to find the window
  bool broughtForward = false;
  std::string folder;         // the document's folder, with "/"
  std::string fileName;
  std::string title;
  std::string ext;
  std::string openedPath;     // what the program was given: the document, or its private copy
  FileStamp stamp;            // of openedPath when it was opened
  bool editableInPlace = true;
  bool restrictedFolder = false;
  bool watchWindow = true;    // web types are not watched for a window
  // The program handed the file to an instance already running and ended: the window is not
  // ours to find, so the file itself is watched.
  bool handedOver = false;
  int settleTicks = 0;        // handed over: ticks since the file last changed
  FileStamp lastSeen;
  std::int64_t startedMs = 0;
};

enum class CloseAction {
  Nothing,        // unchanged: drop the private copy (a new document: delete it)
  ShowNewDate,    // changed in place: the row shows its new date
  StoreAsNew,     // changed, but the original may not change: store the changes as a new document
};

struct CloseOutcome {
  CloseAction action = CloseAction::Nothing;
  std::vector<std::string> messages;  // queued in the message window, in order
  bool intoDocumentsFolder = false;   // the document's folder is restricted
};

// What happens when a record's program or editor has closed.
CloseOutcome DecideClose(const OpenRecord& record, const FileStamp& now, const std::string& documentsName);

// The open-document records and the once-a-second watch.
class OpenRecords {
public:
  struct Closed {
    OpenRecord record;
    bool windowNeverFound = false;
  };

  int Add(OpenRecord record);
  bool Empty() const { return records_.empty(); }
  const std::vector<OpenRecord>& Records() const { return records_; }
  const OpenRecord* Find(const std::string& folder, const std::string& fileName) const;
  // The editors of the message window report their own closing.
  std::optional<Closed> CloseInternal(int id);

  // One tick of tmrRun. probe may be null (no window system to ask); poll tells whether a
  // started program still runs (tests pass their own). Returns the records that ended.
  using PollFn = bool (*)(pid_t pid, bool* exitedQuickly, std::int64_t startedMs, std::int64_t nowMs);
  std::vector<Closed> Tick(platform::WindowProbe* probe, std::int64_t nowMs, PollFn poll = nullptr);

private:
  std::vector<OpenRecord> records_;
  int nextId_ = 1;
};

// The hints tmrRun looks for in window titles, in order: the hint, the full path, the file name,
// the file name without its extension.
std::vector<std::string> TitleHints(const OpenRecord& record);

// A sticker note as the editor shows it (UTF-8, "\n" between lines) and the `Sticker` value
// written back (empty text removes the note).
std::string StickerTextForEditing(std::string_view storedValue);
std::string StickerValueFromText(const std::string& text);

// `lp` prints these types as they are; others get the desk's message.
bool LpPrints(const std::string& mimeType, const std::vector<std::string>& ancestors);
std::vector<std::string> PrintCommand(const std::string& path);

}  // namespace px::desk
