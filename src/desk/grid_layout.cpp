#include "desk/grid_layout.h"

#include <algorithm>

namespace px::desk {

int ClampPerMille(int v) { return std::clamp(v, kMinPerMille, kMaxPerMille); }

ColumnWidths ClampWidths(ColumnWidths w) {
  w.fileAddress = ClampPerMille(w.fileAddress);
  w.contactAddress = ClampPerMille(w.contactAddress);
  w.contactPhone = ClampPerMille(w.contactPhone);
  return w;
}

GridColumns ComputeColumns(const GridGeometryInput& in) {
  GridColumns c;
  const int sb = in.scrollBarVisible ? in.scrollBarWidth : 0;
  c.P = in.panelWidth - 2;
  c.G = c.P - sb;
  const bool contacts = in.tab == GridTab::Contacts;
  const int addrW = contacts ? in.widths.contactAddress : in.widths.fileAddress;
  c.A = (1000 - addrW) * c.P / 1000 + sb;
  const int w = in.dateTextWidth;
  c.nameFiles = c.A - w - 37;
  if (!contacts && in.sizeTextWidth > 0) {
    c.sizeColumn = in.sizeTextWidth + 12;
    c.nameFiles -= c.sizeColumn;
    c.N = c.nameFiles;
    c.sections = {21, 50, c.A - w - 107 - c.sizeColumn, c.sizeColumn, w + 16, 21, c.G - c.A - 1};
  } else if (!contacts) {
    c.N = c.nameFiles;
    const int size = (w + 17) / 2;
    c.sections = {21, 50, c.A - w - 107, size, w + 16 - size, 21, c.G - c.A - 1};
  } else {
    const int phone = in.widths.contactPhone * c.P / 1000;
    c.N = c.A - phone;
    const int first = (c.N - 74) / 2;
    c.sections = {71, first, c.N - first - 70, phone, c.G - c.A - 1};
  }
  return c;
}

namespace {

int PixelsToPerMille(int pixels, int P) { return P > 0 ? pixels * 1000 / P : 0; }

bool FitsMinimums(const GridGeometryInput& in, const ColumnWidths& w) {
  GridGeometryInput probe = in;
  probe.widths = w;
  const GridColumns c = ComputeColumns(probe);
  if (in.tab == GridTab::Contacts)
    return c.sections[csLast] >= kMinContactColumn && c.sections[csPhone] >= kMinContactColumn;
  return c.sections[fsName] >= kMinNameWidth;
}

}  // namespace

ColumnWidths ApplySectionResize(const GridGeometryInput& in, int section, int newWidth) {
  const ColumnWidths old = ClampWidths(in.widths);
  GridGeometryInput base = in;
  base.widths = old;
  const GridColumns cur = ComputeColumns(base);
  if (section < 0 || section >= static_cast<int>(cur.sections.size())) return old;
  const int delta = PixelsToPerMille(newWidth - cur.sections[section], cur.P);
  ColumnWidths w = old;
  if (in.tab == GridTab::Files) {
    if (section != fsName) return old;
    w.fileAddress = ClampPerMille(old.fileAddress - delta);
    // A narrower name gives to the address column only as far as the name stays usable.
    while (!FitsMinimums(in, w) && w.fileAddress != old.fileAddress)
      w.fileAddress += (w.fileAddress > old.fileAddress) ? -1 : 1;
    return w;
  }
  if (in.tab != GridTab::Contacts) return old;
  if (section == csLast) {
    w.contactPhone = ClampPerMille(old.contactPhone - delta);
    // Narrowing "Last Name" widens the phone column: stop where "Last Name" hits its minimum.
    while (!FitsMinimums(in, w) && w.contactPhone != old.contactPhone)
      w.contactPhone += (w.contactPhone > old.contactPhone) ? -1 : 1;
    return w;
  }
  if (section == csPhone) {
    // Address and phone move by the same amount, so the step is limited by both ranges.
    int d = delta;
    d = std::min(d, old.contactAddress - kMinPerMille);
    d = std::min(d, kMaxPerMille - old.contactPhone);
    d = std::max(d, old.contactAddress - kMaxPerMille);
    d = std::max(d, kMinPerMille - old.contactPhone);
    auto with = [&](int step) {
      ColumnWidths t = old;
      t.contactAddress = old.contactAddress - step;
      t.contactPhone = old.contactPhone + step;
      return t;
    };
    while (d != 0 && !FitsMinimums(in, with(d))) d += d > 0 ? -1 : 1;
    return with(d);
  }
  return old;
}

GridHeights ComputeHeights(int headerTextHeight, int tabTextHeight, int gridTextHeight,
                           int panelHeight, bool showTabs) {
  GridHeights h;
  h.header = headerTextHeight + 4;
  h.tabs = showTabs ? tabTextHeight + 5 : 0;
  h.row = std::max(gridTextHeight + 4, 24);
  h.rowsShown = std::max(0, (panelHeight - h.header - h.tabs) / h.row);
  return h;
}

}  // namespace px::desk
