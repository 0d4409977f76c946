#include "desk/grid_zones.h"

#include <array>

namespace px::desk {

namespace {

// Left, top, right, bottom per zone, encoded as described at DecodeZoneX / DecodeZoneY.
constexpr std::array<std::array<int, 4>, kZoneCount> kZoneTable = {{
    {0, 0, 0, 0},
    {0, 1109, 20, 1129},
    {22, 1109, 42, 1129},
    {44, 1113, 56, 1125},
    {58, 1113, 70, 1125},
    {71, 1, 3334, -1},
    {3335, 1, 2201, -1},
    {4446, 1, 2201, -1},
    {2202, 1, 2223, -1},
    {2224, 1, -1, -1},
}};

}  // namespace

ZoneFrame MakeZoneFrame(const GridColumns& cols, int rowHeight) {
  ZoneFrame f;
  f.rowWidth = cols.G;
  f.rowHeight = rowHeight;
  f.nameEndFiles = cols.nameFiles;
  f.nameEndTab = cols.N;
  f.addressStart = cols.A;
  return f;
}

// Above 4000: from the files tab's name end; above 3000: from the shown tab's name end;
// above 2000: from the address start; negative: from the right edge.
int DecodeZoneX(int v, const ZoneFrame& f) {
  if (v > 4000) return f.nameEndFiles + (v - 4444);
  if (v > 3000) return f.nameEndTab + (v - 3333);
  if (v > 2000) return f.addressStart + (v - 2222);
  if (v < 0) return f.rowWidth + v;
  return v;
}

// Above 1000: from the top of the 16-pixel icon line centred in the row; negative: from the
// bottom edge.
int DecodeZoneY(int v, const ZoneFrame& f) {
  if (v > 1000) return (f.rowHeight - 16) / 2 + (v - 1111);
  if (v < 0) return f.rowHeight + v;
  return v;
}

ZoneRect ZoneRectOf(int zone, const ZoneFrame& frame) {
  if (zone <= 0 || zone >= kZoneCount) return {};
  const auto& z = kZoneTable[zone];
  return {DecodeZoneX(z[0], frame), DecodeZoneY(z[1], frame), DecodeZoneX(z[2], frame),
          DecodeZoneY(z[3], frame)};
}

bool ZoneActive(int zone, const ZoneRowFacts& r) {
  const bool files = r.tab == GridTab::Files;
  const bool contacts = r.tab == GridTab::Contacts;
  const bool tools = r.tab == GridTab::Tools;
  switch (zone) {
    case gzTypeIcon:
      return !(contacts && r.isChild);
    case gzExpander:
      if (files) return (r.hasChildren && !r.isChild) || r.pendingNonMessage;
      if (contacts) return r.hasChildren;
      return false;
    case gzSticker:
    case gzDateSize:
      return files && !r.isContact;
    case gzColour:
    case gzName:
      return !tools && !(contacts && r.isChild);
    case gzDetail:
      return contacts && r.hasDetail;
    case gzMailKind:
      if (files) return r.selected && r.pending;
      if (contacts) return r.handHoldsSnapshotOrSticker && r.selected && r.recipientKindSet;
      return false;
    case gzAddress:
      return !tools && r.hasAddress;
    default:
      return false;
  }
}

int HitZone(int x, int y, const ZoneFrame& frame, const ZoneRowFacts& row) {
  for (int zone = 1; zone < kZoneCount; ++zone) {
    // Zones 6 and 7 cover the same stretch on different tabs: the active one wins.
    if (ZoneRectOf(zone, frame).contains(x, y) && ZoneActive(zone, row)) return zone;
  }
  return gzNone;
}

}  // namespace px::desk
