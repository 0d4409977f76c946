#pragma once
// The grid's keyboard, as in any item view with extended selection: the keyboard's current row
// is its own (the pointer's hot row is only a highlight); arrows move it and select it alone,
// Shift extends the selection from the anchor, Ctrl moves without selecting, Space toggles the
// current row and Enter opens the selected row.
#include "desk/grid_model.h"

namespace px::desk {

enum class GridKey { Up, Down, PageUp, PageDown, Home, End, Space, Enter };

// Visible rows; -1 for none.
struct GridCursor {
  int current = -1;
  int anchor = -1;
};

struct GridKeyOutcome {
  bool selectionChanged = false;
  int open = -1;  // the record Enter opens
};

GridKeyOutcome ApplyGridKey(GridModel& model, GridCursor& cursor, GridKey key, bool shift, bool ctrl,
                            int pageRows);

}  // namespace px::desk
