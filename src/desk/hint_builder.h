#pragma once
// The information pop-up (TfrmHint) as a model: what it says when the pointer rests on a zone
// of a grid row or on a folder of a tree, the preview of a document's text, the two-column
// layout, and where the window goes and what is cut when it does not fit. The window
// (desk/ui/frm_hint) only draws the result.
#include "desk/grid_tab.h"
#include "foundation/types.h"
#include "store/doc_record.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace px::desk {

// The preview reads at most this much of a document, and keeps at most this many lines.
inline constexpr size_t kPreviewMaxBytes = 64 * 1024;
inline constexpr size_t kPreviewMaxLines = 100;
// Time the pointer rests on a zone before the pop-up shows.
inline constexpr int kHintDelayMs = 500;

struct HintLine {
  std::string head;  // the label column ("From: "), "" for a continued or plain line
  std::string text;
};

struct HintContent {
  std::vector<HintLine> lines;  // the information panel
  std::string sticker;          // the sticker panel ("" hides it)
  bool gridInfo = false;        // Tag 2: information about the document, not a click's action
  // A document whose text the preview shows: read by FinishHint, on a worker.
  std::string previewPath;
  std::string previewCharset;
  bool previewMessage = false;  // a stored message (.eml, .mht): its text, not its bytes
  bool Empty() const { return lines.empty() && sticker.empty() && previewPath.empty(); }
};

// What the pop-up needs to know about the desk.
struct HintEnvironment {
  GridTab tab = GridTab::Files;
  bool showPreview = true;   // `Show Preview`
  bool showSize = false;     // `Show Size`
  bool dragging = false;     // documents in hand
  std::string ownId;
  // Card summary of a contact row or of a known address ("" when unknown), lines by "\n".
  std::function<std::string(const store::DocRecord&)> contactSummary;
  std::function<std::string(std::string_view address)> summaryOfAddress;
  // Members of an address group, and the expansion of groups in a recipient list.
  std::function<StringList(const store::DocRecord&)> groupMembers;
  std::function<std::string(std::string_view list, std::string_view exclude)> expandGroups;
  // The type's description for a file (the MIME type's comment); "" when unknown.
  std::function<std::string(const std::string& path)> typeName;
  // A date in the locale's short date and time formats.
  std::function<std::string(DateTime)> formatDate;
};

// The content for a zone (1-9 of GridZone) of a row. Reads no document: a preview is left
// to FinishHint.
HintContent BuildHint(int zone, const store::DocRecord& r, const HintEnvironment& env);
// Reads the preview the content asks for (on a worker: the window shows the result only when
// the pointer is still there). False when cancelled.
bool FinishHint(HintContent& c, const std::atomic<bool>* cancelled = nullptr);

// The first lines of a plain document: at most kPreviewMaxBytes read, kPreviewMaxLines kept,
// trailing empty lines removed, converted from charset (or guessed) to UTF-8. A binary file,
// one in UTF-16 (by charset or byte-order mark) and an unreadable one give "". A line longer
// than 400 characters is cut with " ...". `cancelled` is looked at while reading.
std::string ReadPreview(const std::string& path, std::string_view charset,
                        const std::atomic<bool>* cancelled = nullptr);
// The text of a stored message (.eml, .mht) for the preview, on the same limits.
std::string ReadMessagePreview(const std::string& path, const std::atomic<bool>* cancelled = nullptr);

// "999 bytes" below 1000, else (size + 500) div 1000 + "K".
std::string HintSize(uint64_t size);
// History records ("date time recipients,..."), one line each from the template with %1 the
// date and %2 the recipients ("the recepient" when none).
std::vector<std::string> HistoryLines(std::string_view value, std::string_view tmpl,
                                      const std::function<std::string(DateTime)>& formatDate,
                                      bool displayNames);
// A `Sent` value with a trailing offset shown as "(UTC+0100)".
std::string SentText(std::string_view sent);
// Splits a text into the two columns: a line not starting with '"' or '<' that holds ": " is
// cut after it.
std::vector<HintLine> SplitColumns(std::string_view text);

// Where the window goes and how much of it stays.
struct HintPlacement {
  int x = 0, y = 0;
  size_t infoLines = 0;     // lines of the information panel kept
  size_t stickerLines = 0;  // lines of the sticker panel kept
  bool cut = false;         // "..." is added to the last panel that lost lines
};
struct HintGeometry {
  int rowTop = 0, rowBottom = 0;  // the row, in screen coordinates
  int left = 0;                   // wanted left edge
  int width = 0;                  // the window's width
  int lineHeight = 16;
  int frame = 8;                  // the window's padding, top and bottom together
  size_t infoLines = 0, stickerLines = 0;
  int workTop = 0, workBottom = 0, workLeft = 0, workRight = 0;
  bool raise = false;             // zones 1-4 while dragging: above the row
};
HintPlacement PlaceHint(const HintGeometry& g);

// The content cut to the placement: lines dropped from the end of the sticker (to five) and
// then of the information panel, " ..." marking the cut.
void CutHint(HintContent& c, const HintPlacement& p);

}  // namespace px::desk
