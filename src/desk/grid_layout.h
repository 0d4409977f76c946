#pragma once
// Geometry of the document grid: header sections, the column boundaries the rows are drawn
// against, row heights, and the conversion of a user's header resize into the per-mille
// width settings. Pure arithmetic over pixel sizes handed in by the widget.
#include "desk/grid_tab.h"

#include <array>
#include <vector>

namespace px::desk {

// The per-mille column settings (of the file panel's width).
struct ColumnWidths {
  int fileAddress = 200;     // FileAddressWidth
  int contactAddress = 200;  // ContactAddressWidth
  int contactPhone = 250;    // ContactPhoneWidth
};

inline constexpr int kMinPerMille = 100;
inline constexpr int kMaxPerMille = 500;
inline constexpr int kMinNameWidth = 100;      // "Name" on the files tab
inline constexpr int kMinContactColumn = 50;   // "Last Name" and "Phone Numbers"

// Settings read from User.ini are clamped to 100..500.
int ClampPerMille(int v);
ColumnWidths ClampWidths(ColumnWidths w);

struct GridGeometryInput {
  GridTab tab = GridTab::Files;
  int panelWidth = 0;       // width of the file panel
  int scrollBarWidth = 0;   // width of the scroll bar
  bool scrollBarVisible = false;
  int dateTextWidth = 0;    // width of the sample date in the grid font, bold italic
  // Width of the widest size text ("999.9 MB"): the files tab shows sizes in a column of their
  // own before the date. 0: one column shows the date or the size.
  int sizeTextWidth = 0;
  ColumnWidths widths;
};

// Header sections and the x positions rows are drawn against.
struct GridColumns {
  int P = 0;        // panel width - 2
  int G = 0;        // grid width
  int A = 0;        // start of the address column - 1
  int N = 0;        // end of the name column(s)
  int nameFiles = 0;  // end of the files tab's name column (zone encoding 4000+)
  int sizeColumn = 0; // width of the size column that precedes the date (0: none)
  std::vector<int> sections;  // widths of the header sections, in order
};

GridColumns ComputeColumns(const GridGeometryInput& in);

// Section indexes of the two headers.
enum FileSection { fsType = 0, fsColour, fsName, fsSize, fsDate, fsMailKind, fsAddress };
enum ContactSection { csIcon = 0, csFirst, csLast, csPhone, csAddress };

// Sort codes of the header sections.
inline constexpr std::array<int, 7> kFileSectionCodes = {3, 5, 4, 7, 1, 6, 2};
inline constexpr std::array<int, 5> kContactSectionCodes = {4, 4, 4, 4, 2};

// The user dragged section `section` to `newWidth` pixels. Returns the settings after the
// resize. Every value stays within 100..500 per mille and the resized columns never shrink
// below their minimum widths, however far the user drags; sections that cannot be resized
// leave the settings unchanged.
ColumnWidths ApplySectionResize(const GridGeometryInput& in, int section, int newWidth);

// Row and header heights from the text height of "Ag" in the respective fonts.
struct GridHeights {
  int header = 0;
  int tabs = 0;
  int row = 0;
  int rowsShown = 0;
};
GridHeights ComputeHeights(int headerTextHeight, int tabTextHeight, int gridTextHeight,
                           int panelHeight, bool showTabs);

}  // namespace px::desk
