#pragma once
// The click zones of a grid row: which rectangle of a row is the type icon, the expander, the
// marks, the name, the date, the mail-kind icon and the address, when each is active, and
// which zone a point falls into.
#include "desk/grid_layout.h"

namespace px::desk {

enum GridZone {
  gzNone = 0,
  gzTypeIcon = 1,
  gzExpander = 2,   // expander of a parent, or the pending mark of a pending document
  gzSticker = 3,
  gzColour = 4,
  gzName = 5,
  gzDetail = 6,     // contact detail line
  gzDateSize = 7,
  gzMailKind = 8,
  gzAddress = 9,
};
inline constexpr int kZoneCount = 10;

struct ZoneRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool empty() const { return right <= left || bottom <= top; }
};

// What the encoded zone coordinates count from.
struct ZoneFrame {
  int rowWidth = 0;
  int rowHeight = 0;
  int nameEndFiles = 0;  // N of the files tab (values above 4000)
  int nameEndTab = 0;    // N of the tab shown (values above 3000)
  int addressStart = 0;  // A (values above 2000)
};
ZoneFrame MakeZoneFrame(const GridColumns& cols, int rowHeight);

// The rectangle of a zone in row coordinates.
ZoneRect ZoneRectOf(int zone, const ZoneFrame& frame);
// Decoding of one stored coordinate (exposed for tests).
int DecodeZoneX(int v, const ZoneFrame& f);
int DecodeZoneY(int v, const ZoneFrame& f);

// The facts about a row (and the desk) that decide which zones are active.
struct ZoneRowFacts {
  GridTab tab = GridTab::Files;
  bool hasChildren = false;       // row state 2
  bool isChild = false;           // row state 4
  bool isContact = false;         // contact or address group
  bool pendingNonMessage = false; // pending outgoing (0x0400) and not a message extension
  bool hasDetail = false;         // contacts: a detail line
  bool selected = false;
  bool pending = false;           // flags 0x0400
  bool hasAddress = false;
  bool recipientKindSet = false;  // contacts: marked row with a recipient kind
  bool handHoldsSnapshotOrSticker = false;
};

bool ZoneActive(int zone, const ZoneRowFacts& row);

// The active zone under (x, y) in row coordinates, or gzNone.
int HitZone(int x, int y, const ZoneFrame& frame, const ZoneRowFacts& row);

}  // namespace px::desk
